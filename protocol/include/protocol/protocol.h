// The wire protocol between client and server: every datagram and snapshot
// message layout, encoded and decoded in one place. Pure byte handling, no
// sockets, no locks. Snapshot integers and floats are little-endian; the
// JoinReply's integers are big-endian and its float little-endian.
//
// Safety: decoders never read past the bytes they are given, the snapshot
// parser never hands on a slot, kind or sound number outside the tables, and
// no encoder or decoder passes on a float that is not finite (it becomes 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/zbx_types.h"

namespace zbx {

inline constexpr std::size_t PROBE_SIZE = 1;
inline constexpr std::uint8_t PROBE_BYTE = 0x20;
inline constexpr std::size_t JOIN_REQUEST_SIZE = 20;
inline constexpr std::size_t KEY_EVENT_SIZE = 1;
inline constexpr std::size_t KEY_STATE_SIZE = 16;
inline constexpr std::size_t JOIN_REPLY_SIZE = 20;
inline constexpr std::size_t QUIT_ACK_SIZE = 1;
inline constexpr std::uint8_t QUIT_ACK_BYTE = 0x00;
inline constexpr std::size_t NAME_SIZE = 20;  // 19 characters and a NUL

// Snapshot message type bytes.
inline constexpr std::uint8_t MSG_PRESENCE = 0;
inline constexpr std::uint8_t MSG_PLAYER = 1;
inline constexpr std::uint8_t MSG_OBJECT = 2;
inline constexpr std::uint8_t MSG_SOUND_EVENT = 3;

inline constexpr std::size_t PRESENCE_MESSAGE_SIZE = 546;
inline constexpr std::size_t PLAYER_MESSAGE_SIZE = 109;
inline constexpr std::size_t OBJECT_MESSAGE_SIZE = 61;
inline constexpr std::size_t SOUND_EVENT_MESSAGE_SIZE = 17;

inline constexpr std::size_t DATAGRAM_BUFFER_SIZE = 2048;
// Largest PACKET_SIZE that keeps the last datagram within the buffer.
inline constexpr int MAX_PACKET_SIZE = 1502;
static_assert(MAX_PACKET_SIZE + PRESENCE_MESSAGE_SIZE == DATAGRAM_BUFFER_SIZE);

// PACKET_SIZE as it is used: brought into 1..MAX_PACKET_SIZE.
int clamp_packet_size(int packet_size);

// Bytes 0..19 of the JoinReply; the 16-bit fields carry the low 16 bits.
struct JoinReply {
  int gameType = 0;
  int maxPlayers = 0;
  int slot = 0;
  float worldWidth = 0;
  int maxShield = 0;
  int maxArmor = 0;
};
void encode_join_reply(const JoinReply& reply, std::uint8_t out[JOIN_REPLY_SIZE]);
JoinReply decode_join_reply(const std::uint8_t in[JOIN_REPLY_SIZE]);

// JoinRequest: the name in a 20-byte field. Encoding copies at most 19
// characters and pads with NULs; decoding always yields a NUL-terminated name
// (the 20th byte is dropped).
void encode_join_request(const char* name, std::uint8_t out[JOIN_REQUEST_SIZE]);
void decode_join_request(const std::uint8_t in[JOIN_REQUEST_SIZE], char name[NAME_SIZE]);

// A decoded KeyEvent byte as the server reads it.
struct KeyEvent {
  bool valid = false;  // false: the byte does nothing
  int control = 0;     // 1..111 (ids above 17 do nothing)
  bool pressed = false;
};
// The byte for a press (id + 16) or a release (id).
std::uint8_t encode_key_event(int control, bool pressed);
KeyEvent decode_key_event(std::uint8_t byte);

struct ObjectMessage {
  int kind = 0;
  int slot = 0;
  Vector3f position;
  float size = 0;
  Matrix3f orientation{};
};

struct PlayerMessage {
  int slot = 0;
  int score = 0;
  int lives = 0;
  std::uint8_t shieldActive = 0;
  int shield = 0;        // own
  int armor = 0;         // own
  std::uint8_t hit = 0;  // own
  std::uint8_t alive = 0;
  std::uint8_t nukes = 0;  // own
  std::uint8_t warps = 0;  // own
  std::uint8_t warping = 0;
  Vector3f position;
  char name[NAME_SIZE] = {};  // always NUL-terminated after decoding
  float size = 0;
  Matrix3f orientation{};
};

struct SoundEventMessage {
  std::int8_t sound = 0;
  Vector3f position;
};

struct PresenceMessage {
  std::uint8_t objects[MAX_OBJECTS] = {};
  std::uint8_t players[MAX_PLAYERS] = {};
  std::int8_t matchRunning = 0;
};

// Each encoder writes exactly its message size (type byte included); each
// decoder reads exactly that many bytes, so callers check the length first
// (parse_snapshot does).
void encode_object_message(const ObjectMessage& m, std::uint8_t* out);
void encode_player_message(const PlayerMessage& m, std::uint8_t* out);
void encode_sound_event_message(const SoundEventMessage& m, std::uint8_t* out);
void encode_presence_message(const PresenceMessage& m, std::uint8_t* out);
ObjectMessage decode_object_message(const std::uint8_t* in);
PlayerMessage decode_player_message(const std::uint8_t* in);
SoundEventMessage decode_sound_event_message(const std::uint8_t* in);
PresenceMessage decode_presence_message(const std::uint8_t* in);

// Snapshot parsing: walks one received datagram message by message and hands
// every whole message to the handler (null handlers are skipped). Never reads
// past length. An unknown type, a short PresenceMessage or a message cut short
// by the end of the datagram ends the walk. A message whose slot is outside
// the tables (player 0..31, object 0..511), whose object kind is outside 1..11
// or whose sound number is outside 0..21 is skipped and the walk goes on.
struct SnapshotHandler {
  void* context = nullptr;
  void (*on_presence)(void* context, const PresenceMessage& m) = nullptr;
  void (*on_player)(void* context, const PlayerMessage& m) = nullptr;
  void (*on_object)(void* context, const ObjectMessage& m) = nullptr;
  void (*on_sound)(void* context, const SoundEventMessage& m) = nullptr;
};
void parse_snapshot(const std::uint8_t* data, std::size_t length, const SnapshotHandler& handler);

// Sends one datagram; returns false when the send failed.
using DatagramSender = bool (*)(void* context, const std::uint8_t* data, std::size_t length);

// Builds the datagrams of one snapshot in its own 2048-byte buffer: after each
// appended message the buffer is sent once its length exceeds PACKET_SIZE;
// finish() appends the PresenceMessage and sends the rest. After a failed send
// nothing more is sent. No allocation; reusable with begin().
class SnapshotWriter {
 public:
  SnapshotWriter(int packet_size, DatagramSender send, void* context);

  // Empties the buffer and clears the failure, for the next snapshot.
  void begin(int packet_size);
  void add_object(const ObjectMessage& m);
  void add_player(const PlayerMessage& m);
  void add_sound_event(const SoundEventMessage& m);
  // Appends the PresenceMessage and sends the buffer whatever its length.
  void finish(const PresenceMessage& m);

  bool failed() const { return failed_; }
  // Totals since construction (begin() keeps them).
  std::size_t datagrams_sent() const { return datagrams_; }
  std::size_t bytes_sent() const { return bytes_; }

 private:
  std::uint8_t* reserve(std::size_t size);
  void appended();
  void flush();

  std::array<std::uint8_t, DATAGRAM_BUFFER_SIZE> buffer_{};
  std::size_t length_ = 0;
  int packetSize_ = 0;
  DatagramSender send_ = nullptr;
  void* context_ = nullptr;
  bool failed_ = false;
  std::size_t datagrams_ = 0;
  std::size_t bytes_ = 0;
};

}  // namespace zbx
