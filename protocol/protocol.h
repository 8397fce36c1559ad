// The wire protocol between client and server: every datagram and snapshot
// message layout, encoded and decoded in one place. Pure byte handling, no
// sockets, no locks. Snapshot integers and floats are little-endian; the
// JoinReply's integers are big-endian and its float little-endian.
#pragma once

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

inline constexpr std::size_t PRESENCE_MESSAGE_SIZE = 546;
inline constexpr std::size_t PLAYER_MESSAGE_SIZE = 109;
inline constexpr std::size_t OBJECT_MESSAGE_SIZE = 61;
inline constexpr std::size_t SOUND_EVENT_MESSAGE_SIZE = 17;

inline constexpr std::size_t DATAGRAM_BUFFER_SIZE = 2048;
// Largest PACKET_SIZE that keeps the last datagram within the buffer.
inline constexpr int MAX_PACKET_SIZE = 1502;

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

// A decoded KeyEvent byte as the server reads it.
struct KeyEvent {
  bool valid = false;  // false: the byte does nothing
  int control = 0;     // 1..127 (ids above 17 do nothing)
  bool pressed = false;
};
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
  int shield = 0;           // own
  int armor = 0;            // own
  std::uint8_t hit = 0;     // own
  std::uint8_t alive = 0;
  std::uint8_t nukes = 0;   // own
  std::uint8_t warps = 0;   // own
  std::uint8_t warping = 0;
  Vector3f position;
  char name[20] = {};
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

// Each encoder writes exactly its message size; decoders read exactly that.
void encode_object_message(const ObjectMessage& m, std::uint8_t* out);
void encode_player_message(const PlayerMessage& m, std::uint8_t* out);
void encode_sound_event_message(const SoundEventMessage& m, std::uint8_t* out);
void encode_presence_message(const PresenceMessage& m, std::uint8_t* out);
ObjectMessage decode_object_message(const std::uint8_t* in);
PlayerMessage decode_player_message(const std::uint8_t* in);
SoundEventMessage decode_sound_event_message(const std::uint8_t* in);
PresenceMessage decode_presence_message(const std::uint8_t* in);

// Snapshot parsing: walks one received datagram message by message and hands
// every whole message whose slot numbers are inside the tables to the handler.
// Never reads past length; a short or unknown message ends the walk, an
// out-of-range slot skips that message.
struct SnapshotHandler {
  void* context = nullptr;
  void (*on_presence)(void* context, const PresenceMessage& m) = nullptr;
  void (*on_player)(void* context, const PlayerMessage& m) = nullptr;
  void (*on_object)(void* context, const ObjectMessage& m) = nullptr;
  void (*on_sound)(void* context, const SoundEventMessage& m) = nullptr;
};
void parse_snapshot(const std::uint8_t* data, std::size_t length, const SnapshotHandler& handler);

}  // namespace zbx
