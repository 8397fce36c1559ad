// When each snapshot's world was. The server's loop ticks at a steady pace
// and a snapshot shows the world of the last tick before it left, so its
// contents are up to a tick older than its arrival, by a different amount
// every time. The ticks between snapshots are counted from how far the
// objects moved; each arrival then bounds the tick's moment (not after the
// arrival, not a tick before it), and carrying the bounds forward by the
// counted ticks narrows them to the server's own grid.
#include <algorithm>
#include <cmath>

#include "history.h"

namespace zbx::smooth {

namespace {

constexpr int MOST_STEPS = 6;   // more steps to an interval are not counted
constexpr int LONGEST_RUN = 7;  // intervals an object's speed is measured over
constexpr int MOST_SAMPLES = 64;
constexpr double SLOWEST = 0.01;   // units a second: slower objects tell nothing
constexpr double LATE = 0.001;     // arrivals may come this much late
constexpr int PERIOD_POINTS = 20;  // before this many, the nominal period is used
constexpr double LOOSE = 0.01;     // share of a period the bounds widen per tick until then
constexpr double TIGHT = 0.004;    // and after

TickPoint& tick_at(Smoother& s, int i) {
  return s.ticks[static_cast<std::size_t>((s.tickFirst + i) % SMOOTH_TICKS)];
}

// World steps between the two newest snapshots: for every object that moves
// steadily, its last move over its speed; the median, when it is close to a
// whole number.
int steps_between(const Smoother& s) {
  const int last = s.count - 1;
  if (last < 2) return -1;
  const float w = s.worldWidth;
  const HistoryFrame& newest = frame_at(s, last);
  const HistoryFrame& before = frame_at(s, last - 1);
  std::array<double, MOST_SAMPLES> counts;
  int k = 0;
  for (int j = 0; j < MAX_OBJECTS && k < MOST_SAMPLES; ++j) {
    if (!newest.objects[j].e.present) continue;
    int run = 0;
    Offset total;
    while (run < LONGEST_RUN && run < last) {
      const HistoryFrame& a = frame_at(s, last - run - 1);
      const HistoryFrame& b = frame_at(s, last - run);
      const HistoryEntity& ea = a.objects[j];
      const HistoryEntity& eb = b.objects[j];
      if (!continuous(s, ea, a.arrival, eb, b.arrival)) break;
      const Offset d = short_offset(ea.e.position, eb.e.position, w);
      total = {total.x + d.x, total.y + d.y, total.z + d.z};
      ++run;
    }
    if (run < 2) continue;
    const double speed = length(total) / (newest.arrival - frame_at(s, last - run).arrival);
    if (!(speed > SLOWEST)) continue;
    const double move =
        length(short_offset(before.objects[j].e.position, newest.objects[j].e.position, w));
    counts[static_cast<std::size_t>(k++)] = move / (speed * s.rates.stepSeconds);
  }
  if (k == 0) return -1;
  std::nth_element(counts.begin(), counts.begin() + k / 2, counts.begin() + k);
  const double median = counts[static_cast<std::size_t>(k / 2)];
  const double whole = std::round(median);
  if (whole < 1 || whole > MOST_STEPS || std::fabs(median - whole) > 0.4) return -1;
  return static_cast<int>(whole);
}

// The tick period by least squares over the recent snapshots on the grid.
void measure_period(Smoother& s) {
  const double nominal = s.rates.stepSeconds;
  if (s.tickCount < PERIOD_POINTS) {
    if (s.tickSpread != TIGHT * nominal) {  // nothing measured yet
      s.tickPeriod = nominal;
      s.tickSpread = LOOSE * nominal;
    }
    return;
  }
  double mt = 0, mv = 0;
  for (int i = 0; i < s.tickCount; ++i) {
    mt += tick_at(s, i).tick;
    mv += tick_at(s, i).time;
  }
  mt /= s.tickCount;
  mv /= s.tickCount;
  double stt = 0, stv = 0;
  for (int i = 0; i < s.tickCount; ++i) {
    const double dt = tick_at(s, i).tick - mt;
    stt += dt * dt;
    stv += dt * (tick_at(s, i).time - mv);
  }
  const double slope = stt > 0 ? stv / stt : nominal;
  s.tickPeriod = std::clamp(slope, 0.9 * nominal, 1.1 * nominal);
  s.tickSpread = TIGHT * nominal;
}

// Bounds from this arrival alone; the measured period is kept.
void start_ticks(Smoother& s, double arrival) {
  s.ticking = true;
  s.earliest = arrival - s.tickPeriod - LATE;
  s.latest = arrival;
  s.tickFirst = 0;
  s.tickCount = 0;
  tick_at(s, s.tickCount++) = {0, 0.5 * (s.earliest + s.latest)};
  if (s.tickSpread <= 0) measure_period(s);
}

}  // namespace

void forget_ticks(Smoother& s) {
  s.ticking = false;
  s.tickFirst = 0;
  s.tickCount = 0;
  s.tickPeriod = s.rates.stepSeconds;
  s.tickSpread = 0;
}

double content_time(Smoother& s) {
  const HistoryFrame& h = frame_at(s, s.count - 1);
  const double step = s.rates.stepSeconds;
  const double previous = s.count >= 2 ? frame_at(s, s.count - 2).time : -1e300;
  double time = 0;
  bool placed = false;
  // The ticks since the last snapshot, as counted from the motion; two steps
  // can fall on one tick (a server catching up), so one fewer when the count
  // does not fit this arrival. Without a count (nothing moves steadily, or
  // not by whole ticks) the arrival stands in.
  const int counted = s.ticking ? steps_between(s) : -1;
  if (counted >= 1) {
    const double late = h.arrival - s.tickPeriod - LATE;
    double best = -1, bestLo = 0, bestHi = 0;
    int bestTicks = 0;
    for (int m : {counted, counted - 1}) {
      const double lo = std::max(s.earliest + m * (s.tickPeriod - s.tickSpread), late);
      const double hi = std::min(s.latest + m * (s.tickPeriod + s.tickSpread), h.arrival);
      if (m >= 1 && hi >= lo) {
        best = hi - lo;
        bestLo = lo;
        bestHi = hi;
        bestTicks = m;
        break;
      }
    }
    if (best >= 0) {
      s.earliest = bestLo;
      s.latest = bestHi;
      // A little past the middle: late arrivals widen the bounds downwards.
      time = bestLo + 0.6 * (bestHi - bestLo);
      const double tick = tick_at(s, s.tickCount - 1).tick + bestTicks;
      if (s.tickCount == SMOOTH_TICKS) {
        s.tickFirst = (s.tickFirst + 1) % SMOOTH_TICKS;
        --s.tickCount;
      }
      tick_at(s, s.tickCount++) = {tick, time};
      measure_period(s);
      placed = true;
    }
  }
  if (!placed) {
    // The mean age, and the bounds start again from this arrival.
    start_ticks(s, h.arrival);
    const double base = h.arrival - 0.5 * std::min(s.interval, step);
    // Snapshots that came in a burst spread over an interval.
    time = std::clamp(previous + 0.5 * s.interval, base, base + s.interval);
  }
  time = std::max(time, previous + 0.25 * std::min(step, s.interval));
  s.age += (h.arrival - time - s.age) / 8;
  return time;
}

}  // namespace zbx::smooth
