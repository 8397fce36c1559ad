#include "client/mirror.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "client/hooks.h"
#include "protocol/torus.h"

namespace zbx {

WorldMirror g_mirror;

std::mutex& mirror_mutex() {
  static std::mutex m;
  return m;
}

MirrorPlayer* own_player() {
  const int slot = g_mirror.join.slot;
  if (slot < 0 || slot >= MAX_PLAYERS) return nullptr;
  return g_mirror.players[slot].get();
}

void clear_mirror() {
  for (auto& o : g_mirror.objects) o.reset();
  for (auto& p : g_mirror.players) p.reset();
  g_mirror.matchRunning = 0;
}

void apply_presence(WorldMirror& mirror, const PresenceMessage& m) {
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    if (m.objects[i] == 0) mirror.objects[i].reset();
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    // The own record stays so the HUD keeps its last values.
    if (m.players[i] == 0 && i != mirror.join.slot) mirror.players[i].reset();
  }
  mirror.matchRunning = m.matchRunning;
}

namespace {

// The record in slot of a table, made if the slot is empty; null for a slot
// outside the table (any sender can reach us).
template <typename T, std::size_t N>
T* record_at(std::array<std::unique_ptr<T>, N>& table, int slot) {
  if (slot < 0 || slot >= static_cast<int>(N)) return nullptr;
  auto& entry = table[static_cast<std::size_t>(slot)];
  if (!entry) entry = std::make_unique<T>();
  return entry.get();
}

}  // namespace

void apply_player_message(WorldMirror& mirror, const PlayerMessage& m, int& warpLoop) {
  MirrorPlayer* record = record_at(mirror.players, m.slot);
  if (record == nullptr) return;
  MirrorPlayer& p = *record;
  p.position = m.position;
  p.score = m.score;
  p.lives = m.lives;
  p.size = m.size;
  p.shieldActive = m.shieldActive;
  p.shield = m.shield;
  p.armor = m.armor;
  p.hitFlash = m.hit;
  p.alive = m.alive;
  p.warps = m.warps;
  p.nukes = m.nukes;
  p.warping = m.warping == 1 ? 1 : 0;
  // Any sender can reach us: a name without its NUL is cut to 19 characters.
  const std::size_t len = strnlen(m.name, sizeof m.name - 1);
  std::memcpy(p.name, m.name, len);
  p.name[len] = '\0';

  if (m.slot == mirror.join.slot) {
    p.flightOrientation = m.orientation;
    if (m.warping == 1 && warpLoop == -1) {
      warpLoop = g_client_hooks.play_loop(SOUND_WARP_LOOP);
    } else if (m.warping == 0 && warpLoop != -1) {
      g_client_hooks.stop_loop(warpLoop);
      warpLoop = -1;
    }
  } else {
    p.orientation = m.orientation;
  }
}

void apply_object_message(WorldMirror& mirror, const ObjectMessage& m) {
  MirrorObject* record = record_at(mirror.objects, m.slot);
  if (record == nullptr) return;
  MirrorObject& o = *record;
  o.position = m.position;
  o.orientation = m.orientation;
  o.kind = m.kind;
  o.size = m.size;
}

void apply_sound_event(const WorldMirror& mirror, const SoundEventMessage& m) {
  if (m.sound < 0 || m.sound >= NUM_SOUNDS) return;
  const int slot = mirror.join.slot;
  if (slot < 0 || slot >= MAX_PLAYERS || !mirror.players[slot]) return;
  const MirrorPlayer& own = *mirror.players[slot];
  g_client_hooks.play_sound_at(
      m.sound,
      sound_position(m.position, own.position, own.flightOrientation, mirror.join.worldWidth));
}

Vector3f sound_position(Vector3f p, Vector3f own, const Matrix3f& flightOrientation,
                        float worldWidth) {
  return to_camera(wrapped_offset(p, own, worldWidth), flightOrientation);
}

bool compare_scores(const PlayerSlots& players, int a, int b) {
  const MirrorPlayer* pa = players[static_cast<std::size_t>(a)].get();
  const MirrorPlayer* pb = players[static_cast<std::size_t>(b)].get();
  if (pa && pb && pa->score != pb->score) return pa->score > pb->score;
  if (pa && !pb) return true;
  if (!pa && pb) return false;
  return a < b;
}

std::array<int, MAX_PLAYERS> scoreboard_order(const PlayerSlots& players) {
  std::array<int, MAX_PLAYERS> slots;
  std::iota(slots.begin(), slots.end(), 0);
  std::sort(slots.begin(), slots.end(),
            [&players](int a, int b) { return compare_scores(players, a, b); });
  return slots;
}

}  // namespace zbx
