// Byte-for-byte encoding and decoding of every datagram and snapshot message.
// Each layout is written down once, as offsets, and both directions use it.
#include "protocol/protocol.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace zbx {
namespace {

// ---- layouts -------------------------------------------------------------

namespace join_reply {
constexpr std::size_t GAME_TYPE = 2;     // u16 big-endian
constexpr std::size_t PLAYER_LIMIT = 4;  // u16 big-endian
constexpr std::size_t SLOT = 6;          // u16 big-endian
constexpr std::size_t WORLD_WIDTH = 8;   // float little-endian
constexpr std::size_t MAX_SHIELD = 12;   // i32 big-endian
constexpr std::size_t MAX_ARMOR = 16;    // i32 big-endian
constexpr std::size_t END = 20;
static_assert(END == JOIN_REPLY_SIZE);
}  // namespace join_reply

namespace object_msg {
constexpr std::size_t TYPE = 0;
constexpr std::size_t KIND = 1;
constexpr std::size_t SLOT = 5;
constexpr std::size_t POSITION = 9;
constexpr std::size_t SIZE = 21;
constexpr std::size_t ORIENTATION = 25;
constexpr std::size_t END = ORIENTATION + 9 * 4;
static_assert(END == OBJECT_MESSAGE_SIZE);
}  // namespace object_msg

namespace player_msg {
constexpr std::size_t TYPE = 0;
constexpr std::size_t SLOT = 5;
constexpr std::size_t SCORE = 9;
constexpr std::size_t LIVES = 13;
constexpr std::size_t SHIELD_ACTIVE = 17;
constexpr std::size_t SHIELD = 21;
constexpr std::size_t ARMOR = 25;
constexpr std::size_t HIT = 29;
constexpr std::size_t ALIVE = 30;
constexpr std::size_t NUKES = 31;
constexpr std::size_t WARPS = 32;
constexpr std::size_t WARPING = 33;
constexpr std::size_t POSITION = 37;
constexpr std::size_t NAME = 49;
constexpr std::size_t SIZE = NAME + NAME_SIZE;
constexpr std::size_t ORIENTATION = 73;
constexpr std::size_t END = ORIENTATION + 9 * 4;
static_assert(SIZE == 69);
static_assert(END == PLAYER_MESSAGE_SIZE);
}  // namespace player_msg

namespace sound_msg {
constexpr std::size_t TYPE = 0;
constexpr std::size_t SOUND = 1;
constexpr std::size_t POSITION = 5;
constexpr std::size_t END = POSITION + 3 * 4;
static_assert(END == SOUND_EVENT_MESSAGE_SIZE);
}  // namespace sound_msg

namespace presence_msg {
constexpr std::size_t TYPE = 0;
constexpr std::size_t OBJECTS = 1;
constexpr std::size_t PLAYERS = OBJECTS + MAX_OBJECTS;
constexpr std::size_t MATCH_RUNNING = PLAYERS + MAX_PLAYERS;
constexpr std::size_t END = MATCH_RUNNING + 1;
static_assert(PLAYERS == 513 && MATCH_RUNNING == 545);
static_assert(END == PRESENCE_MESSAGE_SIZE);
}  // namespace presence_msg

// ---- primitive fields ----------------------------------------------------

// A float that is not finite travels as 0: neither end may act on NaN or inf.
float finite_or_zero(float value) { return std::isfinite(value) ? value : 0.0f; }

void put_u16_be(std::uint8_t* p, int value) {
  p[0] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  p[1] = static_cast<std::uint8_t>(value & 0xFF);
}
int get_u16_be(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }

void put_i32_be(std::uint8_t* p, int value) {
  const auto u = static_cast<std::uint32_t>(value);
  p[0] = static_cast<std::uint8_t>(u >> 24);
  p[1] = static_cast<std::uint8_t>(u >> 16);
  p[2] = static_cast<std::uint8_t>(u >> 8);
  p[3] = static_cast<std::uint8_t>(u);
}
int get_i32_be(const std::uint8_t* p) {
  const std::uint32_t u = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                          (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  return static_cast<int>(u);
}

void put_i32_le(std::uint8_t* p, int value) {
  const auto u = static_cast<std::uint32_t>(value);
  p[0] = static_cast<std::uint8_t>(u);
  p[1] = static_cast<std::uint8_t>(u >> 8);
  p[2] = static_cast<std::uint8_t>(u >> 16);
  p[3] = static_cast<std::uint8_t>(u >> 24);
}
int get_i32_le(const std::uint8_t* p) {
  const std::uint32_t u = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  return static_cast<int>(u);
}

void put_float_le(std::uint8_t* p, float value) {
  put_i32_le(p, std::bit_cast<int>(finite_or_zero(value)));
}
float get_float_le(const std::uint8_t* p) {
  return finite_or_zero(std::bit_cast<float>(get_i32_le(p)));
}

void put_vector(std::uint8_t* p, const Vector3f& v) {
  put_float_le(p, v.x);
  put_float_le(p + 4, v.y);
  put_float_le(p + 8, v.z);
}
Vector3f get_vector(const std::uint8_t* p) {
  return {get_float_le(p), get_float_le(p + 4), get_float_le(p + 8)};
}

void put_matrix(std::uint8_t* p, const Matrix3f& m) {
  for (std::size_t i = 0; i < m.size(); ++i) put_float_le(p + 4 * i, m[i]);
}
Matrix3f get_matrix(const std::uint8_t* p) {
  Matrix3f m{};
  for (std::size_t i = 0; i < m.size(); ++i) m[i] = get_float_le(p + 4 * i);
  return m;
}

bool slot_in(int slot, int count) { return slot >= 0 && slot < count; }

}  // namespace

int clamp_packet_size(int packet_size) {
  if (packet_size < 1) return 1;
  if (packet_size > MAX_PACKET_SIZE) return MAX_PACKET_SIZE;
  return packet_size;
}

// ---- join and key events ------------------------------------------------

void encode_join_reply(const JoinReply& reply, std::uint8_t out[JOIN_REPLY_SIZE]) {
  using namespace join_reply;
  std::memset(out, 0, JOIN_REPLY_SIZE);
  put_u16_be(out + GAME_TYPE, reply.gameType);
  put_u16_be(out + PLAYER_LIMIT, reply.maxPlayers);
  put_u16_be(out + SLOT, reply.slot);
  put_float_le(out + WORLD_WIDTH, reply.worldWidth);
  put_i32_be(out + MAX_SHIELD, reply.maxShield);
  put_i32_be(out + MAX_ARMOR, reply.maxArmor);
}

JoinReply decode_join_reply(const std::uint8_t in[JOIN_REPLY_SIZE]) {
  using namespace join_reply;
  JoinReply r;
  r.gameType = get_u16_be(in + GAME_TYPE);
  r.maxPlayers = get_u16_be(in + PLAYER_LIMIT);
  r.slot = get_u16_be(in + SLOT);
  r.worldWidth = get_float_le(in + WORLD_WIDTH);
  r.maxShield = get_i32_be(in + MAX_SHIELD);
  r.maxArmor = get_i32_be(in + MAX_ARMOR);
  return r;
}

void encode_join_request(const char* name, std::uint8_t out[JOIN_REQUEST_SIZE]) {
  std::memset(out, 0, JOIN_REQUEST_SIZE);
  if (name == nullptr) return;
  for (std::size_t i = 0; i + 1 < JOIN_REQUEST_SIZE && name[i] != '\0'; ++i) {
    out[i] = static_cast<std::uint8_t>(name[i]);
  }
}

void decode_join_request(const std::uint8_t in[JOIN_REQUEST_SIZE], char name[NAME_SIZE]) {
  static_assert(JOIN_REQUEST_SIZE == NAME_SIZE);
  std::memcpy(name, in, NAME_SIZE);
  name[NAME_SIZE - 1] = '\0';
}

std::uint8_t encode_key_event(int control, bool pressed) {
  return static_cast<std::uint8_t>(pressed ? control + 16 : control);
}

KeyEvent decode_key_event(std::uint8_t byte) {
  const int n = static_cast<std::int8_t>(byte);
  KeyEvent e;
  if (n >= 17) {
    e = {true, n - 16, true};
  } else if (n >= 1 && n <= 14) {
    e = {true, n, false};
  } else if (n == 16) {
    // 16 would be the nuke's release, but the nuke is never released: the
    // server has always read it as a launch.
    e = {true, CONTROL_NUKE, true};
  }
  return e;
}

// ---- snapshot messages ---------------------------------------------------

void encode_object_message(const ObjectMessage& m, std::uint8_t* out) {
  using namespace object_msg;
  out[TYPE] = MSG_OBJECT;
  put_i32_le(out + KIND, m.kind);
  put_i32_le(out + SLOT, m.slot);
  put_vector(out + POSITION, m.position);
  put_float_le(out + SIZE, m.size);
  put_matrix(out + ORIENTATION, m.orientation);
}

ObjectMessage decode_object_message(const std::uint8_t* in) {
  using namespace object_msg;
  ObjectMessage m;
  m.kind = get_i32_le(in + KIND);
  m.slot = get_i32_le(in + SLOT);
  m.position = get_vector(in + POSITION);
  m.size = get_float_le(in + SIZE);
  m.orientation = get_matrix(in + ORIENTATION);
  return m;
}

void encode_player_message(const PlayerMessage& m, std::uint8_t* out) {
  using namespace player_msg;
  std::memset(out, 0, PLAYER_MESSAGE_SIZE);  // reserved and padding bytes
  out[TYPE] = MSG_PLAYER;
  put_i32_le(out + SLOT, m.slot);
  put_i32_le(out + SCORE, m.score);
  put_i32_le(out + LIVES, m.lives);
  out[SHIELD_ACTIVE] = m.shieldActive;
  put_i32_le(out + SHIELD, m.shield);
  put_i32_le(out + ARMOR, m.armor);
  out[HIT] = m.hit;
  out[ALIVE] = m.alive;
  out[NUKES] = m.nukes;
  out[WARPS] = m.warps;
  out[WARPING] = m.warping;
  put_vector(out + POSITION, m.position);
  for (std::size_t i = 0; i + 1 < NAME_SIZE && m.name[i] != '\0'; ++i) {
    out[NAME + i] = static_cast<std::uint8_t>(m.name[i]);
  }
  put_float_le(out + SIZE, m.size);
  put_matrix(out + ORIENTATION, m.orientation);
}

PlayerMessage decode_player_message(const std::uint8_t* in) {
  using namespace player_msg;
  PlayerMessage m;
  m.slot = get_i32_le(in + SLOT);
  m.score = get_i32_le(in + SCORE);
  m.lives = get_i32_le(in + LIVES);
  m.shieldActive = in[SHIELD_ACTIVE];
  m.shield = get_i32_le(in + SHIELD);
  m.armor = get_i32_le(in + ARMOR);
  m.hit = in[HIT];
  m.alive = in[ALIVE];
  m.nukes = in[NUKES];
  m.warps = in[WARPS];
  m.warping = in[WARPING];
  m.position = get_vector(in + POSITION);
  std::memcpy(m.name, in + NAME, NAME_SIZE);
  m.name[NAME_SIZE - 1] = '\0';
  m.size = get_float_le(in + SIZE);
  m.orientation = get_matrix(in + ORIENTATION);
  return m;
}

void encode_sound_event_message(const SoundEventMessage& m, std::uint8_t* out) {
  using namespace sound_msg;
  std::memset(out, 0, SOUND_EVENT_MESSAGE_SIZE);
  out[TYPE] = MSG_SOUND_EVENT;
  out[SOUND] = static_cast<std::uint8_t>(m.sound);
  put_vector(out + POSITION, m.position);
}

SoundEventMessage decode_sound_event_message(const std::uint8_t* in) {
  using namespace sound_msg;
  SoundEventMessage m;
  m.sound = static_cast<std::int8_t>(in[SOUND]);
  m.position = get_vector(in + POSITION);
  return m;
}

void encode_presence_message(const PresenceMessage& m, std::uint8_t* out) {
  using namespace presence_msg;
  out[TYPE] = MSG_PRESENCE;
  std::memcpy(out + OBJECTS, m.objects, MAX_OBJECTS);
  std::memcpy(out + PLAYERS, m.players, MAX_PLAYERS);
  out[MATCH_RUNNING] = static_cast<std::uint8_t>(m.matchRunning);
}

PresenceMessage decode_presence_message(const std::uint8_t* in) {
  using namespace presence_msg;
  PresenceMessage m;
  std::memcpy(m.objects, in + OBJECTS, MAX_OBJECTS);
  std::memcpy(m.players, in + PLAYERS, MAX_PLAYERS);
  m.matchRunning = static_cast<std::int8_t>(in[MATCH_RUNNING]);
  return m;
}

// ---- snapshot parsing ----------------------------------------------------

void parse_snapshot(const std::uint8_t* data, std::size_t length, const SnapshotHandler& h) {
  if (data == nullptr) return;
  std::size_t pos = 0;
  while (pos < length) {
    const std::uint8_t* p = data + pos;
    const std::size_t left = length - pos;
    switch (p[0]) {
      case MSG_PRESENCE: {
        if (left < PRESENCE_MESSAGE_SIZE) return;  // also the QuitAck
        if (h.on_presence) h.on_presence(h.context, decode_presence_message(p));
        pos += PRESENCE_MESSAGE_SIZE;
        break;
      }
      case MSG_PLAYER: {
        if (left < PLAYER_MESSAGE_SIZE) return;
        if (h.on_player && slot_in(get_i32_le(p + player_msg::SLOT), MAX_PLAYERS)) {
          h.on_player(h.context, decode_player_message(p));
        }
        pos += PLAYER_MESSAGE_SIZE;
        break;
      }
      case MSG_OBJECT: {
        if (left < OBJECT_MESSAGE_SIZE) return;
        const int kind = get_i32_le(p + object_msg::KIND);
        if (h.on_object && slot_in(get_i32_le(p + object_msg::SLOT), MAX_OBJECTS) &&
            kind >= KIND_SHIP && kind <= KIND_NUKE_EXPLOSION) {
          h.on_object(h.context, decode_object_message(p));
        }
        pos += OBJECT_MESSAGE_SIZE;
        break;
      }
      case MSG_SOUND_EVENT: {
        if (left < SOUND_EVENT_MESSAGE_SIZE) return;
        const int sound = static_cast<std::int8_t>(p[sound_msg::SOUND]);
        if (h.on_sound && slot_in(sound, NUM_SOUNDS)) {
          h.on_sound(h.context, decode_sound_event_message(p));
        }
        pos += SOUND_EVENT_MESSAGE_SIZE;
        break;
      }
      default:
        return;  // unknown type: the rest of the datagram is ignored
    }
  }
}

// ---- snapshot building ---------------------------------------------------

SnapshotWriter::SnapshotWriter(int packet_size, DatagramSender send, void* context)
    : packetSize_(clamp_packet_size(packet_size)), send_(send), context_(context) {}

void SnapshotWriter::begin(int packet_size) {
  packetSize_ = clamp_packet_size(packet_size);
  length_ = 0;
  failed_ = false;
}

std::uint8_t* SnapshotWriter::reserve(std::size_t size) {
  // Cannot happen with a clamped PACKET_SIZE; kept so the buffer never overruns.
  if (length_ + size > buffer_.size()) flush();
  return buffer_.data() + length_;
}

void SnapshotWriter::flush() {
  if (length_ > 0 && !failed_) {
    if (send_ == nullptr || !send_(context_, buffer_.data(), length_)) {
      failed_ = true;
    } else {
      ++datagrams_;
      bytes_ += length_;
    }
  }
  length_ = 0;
}

void SnapshotWriter::appended() {
  if (length_ > static_cast<std::size_t>(packetSize_)) flush();
}

void SnapshotWriter::add_object(const ObjectMessage& m) {
  encode_object_message(m, reserve(OBJECT_MESSAGE_SIZE));
  length_ += OBJECT_MESSAGE_SIZE;
  appended();
}

void SnapshotWriter::add_player(const PlayerMessage& m) {
  encode_player_message(m, reserve(PLAYER_MESSAGE_SIZE));
  length_ += PLAYER_MESSAGE_SIZE;
  appended();
}

void SnapshotWriter::add_sound_event(const SoundEventMessage& m) {
  encode_sound_event_message(m, reserve(SOUND_EVENT_MESSAGE_SIZE));
  length_ += SOUND_EVENT_MESSAGE_SIZE;
  appended();
}

void SnapshotWriter::finish(const PresenceMessage& m) {
  encode_presence_message(m, reserve(PRESENCE_MESSAGE_SIZE));
  length_ += PRESENCE_MESSAGE_SIZE;
  flush();
}

}  // namespace zbx
