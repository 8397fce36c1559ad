// The compact snapshot stream, an extension that a client and a server of
// this version agree on (the server lists it in its info answer, the client
// joins with a CompactJoin): numbered snapshots, each coded against the newest
// one the client acknowledged. Both ends keep the same model of every object
// and player (quantised position, velocity, orientation, turn per world step,
// size, growth) and predict it to the snapshot's world step, so steady motion
// costs nothing; the server sends a correction only where the prediction
// leaves the accuracy bounds. What remains is compressed with zstd and split
// into datagrams of at most COMPACT_MAX_DATAGRAM bytes.
//
// Pure computation: no sockets, no locks, no clocks. Decoders never read or
// write out of bounds and apply nothing from a datagram that is not whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/protocol.h"
#include "protocol/zbx_types.h"

namespace zbx {

inline constexpr int COMPACT_VERSION = 1;

// Client to server. A CompactJoin is a JoinRequest with a tag behind it: 24
// bytes, a length that a server of the first games ignores.
inline constexpr std::size_t COMPACT_JOIN_SIZE = 24;
// Acknowledges the newest snapshot applied, or asks for a key snapshot.
inline constexpr std::size_t COMPACT_ACK_SIZE = 8;
// Server to client: the first byte of every compact datagram (a snapshot
// parser of the first games stops at once on it).
inline constexpr std::uint8_t COMPACT_MAGIC = 0xC5;
inline constexpr std::size_t COMPACT_MAX_DATAGRAM = 1400;
inline constexpr std::size_t COMPACT_HEADER_SIZE = 25;
inline constexpr std::size_t COMPACT_FRAGMENT_DATA = COMPACT_MAX_DATAGRAM - COMPACT_HEADER_SIZE;
inline constexpr int COMPACT_MAX_FRAGMENTS = 64;
// Largest snapshot body a decoder inflates.
inline constexpr std::size_t COMPACT_MAX_BODY = 256 * 1024;
// Snapshots the server keeps per client as baselines, and the client keeps.
inline constexpr int COMPACT_SERVER_RING = 16;
inline constexpr int COMPACT_CLIENT_RING = 32;

// Accuracy of what a client holds against the server's values.
inline constexpr float COMPACT_POSITION_BOUND = 0.0005f;    // world units, after wrap-around
inline constexpr float COMPACT_ORIENTATION_BOUND = 0.001f;  // per matrix component
inline constexpr float COMPACT_SIZE_BOUND = 0.0005f;

void encode_compact_join(const char* name, std::uint8_t out[COMPACT_JOIN_SIZE]);
bool is_compact_join(const std::uint8_t* data, std::size_t length);
// The JoinReply to a CompactJoin says in its reserved bytes that the compact
// stream follows (a server with the extension off answers with a plain one).
void mark_compact_join_reply(std::uint8_t reply[JOIN_REPLY_SIZE]);
bool is_compact_join_reply(const std::uint8_t reply[JOIN_REPLY_SIZE]);

struct CompactAck {
  std::uint32_t sequence = 0;  // newest snapshot applied, 0: none
  bool wantKey = false;        // no usable baseline: send a key snapshot
};
void encode_compact_ack(const CompactAck& ack, std::uint8_t out[COMPACT_ACK_SIZE]);
bool decode_compact_ack(const std::uint8_t* data, std::size_t length, CompactAck& ack);

bool is_compact_datagram(const std::uint8_t* data, std::size_t length);
// Writes the check a datagram carries of its other bytes (the encoder does;
// tests and fuzz targets make their own datagrams whole with it).
void seal_compact_datagram(std::uint8_t* data, std::size_t length);

// One world moment as one client sees it, in the terms of the snapshot
// messages, plus what the server knows of the motion to come.
struct FrameObject {
  bool present = false;
  ObjectMessage message;
  Vector3f velocity;  // added to the position every world step
  Vector3f spin;      // degrees per world step about the own x, y, z axes, in that order
  float growth = 0;   // added to the size every world step
};
struct FramePlayer {
  bool present = false;
  PlayerMessage message;  // orientation as the receiver gets it
  Vector3f velocity;
  Vector3f spin;  // degrees per world step, 0 while the ship cannot turn
};
struct CompactFrame {
  std::uint32_t step = 0;  // world steps since the server's game began
  std::int8_t matchRunning = 0;
  std::array<FrameObject, MAX_OBJECTS> objects;
  std::array<FramePlayer, MAX_PLAYERS> players;
  std::vector<SoundEventMessage> sounds;
};

// What both ends hold of one slot; exact integers, so both predict the same.
struct EntityModel {
  std::uint8_t present = 0;
  std::uint8_t kind = 0;
  std::uint8_t matrix = 0;                    // orientation as nine values, not a rotation
  std::uint32_t step = 0;                     // world step the values are for
  std::array<std::uint32_t, 3> position{};    // the axis as a circle of 2^32
  std::array<std::int32_t, 3> velocity{};     // per step, same units
  std::array<std::int32_t, 9> orientation{};  // quaternion (Q30, first four) or rows (Q24)
  std::array<std::int32_t, 3> turn{};         // rotation vector per step, radians Q24
  std::int32_t size = 0;                      // Q16
  std::int32_t growth = 0;                    // per step, Q24
};
struct PlayerExtras {
  std::int32_t score = 0, lives = 0, shield = 0, armor = 0;
  std::uint8_t shieldActive = 0, hit = 0, alive = 0, nukes = 0, warps = 0, warping = 0;
  std::array<char, NAME_SIZE> name{};
};
struct WorldModel {
  std::uint32_t step = 0;
  std::int8_t matchRunning = 0;
  std::array<EntityModel, MAX_OBJECTS> objects{};
  std::array<EntityModel, MAX_PLAYERS> players{};
  std::array<PlayerExtras, MAX_PLAYERS> extras{};
};

// The frame a model gives at its step (sounds left empty). `receiver` is the
// client's own slot: every other ship's orientation is sent inverted.
void evaluate_model(const WorldModel& model, float worldWidth, int receiver, CompactFrame& out);

// Sends one datagram; false when the send failed.
using CompactSender = bool (*)(void* context, const std::uint8_t* data, std::size_t length);

// The server's side for one client.
class CompactEncoder {
 public:
  CompactEncoder(float worldWidth, int receiver);
  // Codes the frame against the newest acknowledged snapshot still kept (a
  // key snapshot when there is none) and sends it. False after a failed send.
  bool send(const CompactFrame& frame, CompactSender sender, void* context);
  // An acknowledgement from the client; ones for snapshots never sent or no
  // longer kept change nothing.
  void acknowledge(const CompactAck& ack);
  std::uint32_t last_sent() const { return sequence_; }
  std::uint32_t baseline() const { return acked_; }
  // Totals since construction, for benchmarks.
  std::size_t bytes_sent() const { return bytes_; }
  std::size_t key_snapshots() const { return keys_; }

 private:
  struct Kept {
    std::uint32_t sequence = 0;
    WorldModel model;
  };
  float worldWidth_;
  int receiver_;
  std::uint32_t sequence_ = 0;
  std::uint32_t acked_ = 0;
  std::unique_ptr<std::array<Kept, COMPACT_SERVER_RING>> ring_;
  std::unique_ptr<WorldModel> next_;  // the snapshot being coded
  std::vector<std::uint8_t> body_, packed_, datagram_;
  std::size_t bytes_ = 0, keys_ = 0;
};

// The client's side.
class CompactDecoder {
 public:
  CompactDecoder(float worldWidth, int receiver);
  enum class Result {
    Ignored,   // a fragment of a snapshot not yet whole, or one older than applied
    Applied,   // `frame` holds the new snapshot
    Rejected,  // damaged or against a baseline not held: ask for a key snapshot
  };
  // Takes one datagram; on Applied, frame (with the snapshot's sounds) is
  // the world to show. ack() is what to send back now.
  Result accept(const std::uint8_t* data, std::size_t length, CompactFrame& frame);
  CompactAck ack() const;
  std::uint32_t applied() const { return applied_; }

 private:
  struct Kept {
    std::uint32_t sequence = 0;
    WorldModel model;
  };
  struct Partial {
    std::uint32_t sequence = 0;
    std::uint32_t baseline = 0;
    std::uint32_t step = 0;
    std::uint8_t count = 0;
    std::uint8_t encoding = 0;
    std::uint32_t size = 0;
    std::uint64_t have = 0;  // fragments arrived, one bit each
    std::vector<std::uint8_t> bytes;
  };
  Result finish(Partial& partial, CompactFrame& frame);
  float worldWidth_;
  int receiver_;
  std::uint32_t applied_ = 0;
  bool wantKey_ = true;
  std::unique_ptr<std::array<Kept, COMPACT_CLIENT_RING>> ring_;
  std::array<Partial, 4> partial_;
  std::vector<std::uint8_t> body_;
  std::unique_ptr<WorldModel> scratch_;
};

}  // namespace zbx
