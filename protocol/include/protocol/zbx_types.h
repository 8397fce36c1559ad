// Types and numbers shared by the server, the wire and the client.
#pragma once

#include <array>
#include <cstdint>

namespace zbx {

struct Vector3f {
  float x = 0, y = 0, z = 0;
};

struct Colour3f {
  float r = 0, g = 0, b = 0;
};

// Three rows: the local x, y and z axes in world coordinates.
using Matrix3f = std::array<float, 9>;

inline constexpr Matrix3f IDENTITY_MATRIX = {1, 0, 0, 0, 1, 0, 0, 0, 1};

inline constexpr int MAX_OBJECTS = 512;  // object slots, both sides
inline constexpr int MAX_PLAYERS = 32;   // player slots, both sides
inline constexpr int NUM_SOUNDS = 22;    // sound numbers 0..21

// Object kinds; a kind number is also the client's model slot.
inline constexpr int KIND_SHIP = 1;
inline constexpr int KIND_SHOT = 2;
inline constexpr int KIND_ASTEROID = 3;
inline constexpr int KIND_SMALL_EXPLOSION = 4;
inline constexpr int KIND_SHIP_EXPLOSION = 5;
inline constexpr int KIND_SHIELD_POWERUP = 6;
inline constexpr int KIND_ARMOR_POWERUP = 7;
inline constexpr int KIND_NUKE_POWERUP = 8;
inline constexpr int KIND_WARP_POWERUP = 9;
inline constexpr int KIND_NUKE = 10;
inline constexpr int KIND_NUKE_EXPLOSION = 11;

// Control ids of KeyEvents (press byte = id + 16, release byte = id).
inline constexpr int CONTROL_FORWARD_THRUST = 5;
inline constexpr int CONTROL_REVERSE_THRUST = 6;
inline constexpr int CONTROL_X_FORWARD_ROTATE = 7;
inline constexpr int CONTROL_X_BACKWARD_ROTATE = 8;
inline constexpr int CONTROL_Y_FORWARD_ROTATE = 9;
inline constexpr int CONTROL_Y_BACKWARD_ROTATE = 10;
inline constexpr int CONTROL_Z_FORWARD_ROTATE = 11;
inline constexpr int CONTROL_Z_BACKWARD_ROTATE = 12;
inline constexpr int CONTROL_FIRE = 13;
inline constexpr int CONTROL_SHIELD = 14;
inline constexpr int CONTROL_QUIT = 15;
inline constexpr int CONTROL_NUKE = 16;
inline constexpr int CONTROL_WARP = 17;

// The 16 held-key bytes of a KeyStateUpdate: which byte each held control
// sets (the thrust and rotation controls in control order from byte 8).
using KeyStateArray = std::array<std::uint8_t, 16>;
inline constexpr int KEYSTATE_SHIELD = 1;
inline constexpr int KEYSTATE_WARP = 2;
inline constexpr int KEYSTATE_NUKE = 3;
inline constexpr int KEYSTATE_FORWARD_THRUST = 8;
inline constexpr int KEYSTATE_REVERSE_THRUST = 9;
inline constexpr int KEYSTATE_X_FORWARD_ROTATE = 10;
inline constexpr int KEYSTATE_X_BACKWARD_ROTATE = 11;
inline constexpr int KEYSTATE_Y_FORWARD_ROTATE = 12;
inline constexpr int KEYSTATE_Y_BACKWARD_ROTATE = 13;
inline constexpr int KEYSTATE_Z_FORWARD_ROTATE = 14;
inline constexpr int KEYSTATE_Z_BACKWARD_ROTATE = 15;

// The KeyState byte a control's key holds, or -1 for fire and quit.
constexpr int key_state_byte(int control) {
  if (control == CONTROL_SHIELD) return KEYSTATE_SHIELD;
  if (control == CONTROL_WARP) return KEYSTATE_WARP;
  if (control == CONTROL_NUKE) return KEYSTATE_NUKE;
  if (control >= CONTROL_FORWARD_THRUST && control <= CONTROL_Z_BACKWARD_ROTATE) {
    return control - CONTROL_FORWARD_THRUST + KEYSTATE_FORWARD_THRUST;
  }
  return -1;
}

}  // namespace zbx
