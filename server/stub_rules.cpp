// Stand-ins until the rules of a world step exist; delete with their arrival.
#include "server/rules.h"

namespace zbx {
void update_ship(Ship&) {}
bool apply_damage(Ship&, int) { return false; }
void respawn(Ship&) {}
void install_collision_responses() {}
void collision_pass() {}
int bounce(WorldObject&, WorldObject&) { return 0; }
void fire_shot(Ship&) {}
void launch_nuke(Ship&) {}
void spawn_explosion(int, int) {}
void nuke_removal_effect(const WorldObject&) {}
void ship_explosion_removal_effect(const WorldObject&) {}
void apply_control(Ship&, int, bool) {}
void apply_key_state(Ship&, const std::uint8_t*) {}
void set_thrust(Ship&, int, float) {}
void apply_pickup(Ship&, const WorldObject&) {}
void start_warp(Ship&) {}
void bot_behaviour(Ship&) {}
}  // namespace zbx
