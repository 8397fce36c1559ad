// Control events and the held-key summary, as stored on the ship.
#include "rules_test_support.h"

namespace zbx::test {
namespace {

using ControlTest = RulesTest;

TEST_F(ControlTest, ThrustPressesScaleByTheAccelerationConstant) {
  Ship& s = add_ship(0, {0, 0, 0});
  apply_control(s, CONTROL_FORWARD_THRUST, true);
  EXPECT_FLOAT_EQ(s.thrustInput.z, 1.05f);
  EXPECT_FLOAT_EQ(s.thrustVector.z, -0.00105f);  // recomputed at once
  apply_control(s, CONTROL_REVERSE_THRUST, true);
  EXPECT_FLOAT_EQ(s.thrustInput.z, -0.35f);
  apply_control(s, CONTROL_REVERSE_THRUST, false);
  EXPECT_EQ(s.thrustInput.z, 0.0f);
  EXPECT_EQ(s.thrustVector.z, 0.0f);

  apply_control(s, 1, true);
  apply_control(s, 4, true);
  EXPECT_FLOAT_EQ(s.thrustInput.x, 0.35f);
  EXPECT_FLOAT_EQ(s.thrustInput.y, -0.35f);
  apply_control(s, 2, false);
  apply_control(s, 3, false);
  EXPECT_EQ(s.thrustInput.x, 0.0f);
  EXPECT_EQ(s.thrustInput.y, 0.0f);
}

TEST_F(ControlTest, SetThrustUsesTheCurrentOrientation) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.orientation = {0, 0, 1, 0, 1, 0, -1, 0, 0};
  set_thrust(s, 3, 3);
  EXPECT_FLOAT_EQ(s.thrustVector.x, 0.00105f);
  s.thrustInput = {0, 0, 1};
  set_thrust(s, 9, 5);  // unknown axis: only recomputes
  EXPECT_EQ(s.thrustInput.z, 1.0f);
  EXPECT_FLOAT_EQ(s.thrustVector.x, 0.001f);
}

TEST_F(ControlTest, RotationPressesAndReleasesCancelWithinPlusMinusOne) {
  Ship& s = add_ship(0, {0, 0, 0});
  apply_control(s, CONTROL_X_FORWARD_ROTATE, true);
  apply_control(s, CONTROL_X_FORWARD_ROTATE, true);
  EXPECT_EQ(s.spin.x, 1.0f);
  apply_control(s, CONTROL_X_FORWARD_ROTATE, false);
  EXPECT_EQ(s.spin.x, 0.0f);

  // Both keys of one axis give 0; releasing one gives the other's direction.
  apply_control(s, CONTROL_Y_FORWARD_ROTATE, true);
  apply_control(s, CONTROL_Y_BACKWARD_ROTATE, true);
  EXPECT_EQ(s.spin.y, 0.0f);
  apply_control(s, CONTROL_Y_FORWARD_ROTATE, false);
  EXPECT_EQ(s.spin.y, -1.0f);

  apply_control(s, CONTROL_Z_BACKWARD_ROTATE, true);
  EXPECT_EQ(s.spin.z, -1.0f);
  apply_control(s, CONTROL_Z_BACKWARD_ROTATE, false);
  apply_control(s, CONTROL_Z_BACKWARD_ROTATE, false);
  EXPECT_EQ(s.spin.z, 1.0f);
}

TEST_F(ControlTest, FireShieldNukeWarpAndUnknownIds) {
  Ship& s = add_ship(0, {0, 0, 0});
  apply_control(s, CONTROL_FIRE, false);
  EXPECT_EQ(s.fireRequest, 0);
  apply_control(s, CONTROL_FIRE, true);
  EXPECT_EQ(s.fireRequest, 1);
  apply_control(s, CONTROL_SHIELD, true);
  EXPECT_EQ(s.shieldOn, 1);
  apply_control(s, CONTROL_SHIELD, false);
  EXPECT_EQ(s.shieldOn, 0);

  // A nuke and a warp happen when their datagram is handled.
  apply_control(s, CONTROL_NUKE, false);
  EXPECT_EQ(count_kind(KIND_NUKE), 0);
  apply_control(s, CONTROL_NUKE, true);
  EXPECT_EQ(count_kind(KIND_NUKE), 1);
  apply_control(s, CONTROL_WARP, true);
  EXPECT_EQ(s.warpTimer, WARP_STEPS);
  EXPECT_EQ(s.warps, 1);

  const Ship before = s;
  for (int id : {0, CONTROL_QUIT, 18, 33, -1, 1000}) {
    apply_control(s, id, true);
    apply_control(s, id, false);
  }
  EXPECT_EQ(s.spin.x, before.spin.x);
  EXPECT_EQ(s.thrustInput.z, before.thrustInput.z);
  EXPECT_EQ(s.fireRequest, before.fireRequest);
  EXPECT_EQ(s.shieldOn, before.shieldOn);
  EXPECT_EQ(s.nukes, before.nukes);
}

TEST_F(ControlTest, KeyStateRepairsHeldKeys) {
  Ship& s = add_ship(0, {0, 0, 0});
  s.thrustInput = {0.35f, -0.35f, 0};
  s.thrustVector = {1, 2, 3};
  std::uint8_t keys[16] = {};
  keys[1] = 1;
  keys[8] = 1;
  keys[10] = 1;
  keys[13] = 7;
  keys[14] = keys[15] = 1;
  apply_key_state(s, keys);
  EXPECT_FLOAT_EQ(s.thrustInput.z, 1.05f);
  EXPECT_EQ(s.thrustInput.x, 0.35f);  // x and y thrust are not part of it
  EXPECT_EQ(s.thrustInput.y, -0.35f);
  EXPECT_EQ(s.thrustVector.x, 1.0f);  // not recomputed here
  EXPECT_EQ(s.spin.x, 1.0f);
  EXPECT_EQ(s.spin.y, -1.0f);
  EXPECT_EQ(s.spin.z, 0.0f);
  EXPECT_EQ(s.shieldOn, 1);

  keys[9] = 1;
  keys[1] = 0;
  apply_key_state(s, keys);
  EXPECT_EQ(s.thrustInput.z, 0.0f);
  EXPECT_EQ(s.shieldOn, 0);
  keys[8] = 0;
  apply_key_state(s, keys);
  EXPECT_FLOAT_EQ(s.thrustInput.z, -0.35f);

  // Bytes outside the table change nothing.
  std::uint8_t others[16] = {};
  for (int b : {0, 2, 3, 4, 5, 6, 7}) others[b] = 1;
  apply_key_state(s, others);
  EXPECT_EQ(s.fireRequest, 0);
  EXPECT_EQ(s.thrustInput.z, 0.0f);
  EXPECT_EQ(s.spin.x, 0.0f);
}

}  // namespace
}  // namespace zbx::test
