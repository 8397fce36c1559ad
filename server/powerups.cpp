// Powerups left behind by ship explosions, their pickup, and the hyper-warp.
#include <cstdlib>
#include <memory>

#include "rules.h"
#include "startup/settings.h"

namespace zbx {

void ship_explosion_removal_effect(const WorldObject& explosion) {
  if (std::rand() % 1024 >= g_server_settings.PRIZE_ODDS) return;
  const int slot = find_free_object_slot();
  if (slot < 0) return;
  const int kind = KIND_SHIELD_POWERUP + std::rand() % 4;
  auto prize = std::make_unique<WorldObject>();
  init_object(*prize, kind, 0, explosion.position, explosion.velocity, explosion.spin, 0.1f, 0.0f);
  g_world.objects[slot] = std::move(prize);
}

void apply_pickup(Ship& ship, const WorldObject& powerup) {
  switch (powerup.kind) {
    case KIND_SHIELD_POWERUP:
      add_shield(ship, g_server_settings.SHIELD_POWERUP_VALUE);
      break;
    case KIND_ARMOR_POWERUP:
      add_armor(ship, g_server_settings.ARMOR_POWERUP_VALUE);
      break;
    case KIND_NUKE_POWERUP:
      ship.nukes = saturating_add(ship.nukes, 1);
      break;
    case KIND_WARP_POWERUP:
      ship.warps = saturating_add(ship.warps, 1);
      break;
    default:
      break;
  }
}

void start_warp(Ship& ship) {
  if (ship.warpTimer != 0 || ship.warps <= 0 || !ship_flies(ship)) return;
  ship.hitFlash = 0;
  --ship.warps;
  ship.warpTimer = WARP_STEPS;
  const Matrix3f& m = ship.orientation;
  const double speed = -WARP_SPEED;
  ship.velocity = {static_cast<float>(speed * m[6]), static_cast<float>(speed * m[7]),
                   static_cast<float>(speed * m[8])};
}

}  // namespace zbx
