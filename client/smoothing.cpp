// The smoother between the receiver's mirror and the drawing.
#include "client/smoothing.h"

#include <chrono>
#include <memory>

#include "client/client.h"
#include "startup/settings.h"

namespace zbx {

namespace {

// One game's smoothing; lives for the process, refilled at every game.
struct Smoothing {
  bool enabled = false;  // this game smooths
  bool active = false;   // drawn holds this frame's world
  std::unique_ptr<Smoother> smoother;
  std::unique_ptr<SmoothFrame> received;  // the receiver's frame being recorded
  std::unique_ptr<SmoothFrame> view;      // the window thread's frame
  WorldMirror drawn;
  KeyStateArray noted{};
};
Smoothing g_smoothing;

SmoothEntity entity_of(const MirrorObject& o, const Matrix3f& orientation) {
  SmoothEntity e;
  e.present = 1;
  e.kind = o.kind;
  e.size = o.size;
  e.position = o.position;
  e.orientation = orientation;
  return e;
}

template <typename T>
T& record_in(std::unique_ptr<T>& slot) {
  if (!slot) slot = std::make_unique<T>();
  return *slot;
}

}  // namespace

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void smooth_frame_from_mirror(const WorldMirror& mirror, SmoothFrame& frame) {
  frame.ownSlot = mirror.join.slot;
  frame.worldWidth = mirror.join.worldWidth;
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const MirrorObject* o = mirror.objects[i].get();
    frame.objects[i] = o ? entity_of(*o, o->orientation) : SmoothEntity{};
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const MirrorPlayer* p = mirror.players[i].get();
    if (!p) {
      frame.players[i] = SmoothEntity{};
      continue;
    }
    SmoothEntity e = entity_of(*p, i == mirror.join.slot ? p->flightOrientation : p->orientation);
    e.kind = KIND_SHIP;
    e.alive = p->alive;
    e.shieldActive = p->shieldActive != 0 ? 1 : 0;
    e.warping = p->warping;
    frame.players[i] = e;
  }
}

SmoothRates smooth_rates(const ServerTraits& traits, bool replay) {
  SmoothRates r;
  r.rotationSpeed = traits.rotationSpeed;
  r.acceleration = traits.acceleration;
  r.deceleration = traits.deceleration;
  // The server's loop runs every 2 x GAME_SLEEP ms and steps the world once
  // ten units of GAME_SLEEP have gathered.
  const int sleep = std::max(traits.gameSleep, 1);
  const int iterations = (10 + sleep - 1) / sleep;
  r.stepSeconds = 0.002 * sleep * iterations;
  r.snapshotSeconds = traits.netSleep / 1000.0;
  r.predictOwn = !replay;
  return r;
}

void begin_smoothing(bool replay) {
  Smoothing& s = g_smoothing;
  s.enabled = g_client_settings.SMOOTH_MOTION != 0;
  s.active = false;
  for (auto& o : s.drawn.objects) o.reset();
  for (auto& p : s.drawn.players) p.reset();
  s.noted = g_connection.KeyState;
  if (!s.enabled) return;
  if (!s.smoother) {
    s.smoother = std::make_unique<Smoother>();
    s.received = std::make_unique<SmoothFrame>();
    s.view = std::make_unique<SmoothFrame>();
  }
  smoother_reset(*s.smoother, smooth_rates(g_mirror.join.traits, replay));
  smoother_keys(*s.smoother, replay ? 0.0 : steady_seconds(), s.noted);
}

void record_snapshot(double arrival) {
  Smoothing& s = g_smoothing;
  if (!s.enabled) return;
  smooth_frame_from_mirror(g_mirror, *s.received);
  s.received->time = arrival;
  smoother_record(*s.smoother, *s.received);
}

void note_held_keys(double time) {
  Smoothing& s = g_smoothing;
  s.noted = g_connection.KeyState;
  if (s.enabled) smoother_keys(*s.smoother, time, s.noted);
}

void refresh_drawn_world(double now) {
  Smoothing& s = g_smoothing;
  s.active = false;
  if (!s.enabled) return;
  // Keys changed by a path that did not say so count from now.
  if (g_connection.KeyState != s.noted) note_held_keys(now);
  if (!smoother_view(*s.smoother, now, *s.view)) return;
  const SmoothFrame& v = *s.view;
  WorldMirror& d = s.drawn;
  d.join = g_mirror.join;
  d.matchRunning = g_mirror.matchRunning;
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const SmoothEntity& e = v.objects[i];
    if (!e.present) {
      d.objects[i].reset();
      continue;
    }
    // A record made when the object comes into the drawn world: its
    // explosion age starts there.
    MirrorObject& o = record_in(d.objects[i]);
    o.kind = e.kind;
    o.size = e.size;
    o.position = e.position;
    o.orientation = e.orientation;
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const SmoothEntity& e = v.players[i];
    const MirrorPlayer* source = g_mirror.players[i].get();
    const bool own = i == g_mirror.join.slot;
    if ((own && !source) || (!own && !e.present)) {
      d.players[i].reset();
      continue;
    }
    MirrorPlayer& p = record_in(d.players[i]);
    if (source) p = *source;  // names, scores and the own HUD values
    if (!e.present) continue;
    p.position = e.position;
    if (own) {
      p.flightOrientation = e.orientation;
      continue;
    }
    p.orientation = e.orientation;
    p.size = e.size;
    p.alive = e.alive;
    p.shieldActive = e.shieldActive;
  }
  s.active = true;
}

void advance_drawn_explosions(float increment) {
  if (g_smoothing.active) advance_explosions(g_smoothing.drawn, increment);
}

const WorldMirror& drawn_mirror() { return g_smoothing.active ? g_smoothing.drawn : g_mirror; }

const MirrorPlayer* drawn_own_player() {
  const WorldMirror& m = drawn_mirror();
  const int slot = m.join.slot;
  if (slot < 0 || slot >= MAX_PLAYERS) return nullptr;
  return m.players[slot].get();
}

}  // namespace zbx
