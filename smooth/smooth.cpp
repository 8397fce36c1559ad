// The snapshot history, the render clock and the interpolation of every
// object and ship but the own one.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "history.h"

namespace zbx {

using smooth::frame_at;

namespace {

static_assert(sizeof(SmoothEntity) == 60, "compared byte for byte: no padding");

constexpr double MIN_INTERVAL = 0.001;
constexpr double MAX_INTERVAL = 2.0;
// Faster than anything flies (shots 0.14, hyper-warp 0.2 units a step): a
// longer move between two snapshots is a jump, drawn at the new place at once.
constexpr double JUMP_SPEED = 0.3;
constexpr double JUMP_MARGIN = 0.1;
constexpr double DELAY_MARGIN = 0.002;
// The render clock runs at most this much fast or slow while the delay moves.
constexpr double DELAY_RATE = 0.05;
// Gaps longer than this many intervals are losses, unless they keep coming.
constexpr double LONG_GAP = 4.0;
constexpr int LONG_GAPS_TO_ACCEPT = 3;

bool valid_width(float w) { return std::isfinite(w) && w > 0 && w < 1e6f; }

bool inside(Vector3f p, float w) {
  const float edge = w * 1.0001f;
  return std::fabs(p.x) <= edge && std::fabs(p.y) <= edge && std::fabs(p.z) <= edge;
}

bool same_entity(const SmoothEntity& a, const SmoothEntity& b) {
  if (a.present != b.present) return false;
  return a.present == 0 || std::memcmp(&a, &b, sizeof a) == 0;
}

bool same_content(const HistoryFrame& h, const SmoothFrame& f) {
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    if (!same_entity(h.objects[i].e, f.objects[i])) return false;
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    if (!same_entity(h.players[i].e, f.players[i])) return false;
  }
  return true;
}

void prepare(HistoryEntity& h, const SmoothEntity& e, float w) {
  h.e = e;
  h.placed =
      e.present != 0 && is_finite(e.position) && std::isfinite(e.size) && inside(e.position, w);
  h.rotation = e.present != 0 && is_rotation(e.orientation);
  h.q = h.rotation ? to_quaternion(e.orientation) : Quaternion{};
}

double initial_interval(const SmoothRates& r) {
  return std::clamp(std::max(r.snapshotSeconds, r.stepSeconds), 0.005, MAX_INTERVAL);
}

void restart(Smoother& s) {
  s.first = 0;
  s.count = 0;
  s.interval = initial_interval(s.rates);
  s.jitter = 0;
  s.longGaps = 0;
  s.age = 0.5 * std::min(s.interval, s.rates.stepSeconds);
  s.viewed = false;
  s.own = OwnEasing{};
  smooth::forget_ticks(s);
}

void update_clock(Smoother& s, double gap) {
  if (gap > LONG_GAP * s.interval) {
    // A lost snapshot or a stall; the same gap again and again is the pace.
    if (++s.longGaps < LONG_GAPS_TO_ACCEPT) return;
    s.interval = std::clamp(gap, MIN_INTERVAL, MAX_INTERVAL);
    s.jitter = 0;
    s.longGaps = 0;
    return;
  }
  s.longGaps = 0;
  s.interval = std::clamp(s.interval + (gap - s.interval) / 8, MIN_INTERVAL, MAX_INTERVAL);
  s.jitter += (std::fabs(gap - s.interval) - s.jitter) / 8;
}

// Now minus a delay that follows one interval plus the jitter margin, moved
// slowly so that the drawn world neither stops nor races; set at once after a
// pause, a clock step or a large change.
double render_time(Smoother& s, double now) {
  // Snapshot times are those of their contents, on average `age` before the arrival.
  const double target =
      std::clamp(s.interval + 2 * s.jitter + DELAY_MARGIN + s.age, 0.0, SMOOTH_MAX_DELAY);
  const double dt = now - s.lastView;
  if (!s.viewed || dt < -0.5 || dt > 1.0 || std::fabs(s.delay - target) > 0.5 * target + 0.01) {
    s.delay = target;
  } else if (dt > 0) {
    s.delay += std::clamp(target - s.delay, -DELAY_RATE * dt, DELAY_RATE * dt);
  }
  s.viewed = true;
  s.lastView = now;
  return now - s.delay;
}

// The continuous fields of out on the path from a (u = 0) to b (u = 1).
void blend(const HistoryEntity& a, const HistoryEntity& b, double u, float w, SmoothEntity& out) {
  const smooth::Offset d = smooth::short_offset(a.e.position, b.e.position, w);
  out.position = {static_cast<float>(smooth::wrap(a.e.position.x + u * d.x, w)),
                  static_cast<float>(smooth::wrap(a.e.position.y + u * d.y, w)),
                  static_cast<float>(smooth::wrap(a.e.position.z + u * d.z, w))};
  out.size = std::max(0.0f, static_cast<float>(a.e.size + u * (b.e.size - a.e.size)));
  if (a.rotation && b.rotation) {
    out.orientation = to_matrix(rotate_towards(a.q, b.q, u));
  } else {
    out.orientation = (u < 0.5 ? a : b).e.orientation;  // as received
  }
}

bool finite_entity(const SmoothEntity& e) {
  if (!is_finite(e.position) || !std::isfinite(e.size)) return false;
  for (float v : e.orientation) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// An entity as it came, but never at a place that is not finite.
SmoothEntity as_received(const HistoryEntity& h) {
  SmoothEntity e = h.e;
  if (!is_finite(e.position) || !std::isfinite(e.size)) e.present = 0;
  return e;
}

// Which snapshots surround the render time.
struct Moment {
  int current = 0;      // the latest snapshot at or before it (the oldest if none)
  double render = 0;    // the render time
  bool before = false;  // before the oldest snapshot: hold it
};

// Slot i of a table (objects or players) at the moment.
template <typename Table>
void place(const Smoother& s, const Moment& m, Table HistoryFrame::*table, int i,
           SmoothEntity& out) {
  const HistoryFrame& cf = frame_at(s, m.current);
  const HistoryEntity& cur = (cf.*table)[static_cast<std::size_t>(i)];
  out = as_received(cur);
  if (!out.present || !cur.placed || m.before) return;
  const float w = s.worldWidth;
  if (m.current + 1 < s.count) {
    const HistoryFrame& nf = frame_at(s, m.current + 1);
    const HistoryEntity& next = (nf.*table)[static_cast<std::size_t>(i)];
    if (smooth::continuous(s, cur, cf.time, next, nf.time)) {
      const double u = std::clamp((m.render - cf.time) / (nf.time - cf.time), 0.0, 1.0);
      blend(cur, next, u, w, out);
      if (!finite_entity(out)) out = as_received(cur);
      return;
    }
  }
  // Nothing to move towards (gone, jumped or not come yet): on along the last
  // known motion for at most one interval, then held.
  if (m.current == 0) return;
  const HistoryFrame& pf = frame_at(s, m.current - 1);
  const HistoryEntity& prev = (pf.*table)[static_cast<std::size_t>(i)];
  if (!smooth::continuous(s, prev, pf.time, cur, cf.time)) return;
  const double ahead = std::clamp(m.render - cf.time, 0.0, s.interval);
  blend(prev, cur, 1.0 + ahead / (cf.time - pf.time), w, out);
  if (!finite_entity(out)) out = as_received(cur);
}

}  // namespace

bool smooth::continuous(const Smoother& s, const HistoryEntity& a, double ta,
                        const HistoryEntity& b, double tb) {
  if (!b.e.present || !a.placed || !b.placed || a.e.kind != b.e.kind || a.e.alive != b.e.alive) {
    return false;
  }
  if (!(tb - ta > 1e-6)) return false;
  // A burst brings snapshots close together that are still an interval apart
  // in the server's world.
  const double steps = std::max(tb - ta, s.interval) / s.rates.stepSeconds;
  return smooth::length(smooth::short_offset(a.e.position, b.e.position, s.worldWidth)) <=
         JUMP_SPEED * steps + JUMP_MARGIN;
}

void smoother_reset(Smoother& s, const SmoothRates& rates) {
  SmoothRates r = rates;
  if (!std::isfinite(r.stepSeconds) || r.stepSeconds < 0.001 || r.stepSeconds > 1.0) {
    r.stepSeconds = 0.02;
  }
  if (!std::isfinite(r.snapshotSeconds) || r.snapshotSeconds < 0) r.snapshotSeconds = 0;
  if (!std::isfinite(r.rotationSpeed) || std::fabs(r.rotationSpeed) > 180.0f) r.rotationSpeed = 0;
  if (!std::isfinite(r.acceleration) || std::fabs(r.acceleration) > 1000.0f) r.acceleration = 0;
  r.deceleration = std::isfinite(r.deceleration) ? std::clamp(r.deceleration, 0.0f, 0.999f) : 0.9f;
  s.rates = r;
  s.serial = 0;
  s.ownSlot = -1;
  s.worldWidth = 10.0f;
  s.delay = 0;
  s.lastView = 0;
  s.keyFirst = 0;
  s.keyCount = 0;
  restart(s);
}

void smoother_record(Smoother& s, const SmoothFrame& f) {
  if (!std::isfinite(f.time)) return;
  double arrival = f.time;
  if (s.count > 0) {
    const HistoryFrame& newest = frame_at(s, s.count - 1);
    // Bitwise: a width that is not a number starts afresh every time.
    const bool sameWorld = std::memcmp(&f.worldWidth, &s.worldWidth, sizeof f.worldWidth) == 0;
    if (f.ownSlot != s.ownSlot || !sameWorld || arrival < newest.arrival - 1.0) {
      restart(s);
    } else {
      arrival = std::max(arrival, newest.arrival);
      s.heard = std::max(s.heard, arrival);
      if (same_content(newest, f)) return;  // a copy, or a world that did not move
    }
  }
  if (s.count > 0) update_clock(s, arrival - frame_at(s, s.count - 1).arrival);
  if (s.count == SMOOTH_HISTORY) {
    s.first = (s.first + 1) % SMOOTH_HISTORY;
    --s.count;
  }
  s.ownSlot = f.ownSlot;
  s.worldWidth = f.worldWidth;
  s.heard = arrival;
  HistoryFrame& h = frame_at(s, s.count);
  ++s.count;
  h.arrival = arrival;
  h.serial = ++s.serial;
  const float w = valid_width(f.worldWidth) ? f.worldWidth : 0.0f;
  for (int i = 0; i < MAX_OBJECTS; ++i) prepare(h.objects[i], f.objects[i], w);
  for (int i = 0; i < MAX_PLAYERS; ++i) prepare(h.players[i], f.players[i], w);
  h.time = smooth::content_time(s);
}

bool smoother_view(Smoother& s, double now, SmoothFrame& out) {
  if (s.count == 0) return false;
  const int newestIndex = s.count - 1;
  const HistoryFrame& newest = frame_at(s, newestIndex);
  out.ownSlot = s.ownSlot;
  out.worldWidth = s.worldWidth;
  if (!std::isfinite(now) || !valid_width(s.worldWidth)) {
    // Nothing sensible to blend with: the newest snapshot as it came.
    out.time = newest.arrival;
    for (int i = 0; i < MAX_OBJECTS; ++i) out.objects[i] = as_received(newest.objects[i]);
    for (int i = 0; i < MAX_PLAYERS; ++i) out.players[i] = as_received(newest.players[i]);
    return true;
  }
  out.time = now;
  Moment m;
  m.render = render_time(s, now);
  m.before = true;
  for (int i = newestIndex; i >= 0; --i) {
    if (frame_at(s, i).time <= m.render) {
      m.current = i;
      m.before = false;
      break;
    }
  }
  for (int i = 0; i < MAX_OBJECTS; ++i) place(s, m, &HistoryFrame::objects, i, out.objects[i]);
  const bool predict = s.rates.predictOwn && s.ownSlot >= 0 && s.ownSlot < MAX_PLAYERS;
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    if (predict && i == s.ownSlot) continue;
    place(s, m, &HistoryFrame::players, i, out.players[i]);
  }
  if (!predict) return true;

  // The own ship: the newest snapshot carried forward, not delayed.
  const HistoryEntity& own = newest.players[static_cast<std::size_t>(s.ownSlot)];
  SmoothEntity& o = out.players[static_cast<std::size_t>(s.ownSlot)];
  o = as_received(own);
  if (!own.e.present || !own.placed || !own.rotation) {
    s.own.drawn = false;  // as received
    return true;
  }
  smooth::Pose pose = smooth::predict_own(s, now);
  smooth::ease_own(s, pose, now);
  const float w = s.worldWidth;
  SmoothEntity p = own.e;
  p.position = {static_cast<float>(smooth::wrap(pose.x, w)),
                static_cast<float>(smooth::wrap(pose.y, w)),
                static_cast<float>(smooth::wrap(pose.z, w))};
  p.orientation = to_matrix(pose.turn);
  if (finite_entity(p)) o = p;
  return true;
}

}  // namespace zbx
