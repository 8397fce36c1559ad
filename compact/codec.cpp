// Framing, the body of a compact snapshot, and both ends of the stream.
#include <zstd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "compact/compact.h"
#include "model.h"

namespace zbx {

using namespace compact;

namespace {

constexpr std::uint8_t JOIN_TAG[4] = {'Z', 'X', COMPACT_VERSION, 0};
constexpr std::uint8_t REPLY_TAG[2] = {'Z', 'X'};
constexpr std::uint8_t ACK_TAG = 0xCA;
constexpr std::uint8_t ACK_WANT_KEY = 1;
constexpr std::uint32_t MASK26 = (1u << 26) - 1;
constexpr int ZSTD_LEVEL = 1;
constexpr std::size_t MAX_SOUNDS = 64;

// Header layout of every compact datagram.
namespace header {
constexpr std::size_t MAGIC = 0;
constexpr std::size_t VERSION = 1;
constexpr std::size_t SEQUENCE = 2;
constexpr std::size_t BASELINE = 6;
constexpr std::size_t STEP = 10;
constexpr std::size_t INDEX = 14;
constexpr std::size_t COUNT = 15;
constexpr std::size_t SIZE = 16;
constexpr std::size_t ENCODING = 20;
constexpr std::size_t CHECK = 21;  // of everything else in the datagram
static_assert(CHECK + 4 == COMPACT_HEADER_SIZE);
}  // namespace header

enum Encoding : std::uint8_t { RAW = 0, ZSTD = 1 };

// Which parts of a model a record carries a change for.
enum MotionBits : unsigned {
  M_KIND = 1,
  M_POSITION = 2,
  M_VELOCITY = 4,
  M_ORIENTATION = 8,
  M_TURN = 16,
  M_SIZE = 32,
  M_GROWTH = 64,
  M_MATRIX = 128,  // not a field: the orientation is nine values
};
enum ExtraBits : unsigned {
  X_SCORE = 1,
  X_LIVES = 2,
  X_SHIELD = 4,
  X_ARMOR = 8,
  X_SHIELD_ACTIVE = 16,
  X_HIT = 32,
  X_ALIVE = 64,
  X_NUKES = 128,
  X_WARPS = 256,
  X_WARPING = 512,
  X_NAME = 1024,
  X_MOTION = 2048,
  X_ALL = 4095,
};

// FNV-1a over a datagram but its own four bytes: a datagram damaged on the way
// (or made up) is refused instead of decoding into a wrong world.
std::uint32_t datagram_check(const std::uint8_t* data, std::size_t length) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) {
    if (i >= header::CHECK && i < header::CHECK + 4) continue;
    h = (h ^ data[i]) * 16777619u;
  }
  return h;
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

struct Writer {
  std::vector<std::uint8_t>& out;
  void u8(unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); }
  void varint(std::uint64_t v) {
    while (v >= 0x80) {
      out.push_back(static_cast<std::uint8_t>(v | 0x80));
      v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
  }
  void signed_varint(std::int64_t v) {
    varint((static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63));
  }
};

// Reads with a sticky failure: past the end or on an overlong number every
// read gives 0 and bad stays set; the caller looks once at the end.
struct Reader {
  const std::uint8_t* data;
  std::size_t length;
  std::size_t at = 0;
  bool bad = false;
  unsigned u8() {
    if (at >= length) {
      bad = true;
      return 0;
    }
    return data[at++];
  }
  std::uint64_t varint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const unsigned b = u8();
      if (bad) return 0;
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    bad = true;
    return 0;
  }
  std::int64_t signed_varint() {
    const std::uint64_t v = varint();
    return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
  }
  // A count that cannot exceed limit; more is damage.
  std::size_t count(std::size_t limit) {
    const std::uint64_t n = varint();
    if (n > limit) bad = true;
    return bad ? 0 : static_cast<std::size_t>(n);
  }
  // The next slot after prev, from its gap.
  int slot(int prev, int limit) {
    const std::uint64_t gap = varint();
    if (gap >= static_cast<std::uint64_t>(limit) || prev + 1 + static_cast<int>(gap) >= limit) {
      bad = true;
      return 0;
    }
    return prev + 1 + static_cast<int>(gap);
  }
  // A value that must fit an int32.
  std::int32_t int32(std::int64_t base) {
    const std::int64_t v = base + signed_varint();
    if (v < INT32_MIN || v > INT32_MAX) {
      bad = true;
      return 0;
    }
    return static_cast<std::int32_t>(v);
  }
};

std::int32_t sign_extend26(std::uint32_t v) {
  v &= MASK26;
  return static_cast<std::int32_t>(v << 6) >> 6;
}

// The values a record's residuals are taken against: the baseline's model as
// predicted to the new step, or zeros for a slot the baseline lacks.
struct Predictor {
  std::array<std::uint32_t, 3> position{};  // in the 26-bit grain
  std::array<std::int64_t, 3> velocity{};   // in VELOCITY_GRAIN
  std::array<std::int64_t, 9> orientation{};
  std::array<std::int64_t, 3> turn{};
  std::int64_t size = 0;
  std::int64_t growth = 0;
  bool matrix = false;
  bool has = false;
};

Predictor predictor(const EntityModel* base, std::uint32_t step, bool matrix) {
  Predictor p;
  p.matrix = matrix;
  if (base == nullptr || !base->present) return p;
  p.has = true;
  const auto pos = predicted_position(*base, step);
  for (int i = 0; i < 3; ++i) {
    p.position[i] = ((pos[i] + (1u << (POSITION_SHIFT - 1))) >> POSITION_SHIFT) & MASK26;
    p.velocity[i] = base->velocity[i] / VELOCITY_GRAIN;
    p.turn[i] = base->turn[i];
  }
  p.size = predicted_size(*base, step);
  p.growth = base->growth;
  // An orientation in the other form than the baseline's is sent whole.
  if ((base->matrix != 0) == matrix) {
    if (matrix) {
      const Mat m = predicted_orientation(*base, step);
      for (int i = 0; i < 9; ++i) p.orientation[i] = std::llround(m[i] * double(1 << 20));
    } else {
      Quat q = predicted_quaternion(*base, step);
      const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      for (int i = 0; i < 4; ++i) {
        p.orientation[i] = n > 0 ? std::llround(q[i] / n * double(1 << 20)) : 0;
      }
    }
  }
  return p;
}

// The truth of one slot as the server has it.
struct Actual {
  int kind = 0;
  Vector3f position;
  Vector3f velocity;
  Matrix3f orientation{};  // as the receiver gets it
  Vector3f spin;
  float size = 0;
  float growth = 0;
};

// Makes `next` the model of the truth and writes the record that turns the
// baseline's prediction into it.
void write_motion(Writer& w, const EntityModel* base, EntityModel& next, const Actual& a,
                  std::uint32_t step, float width, bool inverted, bool object) {
  EntityModel m;
  m.present = 1;
  m.kind = static_cast<std::uint8_t>(a.kind);
  m.step = step;
  const float pos[3] = {a.position.x, a.position.y, a.position.z};
  const float vel[3] = {a.velocity.x, a.velocity.y, a.velocity.z};
  for (int i = 0; i < 3; ++i) {
    m.position[i] = ((to_circle(pos[i], width) + (1u << (POSITION_SHIFT - 1))) >> POSITION_SHIFT)
                    << POSITION_SHIFT;
    m.velocity[i] = velocity_units(vel[i], width);
  }
  m.turn = turn_of(a.spin);
  m.size = size_units(a.size);
  m.growth = growth_units(a.growth);

  // The ship's own axes, whatever way they travel.
  Mat truth;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      const float v = inverted ? a.orientation[j * 3 + i] : a.orientation[i * 3 + j];
      truth[i * 3 + j] = std::isfinite(v) ? v : 0.0;
    }
  }
  const Predictor quat_p = predictor(base, step, false);
  Quat q = quaternion_of(truth);
  double sign = 1;
  if (quat_p.has && quat_p.orientation[0] + quat_p.orientation[1] + quat_p.orientation[2] +
                            quat_p.orientation[3] !=
                        0) {
    double dot = 0;
    for (int i = 0; i < 4; ++i) dot += q[i] * static_cast<double>(quat_p.orientation[i]);
    if (dot < 0) sign = -1;
  } else if (q[0] < 0) {
    sign = -1;
  }
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (int i = 0; i < 4; ++i) {
    const std::int64_t t = std::llround(sign * q[i] / n * double(1 << 20));
    m.orientation[i] = static_cast<std::int32_t>(t << QUATERNION_SHIFT);
  }
  const Mat shown = stored_orientation(m);
  double misfit = 0;
  for (int i = 0; i < 9; ++i) misfit = std::max(misfit, std::fabs(shown[i] - truth[i]));
  if (!(misfit <= QUATERNION_FIT)) {
    m.matrix = 1;
    for (int i = 0; i < 9; ++i) {
      const std::int64_t t = std::llround(std::clamp(truth[i], -64.0, 64.0) * double(1 << 20));
      m.orientation[i] = static_cast<std::int32_t>(t << MATRIX_SHIFT);
    }
  }

  const Predictor p = m.matrix ? predictor(base, step, true) : quat_p;
  unsigned mask = m.matrix ? unsigned{M_MATRIX} : 0u;
  if (object && (!p.has || base->kind != m.kind)) mask |= M_KIND;
  std::array<std::int64_t, 3> rp, rv, rt;
  const int orientation_count = m.matrix ? 9 : 4;
  const int orientation_shift = m.matrix ? MATRIX_SHIFT : QUATERNION_SHIFT;
  std::array<std::int64_t, 9> ro{};
  for (int i = 0; i < 3; ++i) {
    rp[i] = sign_extend26((m.position[i] >> POSITION_SHIFT) - p.position[i]);
    rv[i] = m.velocity[i] / VELOCITY_GRAIN - p.velocity[i];
    rt[i] = m.turn[i] - p.turn[i];
  }
  for (int i = 0; i < orientation_count; ++i) {
    ro[i] = (m.orientation[i] >> orientation_shift) - p.orientation[i];
  }
  const std::int64_t rs = m.size - p.size;
  const std::int64_t rg = m.growth - p.growth;
  auto any = [](const auto& values, int count) {
    for (int i = 0; i < count; ++i) {
      if (values[i] != 0) return true;
    }
    return false;
  };
  if (any(rp, 3)) mask |= M_POSITION;
  if (any(rv, 3)) mask |= M_VELOCITY;
  if (any(ro, orientation_count)) mask |= M_ORIENTATION;
  if (any(rt, 3)) mask |= M_TURN;
  if (rs != 0) mask |= M_SIZE;
  if (rg != 0) mask |= M_GROWTH;

  w.varint(mask);
  if (mask & M_KIND) w.u8(m.kind);
  if (mask & M_POSITION) {
    for (auto r : rp) w.signed_varint(r);
  }
  if (mask & M_VELOCITY) {
    for (auto r : rv) w.signed_varint(r);
  }
  if (mask & M_ORIENTATION) {
    for (int i = 0; i < orientation_count; ++i) w.signed_varint(ro[i]);
  }
  if (mask & M_TURN) {
    for (auto r : rt) w.signed_varint(r);
  }
  if (mask & M_SIZE) w.signed_varint(rs);
  if (mask & M_GROWTH) w.signed_varint(rg);
  next = m;
}

// The reverse of write_motion; false on damage.
bool read_motion(Reader& r, const EntityModel* base, EntityModel& next, std::uint32_t step,
                 bool object) {
  const std::uint64_t mask = r.varint();
  if (r.bad || mask > 255) return false;
  const bool matrix = (mask & M_MATRIX) != 0;
  const Predictor p = predictor(base, step, matrix);
  EntityModel m;
  m.present = 1;
  m.step = step;
  m.matrix = matrix ? 1 : 0;
  if (mask & M_KIND) {
    m.kind = static_cast<std::uint8_t>(r.u8());
    if (!object || m.kind < KIND_SHIP || m.kind > KIND_NUKE_EXPLOSION) return false;
  } else if (object) {
    if (!p.has) return false;  // a new object says what it is
    m.kind = base->kind;
  }
  std::array<std::int64_t, 3> rp{}, rv{}, rt{};
  std::array<std::int64_t, 9> ro{};
  const int orientation_count = matrix ? 9 : 4;
  if (mask & M_POSITION) {
    for (auto& v : rp) v = r.signed_varint();
  }
  if (mask & M_VELOCITY) {
    for (auto& v : rv) v = r.signed_varint();
  }
  if (mask & M_ORIENTATION) {
    for (int i = 0; i < orientation_count; ++i) ro[i] = r.signed_varint();
  }
  if (mask & M_TURN) {
    for (auto& v : rt) v = r.signed_varint();
  }
  const std::int64_t rs = (mask & M_SIZE) ? r.signed_varint() : 0;
  const std::int64_t rg = (mask & M_GROWTH) ? r.signed_varint() : 0;
  if (r.bad) return false;
  auto fits = [](std::int64_t v, std::int64_t limit) { return v >= -limit && v <= limit; };
  for (int i = 0; i < 3; ++i) {
    m.position[i] = ((p.position[i] + static_cast<std::uint32_t>(rp[i])) & MASK26)
                    << POSITION_SHIFT;
    const std::int64_t v = p.velocity[i] + rv[i];
    if (!fits(v, INT32_MAX / VELOCITY_GRAIN)) return false;
    m.velocity[i] = static_cast<std::int32_t>(v * VELOCITY_GRAIN);
    const std::int64_t t = p.turn[i] + rt[i];
    if (!fits(t, INT32_MAX)) return false;
    m.turn[i] = static_cast<std::int32_t>(t);
  }
  const int shift = matrix ? MATRIX_SHIFT : QUATERNION_SHIFT;
  for (int i = 0; i < orientation_count; ++i) {
    const std::int64_t t = p.orientation[i] + ro[i];
    if (!fits(t, (std::int64_t{1} << (31 - shift)) - 1)) return false;
    m.orientation[i] = static_cast<std::int32_t>(t << shift);
  }
  const std::int64_t size = p.size + rs, growth = p.growth + rg;
  if (!fits(size, INT32_MAX) || !fits(growth, INT32_MAX)) return false;
  m.size = static_cast<std::int32_t>(size);
  m.growth = static_cast<std::int32_t>(growth);
  next = m;
  return true;
}

PlayerExtras extras_of(const PlayerMessage& m) {
  PlayerExtras x;
  x.score = m.score;
  x.lives = m.lives;
  x.shield = m.shield;
  x.armor = m.armor;
  x.shieldActive = m.shieldActive;
  x.hit = m.hit;
  x.alive = m.alive;
  x.nukes = m.nukes;
  x.warps = m.warps;
  x.warping = m.warping;
  std::memcpy(x.name.data(), m.name, NAME_SIZE);
  x.name[NAME_SIZE - 1] = '\0';
  // What follows the name's end carries no meaning: it does not count as a change.
  const std::size_t length = strnlen(x.name.data(), NAME_SIZE);
  std::fill(x.name.begin() + static_cast<long>(length), x.name.end(), '\0');
  return x;
}

unsigned extras_changes(const PlayerExtras& a, const PlayerExtras& b) {
  unsigned mask = 0;
  if (a.score != b.score) mask |= X_SCORE;
  if (a.lives != b.lives) mask |= X_LIVES;
  if (a.shield != b.shield) mask |= X_SHIELD;
  if (a.armor != b.armor) mask |= X_ARMOR;
  if (a.shieldActive != b.shieldActive) mask |= X_SHIELD_ACTIVE;
  if (a.hit != b.hit) mask |= X_HIT;
  if (a.alive != b.alive) mask |= X_ALIVE;
  if (a.nukes != b.nukes) mask |= X_NUKES;
  if (a.warps != b.warps) mask |= X_WARPS;
  if (a.warping != b.warping) mask |= X_WARPING;
  if (a.name != b.name) mask |= X_NAME;
  return mask;
}

void write_extras(Writer& w, unsigned mask, const PlayerExtras& x, const PlayerExtras& base) {
  if (mask & X_SCORE) w.signed_varint(std::int64_t{x.score} - base.score);
  if (mask & X_LIVES) w.signed_varint(std::int64_t{x.lives} - base.lives);
  if (mask & X_SHIELD) w.signed_varint(std::int64_t{x.shield} - base.shield);
  if (mask & X_ARMOR) w.signed_varint(std::int64_t{x.armor} - base.armor);
  if (mask & X_SHIELD_ACTIVE) w.u8(x.shieldActive);
  if (mask & X_HIT) w.u8(x.hit);
  if (mask & X_ALIVE) w.u8(x.alive);
  if (mask & X_NUKES) w.u8(x.nukes);
  if (mask & X_WARPS) w.u8(x.warps);
  if (mask & X_WARPING) w.u8(x.warping);
  if (mask & X_NAME) {
    const std::size_t length = strnlen(x.name.data(), NAME_SIZE - 1);
    w.u8(static_cast<unsigned>(length));
    for (std::size_t i = 0; i < length; ++i) w.u8(static_cast<unsigned char>(x.name[i]));
  }
}

void read_extras(Reader& r, unsigned mask, PlayerExtras& x) {
  if (mask & X_SCORE) x.score = r.int32(x.score);
  if (mask & X_LIVES) x.lives = r.int32(x.lives);
  if (mask & X_SHIELD) x.shield = r.int32(x.shield);
  if (mask & X_ARMOR) x.armor = r.int32(x.armor);
  if (mask & X_SHIELD_ACTIVE) x.shieldActive = static_cast<std::uint8_t>(r.u8());
  if (mask & X_HIT) x.hit = static_cast<std::uint8_t>(r.u8());
  if (mask & X_ALIVE) x.alive = static_cast<std::uint8_t>(r.u8());
  if (mask & X_NUKES) x.nukes = static_cast<std::uint8_t>(r.u8());
  if (mask & X_WARPS) x.warps = static_cast<std::uint8_t>(r.u8());
  if (mask & X_WARPING) x.warping = static_cast<std::uint8_t>(r.u8());
  if (mask & X_NAME) {
    const unsigned length = r.u8();
    if (length >= NAME_SIZE) {
      r.bad = true;
      return;
    }
    x.name.fill('\0');
    for (unsigned i = 0; i < length; ++i) x.name[i] = static_cast<char>(r.u8());
  }
}

Actual actual_of(const FrameObject& o) {
  return {o.message.kind, o.message.position, o.velocity, o.message.orientation,
          o.spin,         o.message.size,     o.growth};
}
Actual actual_of(const FramePlayer& p) {
  return {0, p.message.position, p.velocity, p.message.orientation, p.spin, p.message.size, 0};
}

// Whether the baseline's model of a slot still shows its truth.
bool still_true(const EntityModel& base, const Actual& a, std::uint32_t step, float width,
                bool inverted) {
  if (!base.present || base.kind != a.kind) return false;
  return within_bounds(show(base, step, width, inverted), a.position, a.size, a.orientation, width);
}

bool inverted_for(int slot, int receiver) { return slot != receiver; }

// The slots the baseline holds and the frame no longer does, as gaps from
// one to the next; `forget` empties each in the new model.
template <typename Slot, std::size_t N, typename Forget>
void write_gone(Writer& w, const std::array<Slot, N>& now, const std::array<EntityModel, N>* before,
                Forget forget) {
  std::array<std::uint16_t, N> gone{};
  std::size_t count = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (!now[i].present && before != nullptr && (*before)[i].present) {
      gone[count++] = static_cast<std::uint16_t>(i);
    }
  }
  w.varint(count);
  int prev = -1;
  for (std::size_t k = 0; k < count; ++k) {
    w.varint(static_cast<std::uint64_t>(gone[k] - prev - 1));
    prev = gone[k];
    forget(gone[k]);
  }
}

}  // namespace

void encode_compact_join(const char* name, std::uint8_t out[COMPACT_JOIN_SIZE]) {
  encode_join_request(name, out);
  std::memcpy(out + JOIN_REQUEST_SIZE, JOIN_TAG, sizeof JOIN_TAG);
}

bool is_compact_join(const std::uint8_t* data, std::size_t length) {
  return data != nullptr && length == COMPACT_JOIN_SIZE &&
         std::memcmp(data + JOIN_REQUEST_SIZE, JOIN_TAG, 3) == 0;
}

void mark_compact_join_reply(std::uint8_t reply[JOIN_REPLY_SIZE]) {
  std::memcpy(reply, REPLY_TAG, sizeof REPLY_TAG);
}

bool is_compact_join_reply(const std::uint8_t reply[JOIN_REPLY_SIZE]) {
  return std::memcmp(reply, REPLY_TAG, sizeof REPLY_TAG) == 0;
}

void encode_compact_ack(const CompactAck& ack, std::uint8_t out[COMPACT_ACK_SIZE]) {
  std::memset(out, 0, COMPACT_ACK_SIZE);
  out[0] = ACK_TAG;
  out[1] = ack.wantKey ? ACK_WANT_KEY : 0;
  put_u32(out + 4, ack.sequence);
}

bool decode_compact_ack(const std::uint8_t* data, std::size_t length, CompactAck& ack) {
  if (data == nullptr || length != COMPACT_ACK_SIZE || data[0] != ACK_TAG) return false;
  ack.wantKey = (data[1] & ACK_WANT_KEY) != 0;
  ack.sequence = get_u32(data + 4);
  return true;
}

void seal_compact_datagram(std::uint8_t* data, std::size_t length) {
  if (data != nullptr && length >= COMPACT_HEADER_SIZE) {
    put_u32(data + header::CHECK, datagram_check(data, length));
  }
}

bool is_compact_datagram(const std::uint8_t* data, std::size_t length) {
  return data != nullptr && length >= COMPACT_HEADER_SIZE && data[header::MAGIC] == COMPACT_MAGIC &&
         data[header::VERSION] == COMPACT_VERSION;
}

void evaluate_model(const WorldModel& model, float width, int receiver, CompactFrame& out) {
  out.step = model.step;
  out.matchRunning = model.matchRunning;
  out.sounds.clear();
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const EntityModel& e = model.objects[i];
    FrameObject& o = out.objects[i];
    o = FrameObject{};
    if (!e.present) continue;
    const Shown s = show(e, model.step, width, false);
    o.present = true;
    o.message.kind = e.kind;
    o.message.slot = i;
    o.message.position = s.position;
    o.message.size = s.size;
    o.message.orientation = s.orientation;
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const EntityModel& e = model.players[i];
    FramePlayer& p = out.players[i];
    p = FramePlayer{};
    if (!e.present) continue;
    const Shown s = show(e, model.step, width, inverted_for(i, receiver));
    const PlayerExtras& x = model.extras[i];
    PlayerMessage& m = p.message;
    p.present = true;
    m.slot = i;
    m.score = x.score;
    m.lives = x.lives;
    m.shieldActive = x.shieldActive;
    m.shield = x.shield;
    m.armor = x.armor;
    m.hit = x.hit;
    m.alive = x.alive;
    m.nukes = x.nukes;
    m.warps = x.warps;
    m.warping = x.warping;
    m.position = s.position;
    std::memcpy(m.name, x.name.data(), NAME_SIZE);
    m.name[NAME_SIZE - 1] = '\0';
    m.size = s.size;
    m.orientation = s.orientation;
  }
}

// ---- server side ----------------------------------------------------------

CompactEncoder::CompactEncoder(float worldWidth, int receiver)
    : worldWidth_(worldWidth > 0 ? worldWidth : 10.0f),
      receiver_(receiver),
      ring_(std::make_unique<std::array<Kept, COMPACT_SERVER_RING>>()),
      next_(std::make_unique<WorldModel>()) {}

void CompactEncoder::acknowledge(const CompactAck& ack) {
  if (ack.wantKey) {
    acked_ = 0;
    return;
  }
  if (ack.sequence == 0 || ack.sequence > sequence_ || ack.sequence <= acked_) return;
  if ((*ring_)[ack.sequence % COMPACT_SERVER_RING].sequence != ack.sequence) return;
  acked_ = ack.sequence;
}

bool CompactEncoder::send(const CompactFrame& frame, CompactSender sender, void* context) {
  const std::uint32_t sequence = ++sequence_;
  const Kept& kept = (*ring_)[acked_ % COMPACT_SERVER_RING];
  const WorldModel* base = acked_ != 0 && kept.sequence == acked_ ? &kept.model : nullptr;
  // The snapshot's models take shape beside the ring: the baseline may sit in
  // the very entry the new snapshot takes.
  WorldModel* next = next_.get();
  *next = base ? *base : WorldModel{};
  const std::uint32_t step = frame.step;
  const float width = worldWidth_;

  body_.clear();
  Writer w{body_};
  next->step = step;
  next->matchRunning = frame.matchRunning;
  w.u8(static_cast<std::uint8_t>(frame.matchRunning));

  // Objects: the ones gone, then the ones whose model no longer holds.
  write_gone(w, frame.objects, base ? &base->objects : nullptr,
             [next](int i) { next->objects[i] = EntityModel{}; });
  std::array<std::uint16_t, MAX_OBJECTS> list{};
  std::size_t count = 0;
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const FrameObject& o = frame.objects[i];
    if (!o.present) continue;
    if (base && still_true(base->objects[i], actual_of(o), step, width, false)) continue;
    list[count++] = i;
  }
  w.varint(count);
  int prev = -1;
  for (std::size_t k = 0; k < count; ++k) {
    const int i = list[k];
    w.varint(i - prev - 1);
    prev = i;
    write_motion(w, base ? &base->objects[i] : nullptr, next->objects[i],
                 actual_of(frame.objects[i]), step, width, false, true);
  }

  // Players likewise, with their scores and counters.
  write_gone(w, frame.players, base ? &base->players : nullptr, [next](int i) {
    next->players[i] = EntityModel{};
    next->extras[i] = PlayerExtras{};
  });
  std::array<unsigned, MAX_PLAYERS> masks{};
  count = 0;
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const FramePlayer& p = frame.players[i];
    if (!p.present) continue;
    const bool known = base && base->players[i].present;
    unsigned mask = known ? extras_changes(extras_of(p.message), base->extras[i]) : X_ALL;
    if (!known ||
        !still_true(base->players[i], actual_of(p), step, width, inverted_for(i, receiver_))) {
      mask |= X_MOTION;
    }
    if (mask == 0) continue;
    masks[i] = mask;
    list[count++] = i;
  }
  w.varint(count);
  prev = -1;
  for (std::size_t k = 0; k < count; ++k) {
    const int i = list[k];
    w.varint(i - prev - 1);
    prev = i;
    const unsigned mask = masks[i];
    const bool known = base && base->players[i].present;
    const PlayerExtras x = extras_of(frame.players[i].message);
    w.varint(mask);
    write_extras(w, mask, x, known ? base->extras[i] : PlayerExtras{});
    next->extras[i] = x;
    if (mask & X_MOTION) {
      write_motion(w, known ? &base->players[i] : nullptr, next->players[i],
                   actual_of(frame.players[i]), step, width, inverted_for(i, receiver_), false);
    }
  }

  // Sound events, each in the one snapshot that carries it.
  const std::size_t sounds = std::min(frame.sounds.size(), MAX_SOUNDS);
  w.varint(sounds);
  for (std::size_t k = 0; k < sounds; ++k) {
    const SoundEventMessage& s = frame.sounds[k];
    w.u8(static_cast<std::uint8_t>(s.sound));
    for (float c : {s.position.x, s.position.y, s.position.z}) {
      w.varint(to_circle(c, width) >> POSITION_SHIFT);
    }
  }

  // Compressed when that is smaller; then cut into datagrams.
  std::uint8_t encoding = RAW;
  const std::vector<std::uint8_t>* payload = &body_;
  packed_.resize(ZSTD_compressBound(body_.size()));
  const std::size_t packed =
      ZSTD_compress(packed_.data(), packed_.size(), body_.data(), body_.size(), ZSTD_LEVEL);
  if (!ZSTD_isError(packed) && packed < body_.size()) {
    packed_.resize(packed);
    payload = &packed_;
    encoding = ZSTD;
  }
  const std::size_t size = payload->size();
  const std::size_t fragments =
      std::max<std::size_t>(1, (size + COMPACT_FRAGMENT_DATA - 1) / COMPACT_FRAGMENT_DATA);
  if (fragments > COMPACT_MAX_FRAGMENTS) return true;  // cannot happen with 544 slots; skip it
  for (std::size_t f = 0; f < fragments; ++f) {
    const std::size_t from = f * COMPACT_FRAGMENT_DATA;
    const std::size_t part = std::min(COMPACT_FRAGMENT_DATA, size - from);
    datagram_.resize(COMPACT_HEADER_SIZE + part);
    std::uint8_t* d = datagram_.data();
    d[header::MAGIC] = COMPACT_MAGIC;
    d[header::VERSION] = COMPACT_VERSION;
    put_u32(d + header::SEQUENCE, sequence);
    put_u32(d + header::BASELINE, base ? acked_ : 0);
    put_u32(d + header::STEP, step);
    d[header::INDEX] = static_cast<std::uint8_t>(f);
    d[header::COUNT] = static_cast<std::uint8_t>(fragments);
    put_u32(d + header::SIZE, static_cast<std::uint32_t>(size));
    d[header::ENCODING] = encoding;
    if (part > 0) std::memcpy(d + COMPACT_HEADER_SIZE, payload->data() + from, part);
    seal_compact_datagram(d, datagram_.size());
    if (!sender(context, d, datagram_.size())) return false;
    bytes_ += datagram_.size();
  }
  if (!base) ++keys_;
  Kept& slot = (*ring_)[sequence % COMPACT_SERVER_RING];
  slot.sequence = sequence;
  slot.model = *next;
  return true;
}

// ---- client side ----------------------------------------------------------

CompactDecoder::CompactDecoder(float worldWidth, int receiver)
    : worldWidth_(worldWidth > 0 ? worldWidth : 10.0f),
      receiver_(receiver),
      ring_(std::make_unique<std::array<Kept, COMPACT_CLIENT_RING>>()),
      scratch_(std::make_unique<WorldModel>()) {}

CompactAck CompactDecoder::ack() const { return CompactAck{applied_, wantKey_}; }

CompactDecoder::Result CompactDecoder::accept(const std::uint8_t* data, std::size_t length,
                                              CompactFrame& frame) {
  if (!is_compact_datagram(data, length)) return Result::Rejected;
  const std::uint32_t sequence = get_u32(data + header::SEQUENCE);
  const std::uint32_t baseline = get_u32(data + header::BASELINE);
  const std::uint32_t step = get_u32(data + header::STEP);
  const unsigned index = data[header::INDEX];
  const unsigned count = data[header::COUNT];
  const std::uint32_t size = get_u32(data + header::SIZE);
  const std::uint8_t encoding = data[header::ENCODING];
  const std::size_t part = length - COMPACT_HEADER_SIZE;
  if (get_u32(data + header::CHECK) != datagram_check(data, length)) {
    wantKey_ = applied_ == 0 || wantKey_;
    return Result::Rejected;
  }
  // Lengths that lie, counts out of range, a baseline not before its snapshot.
  if (sequence == 0 || baseline >= sequence || count == 0 || count > COMPACT_MAX_FRAGMENTS ||
      index >= count || encoding > ZSTD || size > count * COMPACT_FRAGMENT_DATA ||
      (count > 1 && size <= (count - 1) * COMPACT_FRAGMENT_DATA) ||
      part != std::min<std::size_t>(COMPACT_FRAGMENT_DATA, size - index * COMPACT_FRAGMENT_DATA)) {
    wantKey_ = applied_ == 0 || wantKey_;
    return Result::Rejected;
  }
  if (sequence <= applied_) return Result::Ignored;  // late or twice

  Partial* slot = nullptr;
  for (Partial& p : partial_) {
    if (p.sequence == sequence) slot = &p;
  }
  if (slot != nullptr &&
      (slot->baseline != baseline || slot->step != step || slot->count != count ||
       slot->size != size || slot->encoding != encoding)) {
    return Result::Rejected;  // fragments that disagree: one of them is forged
  }
  if (slot == nullptr) {
    slot = &partial_[0];
    for (Partial& p : partial_) {
      if (p.sequence < slot->sequence) slot = &p;
    }
    *slot = Partial{};
    slot->sequence = sequence;
    slot->baseline = baseline;
    slot->step = step;
    slot->count = static_cast<std::uint8_t>(count);
    slot->size = size;
    slot->encoding = encoding;
    slot->bytes.assign(size, 0);
  }
  if (part > 0) {
    std::memcpy(slot->bytes.data() + index * COMPACT_FRAGMENT_DATA, data + COMPACT_HEADER_SIZE,
                part);
  }
  slot->have |= std::uint64_t{1} << index;
  const std::uint64_t whole = count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
  if (slot->have != whole) return Result::Ignored;
  const Result result = finish(*slot, frame);
  *slot = Partial{};
  // Anything older still waiting is of no use now.
  for (Partial& p : partial_) {
    if (p.sequence != 0 && p.sequence <= applied_) p = Partial{};
  }
  return result;
}

CompactDecoder::Result CompactDecoder::finish(Partial& partial, CompactFrame& frame) {
  const WorldModel* base = nullptr;
  if (partial.baseline != 0) {
    const Kept& kept = (*ring_)[partial.baseline % COMPACT_CLIENT_RING];
    if (kept.sequence != partial.baseline) {
      wantKey_ = true;
      return Result::Rejected;
    }
    base = &kept.model;
  }
  const std::uint8_t* bytes = partial.bytes.data();
  std::size_t length = partial.bytes.size();
  if (partial.encoding == ZSTD) {
    const unsigned long long stated = ZSTD_getFrameContentSize(bytes, length);
    if (stated == ZSTD_CONTENTSIZE_UNKNOWN || stated == ZSTD_CONTENTSIZE_ERROR ||
        stated > COMPACT_MAX_BODY) {
      wantKey_ = true;
      return Result::Rejected;
    }
    body_.resize(static_cast<std::size_t>(stated));
    const std::size_t got = ZSTD_decompress(body_.data(), body_.size(), bytes, length);
    if (ZSTD_isError(got) || got != stated) {
      wantKey_ = true;
      return Result::Rejected;
    }
    bytes = body_.data();
    length = body_.size();
  }

  WorldModel& next = *scratch_;
  next = base ? *base : WorldModel{};
  next.step = partial.step;
  Reader r{bytes, length};
  std::vector<SoundEventMessage> sounds;
  const auto damaged = [this] {
    wantKey_ = true;
    return Result::Rejected;
  };
  next.matchRunning = static_cast<std::int8_t>(r.u8());
  std::size_t n = r.count(MAX_OBJECTS);
  int prev = -1;
  for (std::size_t k = 0; k < n && !r.bad; ++k) {
    prev = r.slot(prev, MAX_OBJECTS);
    if (r.bad || !next.objects[prev].present) return damaged();
    next.objects[prev] = EntityModel{};
  }
  n = r.count(MAX_OBJECTS);
  prev = -1;
  for (std::size_t k = 0; k < n && !r.bad; ++k) {
    prev = r.slot(prev, MAX_OBJECTS);
    if (r.bad) return damaged();
    const EntityModel* b = base && base->objects[prev].present ? &base->objects[prev] : nullptr;
    if (!read_motion(r, b, next.objects[prev], partial.step, true)) return damaged();
  }
  n = r.count(MAX_PLAYERS);
  prev = -1;
  for (std::size_t k = 0; k < n && !r.bad; ++k) {
    prev = r.slot(prev, MAX_PLAYERS);
    if (r.bad || !next.players[prev].present) return damaged();
    next.players[prev] = EntityModel{};
    next.extras[prev] = PlayerExtras{};
  }
  n = r.count(MAX_PLAYERS);
  prev = -1;
  for (std::size_t k = 0; k < n && !r.bad; ++k) {
    prev = r.slot(prev, MAX_PLAYERS);
    const std::uint64_t mask = r.varint();
    if (r.bad || mask > X_ALL) return damaged();
    const bool known = next.players[prev].present;
    // A player new to the client comes whole.
    if (!known && mask != X_ALL) return damaged();
    read_extras(r, static_cast<unsigned>(mask), next.extras[prev]);
    if (r.bad) return damaged();
    if (mask & X_MOTION) {
      const EntityModel* b = base && base->players[prev].present ? &base->players[prev] : nullptr;
      if (!read_motion(r, b, next.players[prev], partial.step, false)) return damaged();
    }
  }
  n = r.count(MAX_SOUNDS);
  for (std::size_t k = 0; k < n && !r.bad; ++k) {
    SoundEventMessage s;
    s.sound = static_cast<std::int8_t>(r.u8());
    float c[3];
    for (float& v : c) {
      const std::uint64_t q = r.varint();
      if (q > MASK26) r.bad = true;
      v = from_circle(static_cast<std::uint32_t>(q) << POSITION_SHIFT, worldWidth_);
    }
    s.position = {c[0], c[1], c[2]};
    if (s.sound < 0 || s.sound >= NUM_SOUNDS) r.bad = true;
    sounds.push_back(s);
  }
  if (r.bad || r.at != r.length) return damaged();

  Kept& kept = (*ring_)[partial.sequence % COMPACT_CLIENT_RING];
  kept.sequence = partial.sequence;
  kept.model = next;
  applied_ = partial.sequence;
  wantKey_ = false;
  evaluate_model(next, worldWidth_, receiver_, frame);
  frame.sounds = std::move(sounds);
  return Result::Applied;
}

}  // namespace zbx
