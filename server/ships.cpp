// A ship's life: the per-step update, damage, destruction, respawn, lives and
// the score changes of each game type.
#include <algorithm>
#include <cmath>

#include "motion.h"
#include "protocol/torus.h"
#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

Ship* ship_in_slot(int slot) {
  if (slot < 0 || slot >= MAX_PLAYERS) return nullptr;
  return g_world.players[slot].get();
}

// Start values that depend on whether the ship is a bot.
void give_start_energy(Ship& ship) {
  const ServerSettings& s = g_server_settings;
  if (ship.isBot) {
    const float ratio = g_world.botRatio;
    ship.thrustInput.z = std::isfinite(ratio) ? 3.0f * ratio : 0.0f;
    ship.shield = saturating_truncate(static_cast<float>(s.START_SHIELD) * ratio);
    ship.armor = saturating_truncate(static_cast<float>(s.START_ARMOR) * ratio);
  } else {
    ship.thrustInput.z = 0;
    ship.shield = s.START_SHIELD;
    ship.armor = s.START_ARMOR;
  }
}

}  // namespace

void reset_ship(Ship& ship) {
  const ServerSettings& s = g_server_settings;
  if (ship.owner >= 0 && ship.owner < MAX_PLAYERS) {
    for (SoundEvent& event : g_world.soundQueue[ship.owner]) event = SoundEvent{};
  }
  ship.position = random_clear_position();
  ship.inverseOrientation = IDENTITY_MATRIX;
  ship.orientation = IDENTITY_MATRIX;
  ship.thrustVector = Vector3f{};
  ship.thrustInput = Vector3f{};
  if (ship.isBot) {
    ship.botFireCounter = 0;
    ship.botShieldTimer = 0;
  }
  give_start_energy(ship);
  ship.warps = s.START_WARPS;
  ship.warpTimer = 0;
  ship.nukes = s.START_NUKES;
  ship.fireRequest = 0;
  ship.shieldOn = 0;
  ship.hitFlash = 0;
  ship.gunSide = 1.0f;
  ship.score = 0;
  ship.lives = s.GAME_TYPE == 2 ? -1 : s.START_LIVES;
  ship.lifetime = -1;
}

Vector3f wrap_position(Vector3f p) {
  const float w = g_server_settings.WORLD_WIDTH;
  return {fold(p.x, w), fold(p.y, w), fold(p.z, w)};
}

Vector3f limit_velocity(Vector3f v) {
  const float most = g_server_settings.WORLD_WIDTH;
  auto limit = [most](float c) {
    if (!std::isfinite(c)) return 0.0f;
    return c > most ? most : c < -most ? -most : c;
  };
  return {limit(v.x), limit(v.y), limit(v.z)};
}

void add_shield(Ship& ship, int n) {
  ship.shield = std::min(saturating_add(ship.shield, n), g_server_settings.MAX_SHIELD);
}

void add_armor(Ship& ship, int n) {
  ship.armor = std::min(saturating_add(ship.armor, n), g_server_settings.MAX_ARMOR);
}

void drain_shield(Ship& ship, int n) { ship.shield = std::max(saturating_sub(ship.shield, n), 0); }

void credit_asteroid(int ownerSlot) {
  Ship* owner = ship_in_slot(ownerSlot);
  if (owner == nullptr || g_server_settings.GAME_TYPE == 2) return;
  owner->score = saturating_add(owner->score, g_server_settings.ASTEROID_SCORE);
}

void credit_kill(int ownerSlot) {
  Ship* owner = ship_in_slot(ownerSlot);
  if (owner == nullptr) return;
  const int points = g_server_settings.GAME_TYPE == 2 ? 1 : g_server_settings.SHIP_SCORE;
  owner->score = saturating_add(owner->score, points);
}

void debit_asteroid_death(Ship& victim) {
  const int type = g_server_settings.GAME_TYPE;
  if (type == 1) victim.score = saturating_sub(victim.score, g_server_settings.SHIP_SCORE);
  if (type == 2) victim.score = saturating_sub(victim.score, 1);
}

void score_ram_death(Ship& victim, Ship& other) {
  const int type = g_server_settings.GAME_TYPE;
  if (type == 2) {
    victim.score = saturating_sub(victim.score, 1);
    other.score = saturating_add(other.score, 1);
  } else if (type == 0 || type == 1) {
    other.score = saturating_add(other.score, g_server_settings.SHIP_SCORE);
  }
}

bool apply_damage(Ship& ship, int amount) {
  if (amount <= 0) return false;
  const long long left = static_cast<long long>(ship.armor) - amount;
  if (left > 0) {
    ship.armor = static_cast<int>(left);
    if (ship.isBot) {
      // A negative time would count down for ever; 0 holds the shield up the same way.
      ship.botShieldTimer =
          std::max(0, saturating_truncate(static_cast<float>(g_server_settings.BOT_SHIELD_TIME) *
                                          g_world.botRatio));
      ship.shieldOn = 1;
    } else {
      queue_sound(ship.owner, ship, 13);
      ship.hitFlash = ship.hitFlash < 71 ? ship.hitFlash + 30 : 100;
    }
    return false;
  }
  ship.armor = 0;
  queue_sound_all(ship, 3);
  spawn_explosion(ship.owner, 1);
  ship.lifetime = SHIP_RESPAWN_STEPS;
  ship.hitFlash = 0;
  ship.warpTimer = 0;
  // One unit backwards, so the player's own view has the explosion ahead.
  ship.position =
      wrap_position({ship.position.x + ship.orientation[6], ship.position.y + ship.orientation[7],
                     ship.position.z + ship.orientation[8]});
  ship.velocity = {};
  ship.shield = 0;
  ship.fireRequest = 0;
  ship.shieldOn = 0;
  return true;
}

void respawn(Ship& ship) {
  ship.lifetime = SHIP_FLYING;
  ship.position = random_clear_position();
  ship.orientation = IDENTITY_MATRIX;
  ship.inverseOrientation = IDENTITY_MATRIX;
  ship.velocity = {};
  ship.thrustVector = {};
  ship.thrustInput.x = 0;
  ship.thrustInput.y = 0;
  give_start_energy(ship);
  ship.warps = g_server_settings.START_WARPS;
  ship.nukes = g_server_settings.START_NUKES;
  ship.fireRequest = 0;
  ship.shieldOn = 0;
}

void update_ship(Ship& ship) {
  if (ship.isBot) bot_behaviour(ship);

  move(ship);
  turn_ship(ship);
  if (ship_flies(ship) && ship.warpTimer == 0) {
    const float d = g_server_settings.DECELERATION_CONSTANT;
    ship.velocity.x = d * (ship.velocity.x + ship.thrustVector.x);
    ship.velocity.y = d * (ship.velocity.y + ship.thrustVector.y);
    ship.velocity.z = d * (ship.velocity.z + ship.thrustVector.z);
    ship.velocity = limit_velocity(ship.velocity);
  }

  if (ship.warpTimer != 0) {
    // A warp keeps any fire request for the first step after it.
    if (--ship.warpTimer == 0) ship.velocity = {};
  } else {
    if (ship.shieldOn == 1 && ship_flies(ship) && ship.shield != 0) {
      ship.shield = saturating_sub(ship.shield, 1);
    }
    if (ship.hitFlash != 0) --ship.hitFlash;
    if (ship.fireRequest == 1) {
      fire_shot(ship);
      ship.fireRequest = 0;
    }
  }

  if (ship.lifetime > 0 && --ship.lifetime == 0) {
    if (g_server_settings.GAME_TYPE != 2 && !ship.isBot) {
      ship.lives = saturating_sub(ship.lives, 1);
      if (ship.lives == 0) return;  // out of lives: stays in its slot, out of play
    }
    respawn(ship);
  }
}

}  // namespace zbx
