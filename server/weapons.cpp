// Shots, nukes, and the explosion objects that mark where things were destroyed.
#include <memory>

#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

// position + ax*row 0 + ay*row 1 + az*row 2, summed in double, wrapped.
Vector3f offset_from(Vector3f p, const Matrix3f& m, double ax, double ay, double az) {
  auto component = [&](float base, int col) {
    return static_cast<float>(base + ax * m[col] + ay * m[3 + col] + az * m[6 + col]);
  };
  return wrap_position({component(p.x, 0), component(p.y, 1), component(p.z, 2)});
}

// Creates a projectile flying along the ship's nose at `speed` on top of its
// own velocity; false when the table is full.
bool create_projectile(const Ship& ship, int kind, Vector3f position, float speed, float size) {
  const int slot = find_free_object_slot();
  if (slot < 0) return false;
  const Matrix3f& m = ship.orientation;
  const Vector3f velocity =
      limit_velocity({ship.velocity.x - speed * m[6], ship.velocity.y - speed * m[7],
                      ship.velocity.z - speed * m[8]});
  auto record = std::make_unique<WorldObject>();
  init_object(*record, kind, ship.owner, position, velocity, {}, size, 0.05f);
  // Drawn pointing the way the ship pointed.
  record->orientation = ship.inverseOrientation;
  g_world.objects[slot] = std::move(record);
  return true;
}

void create_explosion(int kind, Vector3f position) {
  const int slot = find_free_object_slot();
  if (slot < 0) return;
  auto record = std::make_unique<WorldObject>();
  init_object(*record, kind, 1, position, {}, {}, 1.0f, 0.0f);
  g_world.objects[slot] = std::move(record);
}

}  // namespace

void fire_shot(Ship& ship) {
  if (!ship_flies(ship)) return;
  queue_sound(ship.owner, ship, 0);
  const double r = ship.gunSide * 0.047;
  ship.gunSide = -ship.gunSide;
  const Vector3f position = offset_from(ship.position, ship.orientation, r, 0.022, -0.06);
  create_projectile(ship, KIND_SHOT, position, g_server_settings.SHOT_SPEED, 0.01f);
}

void launch_nuke(Ship& ship) {
  if (!ship_flies(ship) || ship.warpTimer != 0 || ship.nukes <= 0) return;
  queue_sound(ship.owner, ship, 19);
  for (int s = 0; s < MAX_PLAYERS; ++s) {
    if (s != ship.owner) queue_sound(s, ship, 21);
  }
  const Vector3f position = offset_from(ship.position, ship.orientation, 0.0, -0.1, -0.06);
  if (create_projectile(ship, KIND_NUKE, position, g_server_settings.NUKE_SPEED, 0.1f)) {
    --ship.nukes;
  }
}

void spawn_explosion(int slot, int source) {
  if (source == 0) {
    if (slot < 0 || slot >= MAX_OBJECTS || !g_world.objects[slot]) return;
    create_explosion(KIND_SMALL_EXPLOSION, g_world.objects[slot]->position);
  } else if (source == 1) {
    if (slot < 0 || slot >= MAX_PLAYERS || !g_world.players[slot]) return;
    create_explosion(KIND_SHIP_EXPLOSION, g_world.players[slot]->position);
  }
}

void nuke_removal_effect(const WorldObject& nuke) {
  const int slot = find_free_object_slot();
  if (slot < 0) return;
  auto blast = std::make_unique<WorldObject>();
  init_object(*blast, KIND_NUKE_EXPLOSION, nuke.owner, nuke.position, {}, nuke.spin, 0.1f, 0.0f);
  g_world.objects[slot] = std::move(blast);
  queue_sound_all(nuke, 20);
}

}  // namespace zbx
