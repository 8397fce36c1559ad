// Smooth motion measured against the server's own world, without a window.
//
// A real server in this process runs a single-player-like game (two bots,
// ten asteroids) and sends a snapshot every 10 ms to a client here that
// steers by a script of key presses (turns, thrust, fire) for
// ZBX_SMOOTH_SECONDS (default 30). Every snapshot is kept with its arrival
// time. Keeping the first arrival of each new world gives every world step:
// that is the truth. The stream is then thinned to what a default server
// sends (the first snapshot after each 50 ms) and replayed with its real
// arrival times into a frame loop at 50 frames a second, once drawing the
// newest snapshot as the game does with SMOOTH_MOTION 0 and once through the
// smoother. Printed side by side: frames that repeat the previous one while
// the world moves, object positions against the truth in pixels of a
// 640 x 480 view, the own view's orientation against the truth, and how long
// a turn key takes to turn the view.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/client.h"
#include "client/smoothing.h"
#include "protocol/protocol.h"
#include "protocol/torus.h"
#include "server/server.h"
#include "smooth/smooth.h"
#include "startup/settings.h"
#include "testing/loopback.h"

namespace {

using namespace zbx;

constexpr double STEP = 0.020;          // world step of GAME_SLEEP 10
constexpr double THINNED = 0.050;       // a default server's NET_SLEEP_TIME
constexpr double FRAME = 0.020;         // the game's frame pacing
constexpr double FOCAL = 415.69219381;  // 240 / tan(30 degrees): pixels per unit at depth 1

struct Datagram {
  double time;
  std::vector<std::uint8_t> bytes;
};

// One snapshot, only its present entities (slot; players from 1000).
struct Snap {
  double arrival = 0;
  int step = -1;  // world step shown
  std::vector<std::pair<int, SmoothEntity>> entities;
};

struct KeyAt {
  double time;
  int control;
  bool pressed;
};

// ---- recording ----

struct Recording {
  std::vector<Datagram> datagrams;
  std::vector<KeyAt> keys;
  int ownSlot = 0;
  float worldWidth = 10;
};

// The script of one 4-second round, as (seconds into the round, control, pressed).
constexpr KeyAt ROUND[] = {
    {0.00, CONTROL_Y_FORWARD_ROTATE, true},
    {0.60, CONTROL_Y_FORWARD_ROTATE, false},
    {0.90, CONTROL_X_FORWARD_ROTATE, true},
    {1.30, CONTROL_X_FORWARD_ROTATE, false},
    {1.50, CONTROL_FORWARD_THRUST, true},
    {1.80, CONTROL_Z_FORWARD_ROTATE, true},
    {2.20, CONTROL_Z_FORWARD_ROTATE, false},
    {2.50, CONTROL_FORWARD_THRUST, false},
    {2.70, CONTROL_FIRE, true},
    {3.00, CONTROL_Y_BACKWARD_ROTATE, true},
    {3.20, CONTROL_FIRE, true},
    {3.40, CONTROL_Y_BACKWARD_ROTATE, false},
    {3.60, CONTROL_FIRE, true},
};
constexpr double ROUND_SECONDS = 4.0;

Recording record_game(double seconds) {
  Recording rec;
  g_server_settings = ServerSettings{};
  g_server_settings.MAX_NUMBER_OF_PLAYERS = 1;
  g_server_settings.GAME_PORT = test::free_udp_port();
  g_server_settings.NET_SLEEP_TIME = 10;
  g_server_settings.START_LIVES = 99;
  g_server_settings.START_ASTEROIDS = 10;
  g_server_settings.NUM_BOTS = 2;
  const int port = g_server_settings.GAME_PORT;
  ServerControl control;
  auto server = std::async(std::launch::async, [&control] { ServerThread(1, control); });
  for (int i = 0; i < 200 && !test::udp_port_bound(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  timeval tv{0, 200000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const sockaddr_in to = test::loopback_address(port);
  auto send = [&](const void* data, std::size_t n) {
    sendto(fd, data, n, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  };
  std::uint8_t request[JOIN_REQUEST_SIZE];
  encode_join_request("Bench", request);
  std::uint8_t buffer[DATAGRAM_BUFFER_SIZE];
  bool joined = false;
  for (int attempt = 0; attempt < 10 && !joined; ++attempt) {
    send(request, sizeof request);
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == static_cast<ssize_t>(JOIN_REPLY_SIZE)) {
      const JoinReply reply = decode_join_reply(buffer);
      rec.ownSlot = reply.slot;
      rec.worldWidth = reply.worldWidth;
      joined = true;
    }
  }
  if (!joined) {
    std::puts("no join");
    std::exit(1);
  }

  std::atomic<bool> stop{false};
  std::mutex lock;
  std::thread receiver([&] {
    std::uint8_t data[DATAGRAM_BUFFER_SIZE];
    while (!stop.load()) {
      const ssize_t n = recv(fd, data, sizeof data, 0);
      if (n <= 0) continue;
      const double t = steady_seconds();
      std::lock_guard<std::mutex> g(lock);
      rec.datagrams.push_back({t, std::vector<std::uint8_t>(data, data + n)});
    }
  });

  KeyStateArray held{};
  const double start = steady_seconds() + 1.0;
  double nextUpdate = steady_seconds();
  for (int round = 0; round * ROUND_SECONDS < seconds; ++round) {
    for (const KeyAt& k : ROUND) {
      // Each round a little later, so presses fall anywhere between two frames.
      const double at = start + round * (ROUND_SECONDS + 0.0073) + k.time;
      while (steady_seconds() < at) {
        if (steady_seconds() >= nextUpdate) {  // the once-a-second key state
          send(held.data(), held.size());
          nextUpdate += 1.0;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      const double t = steady_seconds();
      if (const int byte = key_state_byte(k.control); byte >= 0) held[byte] = k.pressed ? 1 : 0;
      const std::uint8_t event = encode_key_event(k.control, k.pressed);
      send(&event, 1);
      rec.keys.push_back({t, k.control, k.pressed});
    }
  }
  const std::uint8_t quit = encode_key_event(CONTROL_QUIT, true);
  send(&quit, 1);
  stop.store(true);
  receiver.join();
  close(fd);
  control.stop.store(1);
  const int waker = socket(AF_INET, SOCK_DGRAM, 0);
  while (server.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    sendto(waker, "xx", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  close(waker);
  return rec;
}

// ---- from datagrams to snapshots and world steps ----

struct Parse {
  WorldMirror mirror;
  std::vector<Snap> snaps;
  double arrival = 0;
  std::unique_ptr<SmoothFrame> frame = std::make_unique<SmoothFrame>();
};

void on_presence(void* c, const PresenceMessage& m) {
  auto* p = static_cast<Parse*>(c);
  apply_presence(p->mirror, m);
  smooth_frame_from_mirror(p->mirror, *p->frame);
  Snap s;
  s.arrival = p->arrival;
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    if (p->frame->objects[i].present) s.entities.push_back({i, p->frame->objects[i]});
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    if (p->frame->players[i].present) s.entities.push_back({1000 + i, p->frame->players[i]});
  }
  p->snaps.push_back(std::move(s));
}
void on_player(void* c, const PlayerMessage& m) {
  int loop = 0;  // no sound here
  apply_player_message(static_cast<Parse*>(c)->mirror, m, loop);
}
void on_object(void* c, const ObjectMessage& m) {
  apply_object_message(static_cast<Parse*>(c)->mirror, m);
}

bool same(const Snap& a, const Snap& b) {
  if (a.entities.size() != b.entities.size()) return false;
  for (std::size_t i = 0; i < a.entities.size(); ++i) {
    if (a.entities[i].first != b.entities[i].first ||
        std::memcmp(&a.entities[i].second, &b.entities[i].second, sizeof(SmoothEntity)) != 0) {
      return false;
    }
  }
  return true;
}

// The step clock: when each world step happened on this clock.
struct StepClock {
  std::vector<double> times;  // by step
  double period = STEP;       // mean, for the report
  // The fractional step at time t.
  double at(double t) const {
    const auto it = std::upper_bound(times.begin(), times.end(), t);
    if (it == times.begin()) return 0;
    if (it == times.end()) return static_cast<double>(times.size() - 1);
    const std::size_t k = static_cast<std::size_t>(it - times.begin()) - 1;
    return static_cast<double>(k) + (t - times[k]) / (times[k + 1] - times[k]);
  }
  double of(int k) const {
    return times[static_cast<std::size_t>(std::clamp(k, 0, static_cast<int>(times.size()) - 1))];
  }
};

struct Truth {
  std::vector<int> byStep;  // step -> index into steps, -1 if not seen
  std::vector<const Snap*> steps;
  StepClock clock;
};

// Numbers the worlds: a new world follows the last one by one step unless its
// first arrival comes much later. Each step's moment is then the line under
// the first arrivals of the steps around it (half a second either side): a
// world is first seen 0 to 10 ms after its step, and the server's pace
// wanders a little.
Truth find_steps(std::vector<Snap>& snaps) {
  Truth t;
  const Snap* last = nullptr;
  int step = 0;
  std::vector<std::pair<int, double>> firsts;
  for (Snap& s : snaps) {
    if (last && same(*last, s)) {
      s.step = last->step;
      continue;
    }
    if (last) {
      const double gap = s.arrival - last->arrival;
      step += gap < 1.75 * STEP ? 1 : static_cast<int>(std::lround(gap / STEP));
    }
    s.step = step;
    firsts.push_back({step, s.arrival});
    t.steps.push_back(&s);
    last = &s;
  }
  t.byStep.assign(static_cast<std::size_t>(step + 1), -1);
  for (std::size_t i = 0; i < t.steps.size(); ++i) {
    t.byStep[static_cast<std::size_t>(t.steps[i]->step)] = static_cast<int>(i);
  }
  t.clock.times.assign(static_cast<std::size_t>(step + 1), 0);
  std::size_t lo = 0, hi = 0;
  for (int k = 0; k <= step; ++k) {
    while (lo < firsts.size() && firsts[lo].first < k - 25) ++lo;
    while (hi < firsts.size() && firsts[hi].first <= k + 25) ++hi;
    double mk = 0, ma = 0;
    for (std::size_t i = lo; i < hi; ++i) {
      mk += firsts[i].first;
      ma += firsts[i].second;
    }
    const double n = static_cast<double>(hi - lo);
    mk /= n;
    ma /= n;
    double skk = 0, ska = 0;
    for (std::size_t i = lo; i < hi; ++i) {
      skk += (firsts[i].first - mk) * (firsts[i].first - mk);
      ska += (firsts[i].first - mk) * (firsts[i].second - ma);
    }
    const double slope = skk > 0 ? ska / skk : STEP;
    double origin = 1e300;
    for (std::size_t i = lo; i < hi; ++i) {
      origin = std::min(origin, firsts[i].second - slope * firsts[i].first);
    }
    double& at = t.clock.times[static_cast<std::size_t>(k)];
    at = origin + slope * k;
    if (k > 0) at = std::max(at, t.clock.times[static_cast<std::size_t>(k - 1)] + 1e-4);
  }
  t.clock.period = (t.clock.times.back() - t.clock.times.front()) / std::max(step, 1);
  return t;
}

const Snap* step_snap(const Truth& t, int k) {
  k = std::clamp(k, 0, static_cast<int>(t.byStep.size()) - 1);
  for (int d = 0; d < 5; ++d) {  // a step not seen: its neighbour
    for (int kk : {k - d, k + d}) {
      if (kk >= 0 && kk < static_cast<int>(t.byStep.size()) && t.byStep[kk] >= 0) {
        return t.steps[static_cast<std::size_t>(t.byStep[kk])];
      }
    }
  }
  return t.steps.front();
}

const SmoothEntity* find(const Snap& s, int key) {
  for (const auto& [k, e] : s.entities) {
    if (k == key) return &e;
  }
  return nullptr;
}

// The world at step time sigma: steps k and k + 1 blended (the server's
// world moves in steps; between them the truth is taken as the straight path).
void truth_at(const Truth& t, double sigma, float w, SmoothFrame& out) {
  const int k = static_cast<int>(std::floor(sigma));
  const double u = sigma - k;
  const Snap& a = *step_snap(t, k);
  const Snap& b = *step_snap(t, k + 1);
  for (auto& e : out.objects) e.present = 0;
  for (auto& e : out.players) e.present = 0;
  for (const auto& [key, ea] : a.entities) {
    SmoothEntity e = ea;
    const SmoothEntity* eb = find(b, key);
    if (eb && eb->kind == ea.kind && b.step > a.step) {
      Vector3f d = wrapped_offset(eb->position, ea.position, w);
      if (length(d) < 0.5f) {
        e.position = {ea.position.x + static_cast<float>(u) * d.x,
                      ea.position.y + static_cast<float>(u) * d.y,
                      ea.position.z + static_cast<float>(u) * d.z};
        if (is_rotation(ea.orientation) && is_rotation(eb->orientation)) {
          e.orientation = to_matrix(
              rotate_towards(to_quaternion(ea.orientation), to_quaternion(eb->orientation), u));
        }
      }
    }
    (key >= 1000 ? out.players[key - 1000] : out.objects[key]) = e;
  }
}

// ---- the frame loop ----

struct Stats {
  int frames = 0, moving = 0, repeated = 0;
  std::vector<double> shown, now;  // pixel errors: against the moment shown, against the frame
  std::vector<double> shownFar;    // the first for objects half a unit or more in front
  std::vector<double> view;        // own orientation error, degrees
  std::vector<double> turning;     // the same while a turn key is held
  std::vector<double> latency;     // key press to the first frame that turned, ms
  std::vector<double> pixel;       // key press to the first frame turned by a pixel, ms
  double delay = 0;
};

// Pixels of a camera-space point in the 640 x 480 view, if it is in front.
bool pixel(Vector3f c, double& x, double& y) {
  if (!(c.z < -0.1f)) return false;
  x = 320 + FOCAL * c.x / -c.z;
  y = 240 + FOCAL * c.y / -c.z;
  return std::isfinite(x) && std::isfinite(y);
}

// How far apart on the screen a drawn object and its true place are, both
// seen from the drawn camera at the true place's image in the wrapping world
// (so that one just across the far side is not counted as a world away).
// Only true places in view count; depth is the true place's.
bool screen_error(Vector3f drawn, Vector3f truth, const SmoothEntity& cam, float w, double& error,
                  float& depth) {
  const Vector3f t = wrapped_offset(truth, cam.position, w);
  const Vector3f d = wrapped_offset(drawn, truth, w);
  const Vector3f ct = to_camera(t, cam.orientation);
  const Vector3f cd = to_camera({t.x + d.x, t.y + d.y, t.z + d.z}, cam.orientation);
  double tx, ty, dx, dy;
  if (!pixel(ct, tx, ty) || !pixel(cd, dx, dy)) return false;
  if (tx < 0 || tx >= 640 || ty < 0 || ty >= 480) return false;
  error = std::hypot(dx - tx, dy - ty);
  depth = -ct.z;
  return true;
}

bool same_world(const SmoothFrame& a, const SmoothFrame& b) {
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    if (a.objects[i].present != b.objects[i].present) return false;
    if (a.objects[i].present &&
        std::memcmp(&a.objects[i], &b.objects[i], sizeof(SmoothEntity)) != 0) {
      return false;
    }
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    if (a.players[i].present != b.players[i].present) return false;
    if (a.players[i].present &&
        std::memcmp(&a.players[i], &b.players[i], sizeof(SmoothEntity)) != 0) {
      return false;
    }
  }
  return true;
}

void fill(const Snap& s, SmoothFrame& f) {
  for (auto& e : f.objects) e = SmoothEntity{};
  for (auto& e : f.players) e = SmoothEntity{};
  for (const auto& [key, e] : s.entities)
    (key >= 1000 ? f.players[key - 1000] : f.objects[key]) = e;
}

bool turn_held(const std::vector<KeyAt>& keys, double t) {
  int held = 0;
  for (const KeyAt& k : keys) {
    if (k.time > t) break;
    if (k.control >= CONTROL_X_FORWARD_ROTATE && k.control <= CONTROL_Z_BACKWARD_ROTATE) {
      held += k.pressed ? 1 : -1;
    }
  }
  return held > 0;
}

Stats run(bool smooth, const Recording& rec, const std::vector<const Snap*>& thin,
          const Truth& truth) {
  Stats st;
  const float w = rec.worldWidth;
  const int own = rec.ownSlot;
  auto smoother = std::make_unique<Smoother>();
  SmoothRates rates;  // the server's defaults, as the traits give them
  rates.snapshotSeconds = THINNED;
  smoother_reset(*smoother, rates);
  auto frame = std::make_unique<SmoothFrame>();
  frame->ownSlot = own;
  frame->worldWidth = w;
  auto drawn = std::make_unique<SmoothFrame>();
  auto previous = std::make_unique<SmoothFrame>();
  auto truthNow = std::make_unique<SmoothFrame>();
  auto truthShown = std::make_unique<SmoothFrame>();
  double previousSigma = -1;
  bool havePrevious = false;
  std::size_t next = 0, nextKey = 0;
  KeyStateArray held{};
  std::vector<double> presses;
  const double t0 = thin.front()->arrival + 1.0 + 0.0037;
  for (const KeyAt& k : rec.keys) {
    // Presses once the frames run (the first comes with the first frame).
    if (k.pressed && k.control >= CONTROL_X_FORWARD_ROTATE &&
        k.control <= CONTROL_Z_BACKWARD_ROTATE && k.time > t0 + FRAME) {
      presses.push_back(k.time);
    }
  }
  std::size_t press = 0;
  double pressAt = -1, turnedAt = -1, pixelAt = -1;
  Quaternion pressView;
  const double t1 = thin.back()->arrival - 0.3;
  double delaySum = 0;
  for (double t = t0; t < t1; t += FRAME) {
    while (nextKey < rec.keys.size() && rec.keys[nextKey].time <= t) {
      const KeyAt& k = rec.keys[nextKey++];
      if (const int byte = key_state_byte(k.control); byte >= 0) held[byte] = k.pressed ? 1 : 0;
      smoother_keys(*smoother, k.time, held);
    }
    const Snap* newest = nullptr;
    while (next < thin.size() && thin[next]->arrival <= t) {
      newest = thin[next];
      fill(*newest, *frame);
      frame->time = newest->arrival;
      smoother_record(*smoother, *frame);
      ++next;
    }
    if (next == 0) continue;
    newest = thin[next - 1];
    double shownSigma;
    if (smooth) {
      smoother_view(*smoother, t, *drawn);
      // The render time on the server's step clock.
      shownSigma = truth.clock.at(t - smoother_render_delay(*smoother));
      delaySum += smoother_render_delay(*smoother);
    } else {
      fill(*newest, *drawn);
      shownSigma = newest->step;
    }
    const double sigma = truth.clock.at(t);
    truth_at(truth, sigma, w, *truthNow);
    truth_at(truth, shownSigma, w, *truthShown);
    ++st.frames;

    const SmoothEntity& cam = drawn->players[own];
    const bool moving = havePrevious && std::floor(sigma) != std::floor(previousSigma);
    if (moving) {
      ++st.moving;
      if (same_world(*drawn, *previous)) ++st.repeated;
    }
    // Objects and other ships, seen from the drawn camera.
    if (cam.present) {
      auto errors = [&](const SmoothEntity& d, const SmoothEntity& a, const SmoothEntity& b) {
        double e;
        float depth;
        if (a.present && a.kind == d.kind &&
            screen_error(d.position, a.position, cam, w, e, depth)) {
          st.shown.push_back(e);
          if (depth >= 0.5f) st.shownFar.push_back(e);
        }
        if (b.present && b.kind == d.kind &&
            screen_error(d.position, b.position, cam, w, e, depth)) {
          st.now.push_back(e);
        }
      };
      for (int i = 0; i < MAX_OBJECTS; ++i) {
        if (drawn->objects[i].present)
          errors(drawn->objects[i], truthShown->objects[i], truthNow->objects[i]);
      }
      for (int i = 0; i < MAX_PLAYERS; ++i) {
        if (i != own && drawn->players[i].present && drawn->players[i].alive) {
          errors(drawn->players[i], truthShown->players[i], truthNow->players[i]);
        }
      }
      const SmoothEntity& real = truthNow->players[own];
      if (real.present && real.alive && is_rotation(real.orientation) &&
          is_rotation(cam.orientation)) {
        const double a =
            angle_between(to_quaternion(cam.orientation), to_quaternion(real.orientation));
        st.view.push_back(a);
        if (turn_held(rec.keys, t)) st.turning.push_back(a);
      }
    }
    // Key press to the first frame whose view has turned at all, and to the
    // first turned by a pixel at the middle of the view (60 / 480 degrees).
    if (press < presses.size() && presses[press] <= t && pressAt < 0 && havePrevious &&
        is_rotation(previous->players[own].orientation)) {
      pressAt = presses[press];
      pressView = to_quaternion(previous->players[own].orientation);
      turnedAt = pixelAt = -1;
    }
    if (pressAt >= 0 && cam.present && is_rotation(cam.orientation) &&
        is_rotation(previous->players[own].orientation)) {
      const Quaternion q = to_quaternion(cam.orientation);
      if (turnedAt < 0 &&
          angle_between(q, to_quaternion(previous->players[own].orientation)) > 0.001) {
        turnedAt = t;
      }
      if (pixelAt < 0 && angle_between(q, pressView) >= 0.125) pixelAt = t;
      if ((turnedAt >= 0 && pixelAt >= 0) || t - pressAt > 0.5) {
        if (turnedAt >= 0) st.latency.push_back((turnedAt - pressAt) * 1000);
        if (pixelAt >= 0) st.pixel.push_back((pixelAt - pressAt) * 1000);
        pressAt = -1;
        ++press;
      }
    }
    std::swap(drawn, previous);
    previousSigma = sigma;
    havePrevious = true;
  }
  st.delay = delaySum / std::max(st.frames, 1);
  return st;
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / static_cast<double>(v.size());
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

double largest(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// Microseconds per snapshot recorded and per frame viewed for a full table
// (512 moving, turning objects and 32 ships): what smoothing adds to the
// receiver's hold on the mirror mutex and to every frame.
void full_table_cost(double& record, double& view) {
  auto s = std::make_unique<Smoother>();
  auto f = std::make_unique<SmoothFrame>();
  auto out = std::make_unique<SmoothFrame>();
  smoother_reset(*s, SmoothRates{});
  f->ownSlot = 0;
  constexpr int SNAPSHOTS = 200;
  double recordSeconds = 0, viewSeconds = 0;
  for (int n = 0; n < SNAPSHOTS; ++n) {
    const float t = 2.5f * n;  // world steps
    for (int i = 0; i < MAX_OBJECTS; ++i) {
      const float a = 0.01f * t + i;
      f->objects[i] = {1,
                       0,
                       0,
                       0,
                       KIND_ASTEROID,
                       0.3f,
                       {std::fmod(-9.0f + i * 0.035f + 0.004f * t, 10.0f), 1.0f, -2.0f},
                       {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)}};
    }
    for (int i = 0; i < MAX_PLAYERS; ++i) {
      f->players[i] = {1, 1, 0, 0, KIND_SHIP, 0.2f, {0.1f * i, 0.005f * t, 0}, IDENTITY_MATRIX};
    }
    f->time = n * THINNED;
    auto a = std::chrono::steady_clock::now();
    smoother_record(*s, *f);
    auto b = std::chrono::steady_clock::now();
    for (int k = 0; k < 2; ++k) smoother_view(*s, n * THINNED + 0.02 * k, *out);
    auto c = std::chrono::steady_clock::now();
    recordSeconds += std::chrono::duration<double>(b - a).count();
    viewSeconds += std::chrono::duration<double>(c - b).count() / 2;
  }
  record = recordSeconds / SNAPSHOTS * 1e6;
  view = viewSeconds / SNAPSHOTS * 1e6;
}

}  // namespace

int main() {
  const char* env = std::getenv("ZBX_SMOOTH_SECONDS");
  const double seconds = env ? std::max(5.0, std::atof(env)) : 30.0;
  Recording rec = record_game(seconds);

  Parse parse;
  parse.mirror.join.slot = rec.ownSlot;
  parse.mirror.join.worldWidth = rec.worldWidth;
  SnapshotHandler h;
  h.context = &parse;
  h.on_presence = on_presence;
  h.on_player = on_player;
  h.on_object = on_object;
  for (const Datagram& d : rec.datagrams) {
    parse.arrival = d.time;
    parse_snapshot(d.bytes.data(), d.bytes.size(), h);
  }
  Truth truth = find_steps(parse.snaps);
  std::vector<const Snap*> thin;
  double grid = parse.snaps.front().arrival;
  for (const Snap& s : parse.snaps) {
    if (s.arrival >= grid) {
      thin.push_back(&s);
      grid += THINNED;
      while (grid <= s.arrival) grid += THINNED;
    }
  }
  int skipped = 0;
  for (std::size_t k = 0; k < truth.byStep.size(); ++k) skipped += truth.byStep[k] < 0 ? 1 : 0;

  const Stats off = run(false, rec, thin, truth);
  const Stats on = run(true, rec, thin, truth);
  std::printf(
      "\nrecorded %.0f s: %zu snapshots, %zu world steps (%d not seen), step %.3f ms; "
      "thinned to %zu snapshots (%.1f a second); %d frames, %d with the world moved\n",
      seconds, parse.snaps.size(), truth.steps.size(), skipped, truth.clock.period * 1000,
      thin.size(),
      static_cast<double>(thin.size()) / (thin.back()->arrival - thin.front()->arrival), on.frames,
      on.moving);
  std::printf("%-58s %14s %14s\n", "", "SMOOTH_MOTION 0", "SMOOTH_MOTION 1");
  auto row = [](const char* what, double a, double b, const char* unit) {
    std::printf("%-58s %11.2f %-3s %10.2f %-3s\n", what, a, unit, b, unit);
  };
  row("frames equal to the previous one while the world moves",
      100.0 * off.repeated / std::max(off.moving, 1), 100.0 * on.repeated / std::max(on.moving, 1),
      "%");
  row("object error vs the moment shown: mean", mean(off.shown), mean(on.shown), "px");
  row("object error vs the moment shown: 99th percentile", percentile(off.shown, 0.99),
      percentile(on.shown, 0.99), "px");
  row("  the same, objects 0.5 or more in front: 99th percentile", percentile(off.shownFar, 0.99),
      percentile(on.shownFar, 0.99), "px");
  row("object error vs the frame's moment: mean", mean(off.now), mean(on.now), "px");
  row("object error vs the frame's moment: 99th percentile", percentile(off.now, 0.99),
      percentile(on.now, 0.99), "px");
  row("own view orientation error: mean", mean(off.view), mean(on.view), "deg");
  row("own view orientation error: mean while turning", mean(off.turning), mean(on.turning), "deg");
  row("own view orientation error: 99th percentile", percentile(off.view, 0.99),
      percentile(on.view, 0.99), "deg");
  row("turn key to the first frame that turns: mean", mean(off.latency), mean(on.latency), "ms");
  row("turn key to the first frame that turns: longest", largest(off.latency), largest(on.latency),
      "ms");
  row("turn key to the first frame turned by a pixel: mean", mean(off.pixel), mean(on.pixel), "ms");
  row("turn key to the first frame turned by a pixel: longest", largest(off.pixel),
      largest(on.pixel), "ms");
  std::printf("%-58s %14s %11.1f ms\n", "render delay for the other objects (mean)", "-",
              on.delay * 1000);
  std::printf("key presses timed: %zu / %zu; object samples: %zu / %zu\n", off.latency.size(),
              on.latency.size(), off.shown.size(), on.shown.size());
  double record = 0, view = 0;
  full_table_cost(record, view);
  std::printf("full table (512 objects, 32 ships): %.1f us to record a snapshot, %.1f us a view\n",
              record, view);
  return 0;
}
