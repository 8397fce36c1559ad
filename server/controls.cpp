// Player controls: key events and the periodic held-key summary only store
// inputs and requests on the ship; the world step acts on them.
#include <algorithm>

#include "motion.h"
#include "rules.h"
#include "startup/settings.h"

namespace zbx {

namespace {

float& spin_axis(Ship& ship, int axis) {
  return axis == 0 ? ship.spin.x : axis == 1 ? ship.spin.y : ship.spin.z;
}

// A press and its release cancel exactly; the input never leaves -1..+1.
void nudge_spin(Ship& ship, int axis, float delta) {
  float& s = spin_axis(ship, axis);
  s = std::clamp(s + delta, -1.0f, 1.0f);
}

float held_direction(std::uint8_t forward, std::uint8_t backward) {
  if (forward && !backward) return 1.0f;
  if (backward && !forward) return -1.0f;
  return 0.0f;
}

}  // namespace

void set_thrust(Ship& ship, int axis, float value) {
  const float input = value * g_server_settings.ACCELERATION_CONSTANT;
  if (axis == 1) ship.thrustInput.x = input;
  if (axis == 2) ship.thrustInput.y = input;
  if (axis == 3) ship.thrustInput.z = input;
  update_thrust_vector(ship);
}

void apply_control(Ship& ship, int control, bool pressed) {
  switch (control) {
    case 1:
      set_thrust(ship, 1, pressed ? 1.0f : 0.0f);
      break;
    case 2:
      set_thrust(ship, 1, pressed ? -1.0f : 0.0f);
      break;
    case 3:
      set_thrust(ship, 2, pressed ? 1.0f : 0.0f);
      break;
    case 4:
      set_thrust(ship, 2, pressed ? -1.0f : 0.0f);
      break;
    case CONTROL_FORWARD_THRUST:
      set_thrust(ship, 3, pressed ? 3.0f : 0.0f);
      break;
    case CONTROL_REVERSE_THRUST:
      set_thrust(ship, 3, pressed ? -1.0f : 0.0f);
      break;
    case CONTROL_X_FORWARD_ROTATE:
    case CONTROL_X_BACKWARD_ROTATE:
    case CONTROL_Y_FORWARD_ROTATE:
    case CONTROL_Y_BACKWARD_ROTATE:
    case CONTROL_Z_FORWARD_ROTATE:
    case CONTROL_Z_BACKWARD_ROTATE: {
      const int offset = control - CONTROL_X_FORWARD_ROTATE;
      const bool forward = offset % 2 == 0;
      nudge_spin(ship, offset / 2, forward == pressed ? 1.0f : -1.0f);
      break;
    }
    case CONTROL_FIRE:
      if (pressed) ship.fireRequest = 1;
      break;
    case CONTROL_SHIELD:
      ship.shieldOn = pressed ? 1 : 0;
      break;
    case CONTROL_NUKE:
      if (pressed) launch_nuke(ship);
      break;
    case CONTROL_WARP:
      if (pressed) start_warp(ship);
      break;
    default:  // quit is the receive loop's business; unknown ids do nothing
      break;
  }
}

void apply_key_state(Ship& ship, const std::uint8_t keys[16]) {
  const float thrust = held_direction(keys[KEYSTATE_FORWARD_THRUST], keys[KEYSTATE_REVERSE_THRUST]);
  const float acceleration = g_server_settings.ACCELERATION_CONSTANT;
  ship.thrustInput.z = thrust > 0 ? 3.0f * acceleration : thrust < 0 ? -1.0f * acceleration : 0.0f;
  ship.spin.x = held_direction(keys[KEYSTATE_X_FORWARD_ROTATE], keys[KEYSTATE_X_BACKWARD_ROTATE]);
  ship.spin.y = held_direction(keys[KEYSTATE_Y_FORWARD_ROTATE], keys[KEYSTATE_Y_BACKWARD_ROTATE]);
  ship.spin.z = held_direction(keys[KEYSTATE_Z_FORWARD_ROTATE], keys[KEYSTATE_Z_BACKWARD_ROTATE]);
  ship.shieldOn = keys[KEYSTATE_SHIELD] != 0 ? 1 : 0;
}

}  // namespace zbx
