// The own ship: the newest snapshot carried forward with the keys held since,
// the way the server turns, pushes and slows a ship every world step, and
// eased onto each new snapshot instead of jumping to it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "history.h"

namespace zbx {

namespace {

constexpr double RADIANS = 0.017453292519943295;
constexpr double THRUST_SCALE = 0.001;  // thrust vector per unit of input
// A new snapshot's correction fades with this time constant.
constexpr double EASE_SECONDS = 0.03;
// Corrections larger than these are a respawn or a warp: no easing.
constexpr double SNAP_DISTANCE = 0.5;
constexpr double SNAP_DEGREES = 20.0;
constexpr double EASE_MEMORY = 0.25;  // older drawings are not eased from
constexpr double LONGEST_PREDICTION = 2.5;
constexpr int MOST_PIECES = 64;

const KeyChange& key_change(const Smoother& s, int i) {
  return s.keys[static_cast<std::size_t>((s.keyFirst + i) % SMOOTH_KEY_CHANGES)];
}

std::int8_t axis(std::uint8_t forward, std::uint8_t backward) {
  return static_cast<std::int8_t>((forward != 0 ? 1 : 0) - (backward != 0 ? 1 : 0));
}

bool flies(const SmoothEntity& e) { return e.alive != 0 && e.warping == 0; }

// One world step's turn: about x, then y, then z, each applied on the left.
Quaternion step_turn(const KeyChange& k, double degrees) {
  double m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int a = 0; a < 3; ++a) {
    if (k.spin[static_cast<std::size_t>(a)] == 0) continue;
    const double t = k.spin[static_cast<std::size_t>(a)] * degrees * RADIANS;
    const double c = std::cos(t), s = std::sin(t);
    double r[9];
    if (a == 0) {
      const double x[9] = {1, 0, 0, 0, c, s, 0, -s, c};
      std::copy(x, x + 9, r);
    } else if (a == 1) {
      const double y[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
      std::copy(y, y + 9, r);
    } else {
      const double z[9] = {c, s, 0, -s, c, 0, 0, 0, 1};
      std::copy(z, z + 9, r);
    }
    double p[9];
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        p[i * 3 + j] = r[i * 3] * m[j] + r[i * 3 + 1] * m[3 + j] + r[i * 3 + 2] * m[6 + j];
      }
    }
    std::copy(p, p + 9, m);
  }
  Matrix3f f;
  for (int i = 0; i < 9; ++i) f[i] = static_cast<float>(m[i]);
  return to_quaternion(f);
}

// The thrust vector for these keys with the ship turned so.
smooth::Offset thrust(const Smoother& s, const KeyChange& k, Quaternion turn) {
  const Matrix3f m = to_matrix(turn);
  const double a = -THRUST_SCALE * k.thrust * s.rates.acceleration;
  return {a * m[6], a * m[7], a * m[8]};
}

// The own ship's velocity per step at the newest snapshot, from the last two
// intervals (the server's steps fall 2 and 3 to a 50 ms interval, so two
// even out), with the change the thrust and drag make over half of them.
smooth::Offset velocity(const Smoother& s) {
  const int n = s.count - 1;
  const HistoryFrame& nf = smooth::frame_at(s, n);
  const HistoryEntity& e = nf.players[static_cast<std::size_t>(s.ownSlot)];
  const double step = s.rates.stepSeconds;
  for (int back = 2; back >= 1; --back) {
    if (n - back < 0) continue;
    const HistoryFrame& f = smooth::frame_at(s, n - back);
    const HistoryEntity& a = f.players[static_cast<std::size_t>(s.ownSlot)];
    const double span = nf.time - f.time;
    if (!(span > 1e-6) || span > 3 * s.interval) continue;
    if (!a.placed || a.e.alive != e.e.alive || a.e.warping != e.e.warping) continue;
    const smooth::Offset d = smooth::short_offset(a.e.position, e.e.position, s.worldWidth);
    const double steps = span / step;
    if (smooth::length(d) > 0.3 * std::max(steps, 1.0) + 0.1) continue;  // a jump
    smooth::Offset v{d.x / steps, d.y / steps, d.z / steps};
    if (flies(e.e) && e.rotation) {
      const double D = s.rates.deceleration;
      const smooth::Offset th = thrust(s, smooth::keys_at(s, 0.5 * (nf.time + f.time)), e.q);
      const double h = steps / 2;
      v = {v.x + h * (D * th.x - (1 - D) * v.x), v.y + h * (D * th.y - (1 - D) * v.y),
           v.z + h * (D * th.z - (1 - D) * v.z)};
    }
    return v;
  }
  return {};
}

}  // namespace

namespace smooth {

KeyChange keys_at(const Smoother& s, double t) {
  KeyChange k;
  for (int i = 0; i < s.keyCount; ++i) {
    const KeyChange& c = key_change(s, i);
    if (c.time > t) break;
    k = c;
  }
  return k;
}

double next_key_change(const Smoother& s, double t, double limit) {
  for (int i = 0; i < s.keyCount; ++i) {
    const KeyChange& c = key_change(s, i);
    if (c.time > t) return std::min(c.time, limit);
  }
  return limit;
}

Pose predict_own(const Smoother& s, double now) {
  const HistoryFrame& nf = frame_at(s, s.count - 1);
  const HistoryEntity& e = nf.players[static_cast<std::size_t>(s.ownSlot)];
  Pose p{e.e.position.x, e.e.position.y, e.e.position.z, e.q};
  const double step = s.rates.stepSeconds;
  const double base = nf.time;  // when the server's ship was there
  // Late snapshots: the view holds about two intervals after the last one
  // (copies of the newest, from a world at rest, count).
  const double longest = std::min(2 * s.interval + step, LONGEST_PREDICTION);
  const double end = std::clamp(now, base, std::max(base, s.heard - s.age) + longest);
  smooth::Offset v = velocity(s);
  if (!flies(e.e)) {
    // Neither turning nor thrust nor drag while warping or destroyed.
    const double steps = (end - base) / step;
    p.x += v.x * steps;
    p.y += v.y * steps;
    p.z += v.z * steps;
    return p;
  }
  const double D = s.rates.deceleration;
  const double piece = std::max(step, (end - base) / MOST_PIECES);
  double t = base;
  for (int guard = 0; t < end && guard < MOST_PIECES + SMOOTH_KEY_CHANGES + 2; ++guard) {
    const KeyChange k = keys_at(s, t);
    const double t1 = std::min(next_key_change(s, t, end), t + piece);
    const double f = (t1 - t) / step;
    // f steps of v' = D (v + th), p' = p + v, in closed form.
    const smooth::Offset th = thrust(s, k, p.turn);
    const smooth::Offset top{D * th.x / (1 - D), D * th.y / (1 - D), D * th.z / (1 - D)};
    const double decay = std::pow(D, f);
    const double spread = (1 - decay) / (1 - D);
    p.x += f * top.x + (v.x - top.x) * spread;
    p.y += f * top.y + (v.y - top.y) * spread;
    p.z += f * top.z + (v.z - top.z) * spread;
    v = {top.x + (v.x - top.x) * decay, top.y + (v.y - top.y) * decay,
         top.z + (v.z - top.z) * decay};
    if (k.spin[0] != 0 || k.spin[1] != 0 || k.spin[2] != 0) {
      p.turn =
          multiply(rotate_towards(Quaternion{}, step_turn(k, s.rates.rotationSpeed), f), p.turn);
    }
    t = t1;
  }
  return p;
}

void ease_own(Smoother& s, Pose& pose, double now) {
  OwnEasing& o = s.own;
  const std::int64_t base = frame_at(s, s.count - 1).serial;
  const float w = s.worldWidth;
  if (o.base != base) {
    o.offset = {};
    o.offsetTurn = {};
    if (o.drawn && now >= o.time && now - o.time < EASE_MEMORY) {
      // What the new snapshot would have drawn last time, against what was drawn.
      const Pose then = predict_own(s, o.time);
      const Vector3f at{static_cast<float>(wrap(then.x, w)), static_cast<float>(wrap(then.y, w)),
                        static_cast<float>(wrap(then.z, w))};
      const Offset d = short_offset(at, o.position, w);
      const Quaternion turn = multiply(o.turn, conjugate(then.turn));
      if (length(d) <= SNAP_DISTANCE && angle_between(Quaternion{}, turn) <= SNAP_DEGREES) {
        o.offset = {static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z)};
        o.offsetTurn = turn;
      }
    }
    o.since = o.drawn ? o.time : now;
    o.base = base;
  }
  const double k = now > o.since ? std::exp(-(now - o.since) / EASE_SECONDS) : 1.0;
  pose.x = wrap(pose.x + o.offset.x * k, w);
  pose.y = wrap(pose.y + o.offset.y * k, w);
  pose.z = wrap(pose.z + o.offset.z * k, w);
  pose.turn = multiply(rotate_towards(Quaternion{}, o.offsetTurn, k), pose.turn);
  o.drawn = true;
  o.time = now;
  o.position = {static_cast<float>(pose.x), static_cast<float>(pose.y), static_cast<float>(pose.z)};
  o.turn = pose.turn;
}

}  // namespace smooth

void smoother_keys(Smoother& s, double time, const KeyStateArray& keys) {
  if (!std::isfinite(time)) return;
  KeyChange k;
  k.time = time;
  k.spin = {axis(keys[KEYSTATE_X_FORWARD_ROTATE], keys[KEYSTATE_X_BACKWARD_ROTATE]),
            axis(keys[KEYSTATE_Y_FORWARD_ROTATE], keys[KEYSTATE_Y_BACKWARD_ROTATE]),
            axis(keys[KEYSTATE_Z_FORWARD_ROTATE], keys[KEYSTATE_Z_BACKWARD_ROTATE])};
  const bool forward = keys[KEYSTATE_FORWARD_THRUST] != 0;
  const bool reverse = keys[KEYSTATE_REVERSE_THRUST] != 0;
  // Forward thrust is three times the reverse, as the server has it.
  k.thrust = forward && !reverse ? 3.0f : reverse && !forward ? -1.0f : 0.0f;
  const KeyChange last = smooth::keys_at(s, std::numeric_limits<double>::infinity());
  if (s.keyCount > 0) {
    if (last.spin == k.spin && last.thrust == k.thrust) return;
    k.time = std::max(k.time, last.time);
  } else if (k.spin == last.spin && k.thrust == last.thrust) {
    return;  // none held, as before any change
  }
  if (s.keyCount == SMOOTH_KEY_CHANGES) {
    s.keyFirst = (s.keyFirst + 1) % SMOOTH_KEY_CHANGES;
    --s.keyCount;
  }
  s.keys[static_cast<std::size_t>((s.keyFirst + s.keyCount) % SMOOTH_KEY_CHANGES)] = k;
  ++s.keyCount;
}

}  // namespace zbx
