// What the two halves of the smoother share: the history ring, the held keys
// by time, and arithmetic in the wrapping world.
#pragma once

#include <algorithm>
#include <cmath>

#include "protocol/torus.h"
#include "smooth/smooth.h"

namespace zbx::smooth {

// The i-th snapshot kept, 0 the oldest.
inline HistoryFrame& frame_at(Smoother& s, int i) {
  return s.history[static_cast<std::size_t>((s.first + i) % SMOOTH_HISTORY)];
}
inline const HistoryFrame& frame_at(const Smoother& s, int i) {
  return s.history[static_cast<std::size_t>((s.first + i) % SMOOTH_HISTORY)];
}

// The keys held at time t (none before the first change).
KeyChange keys_at(const Smoother& s, double t);
// The first key change after t, or `limit` when none comes before it.
double next_key_change(const Smoother& s, double t, double limit);

// A coordinate brought back into -w..w (w itself stays, as on the server).
inline double wrap(double c, double w) {
  if (c > w || c < -w) c -= 2 * w * std::floor((c + w) / (2 * w));
  return std::clamp(c, -w, w);
}

// b - a the short way across the world, per axis.
struct Offset {
  double x = 0, y = 0, z = 0;
};
inline Offset short_offset(Vector3f a, Vector3f b, float w) {
  return {fold(b.x - a.x, w), fold(b.y - a.y, w), fold(b.z - a.z, w)};
}
inline double length(Offset d) { return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z); }

// a then b (at times ta, tb) could be one flight: the same thing, both
// inside the world, no jump.
bool continuous(const Smoother& s, const HistoryEntity& a, double ta, const HistoryEntity& b,
                double tb);
// When the world of the newest snapshot was (its arrival is set); counts the
// server's ticks on.
double content_time(Smoother& s);
// Starts the tick count afresh.
void forget_ticks(Smoother& s);

// The own ship's place and turn at a moment.
struct Pose {
  double x = 0, y = 0, z = 0;
  Quaternion turn;
};

// The own entity of the newest snapshot carried forward to `now`.
Pose predict_own(const Smoother& s, double now);
// Eases the previous prediction's error out of pose; remembers what was drawn.
void ease_own(Smoother& s, Pose& pose, double now);

}  // namespace zbx::smooth
