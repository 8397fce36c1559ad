// The smoother against worlds whose motion is known: a server that ticks
// every 20 ms and sends what it has every 50 ms, with objects across the
// wrap, turning, jumping and appearing, snapshots late or malformed, and the
// own ship turning on a held key.
#include "smooth/smooth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

namespace zbx {
namespace {

constexpr double STEP = 0.02;
constexpr double SEND = 0.05;
constexpr double FRAME = 0.02;

Matrix3f turn_y(double degrees) {
  const double r = degrees * 0.017453292519943295;
  const auto c = static_cast<float>(std::cos(r)), s = static_cast<float>(std::sin(r));
  return {c, 0, s, 0, 1, 0, -s, 0, c};
}

struct Game {
  std::unique_ptr<Smoother> s = std::make_unique<Smoother>();
  std::unique_ptr<SmoothFrame> f = std::make_unique<SmoothFrame>();
  std::unique_ptr<SmoothFrame> out = std::make_unique<SmoothFrame>();

  explicit Game(SmoothRates rates = {}) {
    smoother_reset(*s, rates);
    f->ownSlot = 0;
    f->worldWidth = 10;
    f->players[0] = {1, 1, 0, 0, KIND_SHIP, 0.2f, {0, 0, 0}, IDENTITY_MATRIX};
  }
  // The world at each tick (its number given) sent every 50 ms unless
  // world says no; frames every 20 ms in between: before, then the view
  // handed to look.
  void play(
      double until, const std::function<bool(int tick)>& world,
      const std::function<void(double now, const SmoothFrame&)>& look,
      const std::function<void(double now)>& before = [](double) {}) {
    double nextSend = 0.013;
    for (double now = 0.024; now < until; now += FRAME) {
      for (; nextSend <= now; nextSend += SEND) {
        if (!world(static_cast<int>(std::floor(nextSend / STEP)))) continue;
        f->time = nextSend + 0.0003;
        smoother_record(*s, *f);
      }
      before(now);
      ASSERT_TRUE(smoother_view(*s, now, *out));
      look(now, *out);
    }
  }
};

SmoothEntity rock(Vector3f p, Matrix3f o = IDENTITY_MATRIX) {
  return {1, 0, 0, 0, KIND_ASTEROID, 0.3f, p, o};
}

// Steadily moving rocks everywhere give the clock its count of ticks.
void background(SmoothFrame& f, int tick) {
  for (int i = 10; i < 20; ++i) {
    f.objects[i] = rock({-8.0f + i * 0.3f + 0.003f * (i - 9) * tick, 2.0f, -3.0f});
  }
}

TEST(Smoother, CrossesTheWrapTheShortWayEveryFrameAndOnTheServersTime) {
  Game r;
  double lastX = 0;
  int frames = 0;
  r.play(
      1.5,
      [&](int tick) {
        background(*r.f, tick);
        const double x = 9.0 + 0.01 * tick;  // crosses +10 at tick 100
        r.f->objects[1] = rock({static_cast<float>(x > 10 ? x - 20 : x), 0, -2});
        return true;
      },
      [&](double now, const SmoothFrame& v) {
        const float x = v.objects[1].position.x;
        ASSERT_TRUE(v.objects[1].present);
        ASSERT_TRUE(x >= 8.9f || x <= -9.0f) << "through the middle of the world: " << x;
        if (++frames > 10) {
          const double moved = x - lastX < -10 ? x - lastX + 20 : x - lastX;
          EXPECT_GT(moved, 0.0) << "a frame that repeats the one before, or goes back";
          EXPECT_LT(moved, 0.025);
        }
        lastX = x;
        // Once the tick clock has settled, the position is the server's at
        // the render time within 3 ms of its motion.
        if (now > 0.8) {
          const double tick = (now - smoother_render_delay(*r.s)) / STEP;
          double want = 9.0 + 0.01 * tick;
          if (want > 10) want -= 20;
          EXPECT_NEAR(x, want, 0.0015) << "at " << now;
        }
      });
}

TEST(Smoother, TurnsAsARotationAndPassesOtherRowsOnAsTheyCame) {
  Game r;
  Matrix3f skewed = IDENTITY_MATRIX;
  skewed[0] = 2;  // not a rotation
  r.play(
      0.6,
      [&](int tick) {
        background(*r.f, tick);
        r.f->objects[1] = rock({0, 0, -2}, turn_y(3.0 * tick));
        r.f->objects[2] = rock({1, 0, -2}, tick % 2 ? skewed : turn_y(90));
        return true;
      },
      [&](double, const SmoothFrame& v) {
        const Matrix3f& o = v.objects[1].orientation;
        EXPECT_TRUE(is_rotation(o));
        for (int i = 0; i < 9; i += 3) {
          EXPECT_NEAR(o[i] * o[i] + o[i + 1] * o[i + 1] + o[i + 2] * o[i + 2], 1.0f, 1e-5f);
        }
        const Matrix3f& p = v.objects[2].orientation;
        float off = 0;
        for (int i = 0; i < 9; ++i) off = std::max(off, std::fabs(p[i] - turn_y(90)[i]));
        EXPECT_TRUE(p == skewed || off < 1e-5f) << "blended with rows that are no rotation";
      });
}

TEST(Smoother, JumpsAndNewObjectsAreDrawnWhereTheyAreNeverOnTheWay) {
  Game r;
  bool sawNew = false;
  r.play(
      1.0,
      [&](int tick) {
        background(*r.f, tick);
        r.f->objects[1] = rock({tick < 25 ? 0.002f * tick : 6.0f, 0, -2});  // a hyper-warp
        r.f->objects[2] = tick < 30 ? SmoothEntity{} : rock({3, 1, -2});
        return true;
      },
      [&](double, const SmoothFrame& v) {
        const float x = v.objects[1].position.x;
        EXPECT_TRUE(x < 0.1f || x == 6.0f) << "drawn on the way: " << x;
        if (v.objects[2].present) {
          if (!sawNew) {
            EXPECT_EQ(v.objects[2].position.x, 3.0f) << "first drawn elsewhere";
          }
          sawNew = true;
        }
      });
  EXPECT_TRUE(sawNew);
}

TEST(Smoother, LateSnapshotsCarryOnForOneIntervalThenHold) {
  Game r;
  float last = 0;
  std::vector<float> after;
  r.play(
      2.0,
      [&](int tick) {
        background(*r.f, std::min(tick, 50));
        r.f->objects[1] = rock({0.01f * std::min(tick, 50), 0, -2});
        return true;
      },
      [&](double now, const SmoothFrame& v) {
        if (now > 1.2) after.push_back(v.objects[1].position.x);
        last = v.objects[1].position.x;
      });
  // Nothing has moved since tick 50 (1 s): the picture holds still, at most
  // one interval's motion past the last place.
  for (float x : after) EXPECT_EQ(x, last);
  EXPECT_LE(last, 0.5f + 0.01f * (SEND / STEP) + 1e-4f);
}

TEST(Smoother, BadInputNeverLeavesTheFiniteOrTheWorld) {
  for (double netSleep : {0.0, 0.05, 1.0}) {
    SmoothRates rates;
    rates.snapshotSeconds = netSleep;
    Game r(rates);
    const double times[] = {0.0, 0.05, 0.05, 0.05, 0.04, 0.3, 0.31, -5.0, -4.9, NAN, 3.0, 3.0};
    int n = 0;
    for (double t : times) {
      background(*r.f, n);
      r.f->objects[1] = rock({9.99f - 0.7f * (n % 3), 0, -2}, turn_y(40.0 * n));
      r.f->objects[2] = rock({NAN, 0, 0});
      r.f->objects[3] = rock({1, 1, 1}, {NAN, 0, 0, 0, 1, 0, 0, 0, 1});
      r.f->worldWidth = n == 9 ? NAN : 10.0f;
      r.f->time = t;
      smoother_record(*r.s, *r.f);
      for (double now : {t - 0.01, t + 0.03, t + 7.0}) {
        if (!smoother_view(*r.s, now, *r.out)) continue;
        for (const SmoothEntity& e : r.out->objects) {
          if (!e.present) continue;
          ASSERT_TRUE(is_finite(e.position));
          for (float c : {e.position.x, e.position.y, e.position.z}) ASSERT_LE(std::fabs(c), 10.0f);
        }
        EXPECT_FALSE(r.out->objects[2].present) << "drawn at a place that is not a number";
        EXPECT_TRUE(is_rotation(r.out->objects[1].orientation));
      }
      ++n;
    }
  }
}

// The own ship on a server that turns it 1.2 degrees a tick while the key is
// held (from the first tick after the press).
TEST(Smoother, OwnViewTurnsAtTheNextFrameEasesOntoSnapshotsAndHoldsWhenTheyStop) {
  Game r;
  const double press = 0.5071, release = 1.3;
  double turned = 0;  // degrees at the server
  int lastTick = -1;
  Quaternion previous;
  bool first = true;
  double afterPress = -1;
  r.play(
      2.9,
      [&](int tick) {
        background(*r.f, tick);
        for (; lastTick < tick; ++lastTick) {
          const double at = (lastTick + 1) * STEP;
          if (at > press && at <= release) turned += 1.2;
        }
        r.f->players[0].orientation = turn_y(turned);
        return tick * STEP < 1.0;  // then silence, the key still held
      },
      [&](double now, const SmoothFrame& v) {
        const Quaternion q = to_quaternion(v.players[0].orientation);
        const double change = first ? 0 : angle_between(previous, q);
        if (now > press && afterPress < 0) afterPress = change;
        EXPECT_LT(change, 1.2 * FRAME / STEP + 0.6) << "a jump at " << now;
        if (now > 0.7 && now < 0.95) {
          EXPECT_NEAR(angle_between(Quaternion{}, q), 1.2 * (now - press) / STEP, 1.5);
        }
        if (now > 1.35) {
          EXPECT_LT(change, 1e-3) << "still turning at " << now;
        }
        previous = q;
        first = false;
      },
      [&](double now) {
        KeyStateArray keys{};
        keys[KEYSTATE_Y_FORWARD_ROTATE] = 1;
        if (now > press && now - FRAME <= press) smoother_keys(*r.s, press, keys);
        if (now > release && now - FRAME <= release) smoother_keys(*r.s, release, {});
      });
  EXPECT_GT(afterPress, 0.0) << "the first frame after the press did not turn";
}

}  // namespace
}  // namespace zbx
