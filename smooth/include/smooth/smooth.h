// Smooth motion: the world a frame draws at its own moment rather than the
// newest snapshot as it stands. Pure computation on its own records (no GL,
// sockets or threads); the caller guards a Smoother with its own lock.
//
// The receiver records every snapshot as a SmoothFrame with its arrival time;
// the key handlers note the held keys; each drawn frame asks for the world at
// its moment. Other objects and ships are interpolated at a render time a
// little behind the newest snapshot (one snapshot interval plus a margin for
// jitter, both measured from the arrivals), the short way across the wrapping
// world, orientations as rotations. The own ship is not delayed: it is
// predicted from the newest snapshot and the keys held since, with the
// server's turn rate, thrust and damping, and eased onto each new snapshot.
// Values that are not finite, or rows that are not a rotation, are passed on
// as received, never blended.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/zbx_types.h"

namespace zbx {

// One object slot or player slot of a snapshot.
struct SmoothEntity {
  std::uint8_t present = 0;
  std::uint8_t alive = 0;         // players: the ship flies
  std::uint8_t shieldActive = 0;  // players
  std::uint8_t warping = 0;       // players: in a hyper-warp
  int kind = 0;                   // objects
  float size = 0;
  Vector3f position;
  // The drawing orientation; for the own player its flight orientation.
  Matrix3f orientation{};
};

struct SmoothFrame {
  std::array<SmoothEntity, MAX_OBJECTS> objects{};
  std::array<SmoothEntity, MAX_PLAYERS> players{};
  double time = 0;  // seconds on the caller's clock: arrival, or the moment drawn
  int ownSlot = -1;
  float worldWidth = 10.0f;
};

// The server's rules that the own-ship prediction imitates, and the pace the
// clock starts from before it has measured any.
struct SmoothRates {
  float rotationSpeed = 1.2f;     // degrees per world step at full input
  float acceleration = 0.35f;     // thrust input scale
  float deceleration = 0.9f;      // velocity factor per step
  double stepSeconds = 0.02;      // one world step
  double snapshotSeconds = 0.05;  // expected time between snapshots
  // false: the own ship is interpolated like every other one (a replay, whose
  // keys are not known).
  bool predictOwn = true;
};

inline constexpr int SMOOTH_HISTORY = 8;  // snapshots kept
inline constexpr int SMOOTH_KEY_CHANGES = 64;
inline constexpr int SMOOTH_TICKS = 64;  // snapshots the server's tick period is measured over
// Render delay never above this: slower servers are extrapolated instead.
inline constexpr double SMOOTH_MAX_DELAY = 0.3;

struct Quaternion {
  double w = 1, x = 0, y = 0, z = 0;
};

// A snapshot entity with what interpolation needs, worked out once.
struct HistoryEntity {
  SmoothEntity e;
  Quaternion q;
  bool rotation = false;  // orientation is a proper rotation (q holds it)
  bool placed = false;    // finite position and size inside the world
};

struct HistoryFrame {
  std::array<HistoryEntity, MAX_OBJECTS> objects;
  std::array<HistoryEntity, MAX_PLAYERS> players;
  double arrival = 0;  // as recorded
  // When the server's world looked like this, on the caller's clock: on the
  // server's tick grid once that is known, else the arrival less the mean
  // age of a snapshot's contents.
  double time = 0;
  std::int64_t serial = 0;
};

// One snapshot on the server's tick grid: its tick count and when its
// contents were.
struct TickPoint {
  double tick = 0;
  double time = 0;
};

// Held keys as the server reads them: spin per axis -1, 0, +1 and the thrust
// along the ship's z axis in units of the acceleration constant.
struct KeyChange {
  double time = 0;
  std::array<std::int8_t, 3> spin{};
  float thrust = 0;
};

// The own ship as last drawn, and the error of the previous prediction that
// is being eased out.
struct OwnEasing {
  bool drawn = false;
  double time = 0;
  Vector3f position;
  Quaternion turn;
  std::int64_t base = -1;  // serial of the snapshot predicted from
  Vector3f offset;         // position error still shown
  Quaternion offsetTurn;   // orientation error still shown
  double since = 0;        // when the error was taken
};

struct Smoother {
  SmoothRates rates;
  // Snapshots, oldest first from `first`, `count` of them.
  std::array<HistoryFrame, SMOOTH_HISTORY> history;
  int first = 0;
  int count = 0;
  std::int64_t serial = 0;
  int ownSlot = -1;
  float worldWidth = 10.0f;
  // Clock: measured time between snapshots, its jitter, the mean age of
  // their contents, the last arrival, the render delay in use and the moment
  // of the last view.
  double interval = 0.05;
  double jitter = 0;
  int longGaps = 0;  // gaps of several intervals in a row
  double age = 0;    // mean of arrival - time
  double heard = 0;  // copies of the newest snapshot included
  double delay = 0;
  double lastView = 0;
  bool viewed = false;
  // The server's ticks, counted from how far things move: when the newest
  // snapshot's contents can have been (earliest, latest), the tick period
  // and how far it may be off per tick, and the recent snapshots on the
  // grid. Emptied when the count is lost.
  bool ticking = false;
  double earliest = 0;
  double latest = 0;
  double tickPeriod = 0.02;
  double tickSpread = 0;
  std::array<TickPoint, SMOOTH_TICKS> ticks;
  int tickFirst = 0;
  int tickCount = 0;
  std::array<KeyChange, SMOOTH_KEY_CHANGES> keys;
  int keyFirst = 0;
  int keyCount = 0;
  OwnEasing own;
};

// Empties the history, the keys and the clock; the rates are kept for what follows.
void smoother_reset(Smoother& s, const SmoothRates& rates);
// One snapshot as received. A copy of the newest one is ignored; a time far
// behind the newest, another own slot or another world width starts afresh.
void smoother_record(Smoother& s, const SmoothFrame& frame);
// The held keys (16 KeyState bytes) from this moment on.
void smoother_keys(Smoother& s, double time, const KeyStateArray& keys);
// The world to draw at `now` into out; false when nothing has been recorded.
bool smoother_view(Smoother& s, double now, SmoothFrame& out);
// Seconds between the moment a view is asked for and the world it shows for
// the other objects (the delay in use after the last view).
inline double smoother_render_delay(const Smoother& s) { return s.delay; }

// Rotation helpers, shared with the tests and the benchmark. A matrix's rows
// are the local axes; q of a product is the product of the q.
bool is_rotation(const Matrix3f& m);
Quaternion to_quaternion(const Matrix3f& m);  // m must be a rotation
Matrix3f to_matrix(Quaternion q);
Quaternion multiply(Quaternion a, Quaternion b);
Quaternion conjugate(Quaternion q);
// The rotation from a towards b, u = 0 at a and 1 at b (beyond 1 it goes on).
Quaternion rotate_towards(Quaternion a, Quaternion b, double u);
// Angle of the rotation between a and b, in degrees.
double angle_between(Quaternion a, Quaternion b);

}  // namespace zbx
