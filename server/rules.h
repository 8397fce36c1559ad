// The rules of a world step: ship update, collisions, weapons, player
// controls, powerups, hyper-warp and bots. All expect the world lock held.
#pragma once

#include <cstdint>

#include "server/world.h"

namespace zbx {

// Ships
void update_ship(Ship& ship);
bool apply_damage(Ship& ship, int amount);  // true: destroyed
void respawn(Ship& ship);

// Collisions
void install_collision_responses();
void collision_pass();
int bounce(WorldObject& a, WorldObject& b);

// Weapons and explosions; source 0: object slot, 1: player slot.
void fire_shot(Ship& ship);
void launch_nuke(Ship& ship);
void spawn_explosion(int slot, int source);

// Removal effects, called by remove_object before the record is freed.
void nuke_removal_effect(const WorldObject& nuke);
void ship_explosion_removal_effect(const WorldObject& explosion);

// Player controls
void apply_control(Ship& ship, int control, bool pressed);
void apply_key_state(Ship& ship, const std::uint8_t keys[16]);
void set_thrust(Ship& ship, int axis, float value);

// Powerups and hyper-warp
void apply_pickup(Ship& ship, const WorldObject& powerup);
void start_warp(Ship& ship);

// Bots
void bot_behaviour(Ship& ship);

}  // namespace zbx
