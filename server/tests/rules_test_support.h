// Shared fixtures of the world tests: a fresh world with default settings; for
// the rules also the collision tables and helpers to place records at given slots.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "motion.h"
#include "rules.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx::test {

// A fresh world with default settings and a seeded random source.
template <unsigned Seed>
class FreshWorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    reset_world();
    std::srand(Seed);
  }
  void TearDown() override { reset_world(); }
};

class RulesTest : public FreshWorldTest<12345> {
 protected:
  void SetUp() override {
    FreshWorldTest::SetUp();
    install_removal_effects();
    install_collision_responses();
  }

 public:
  // An object of `kind` in `slot` with the usual size and mass of its kind.
  static WorldObject& place(int slot, int kind, Vector3f position, Vector3f velocity = {},
                            int owner = 0) {
    float size = 0.1f;
    float mass = 0.0f;
    switch (kind) {
      case KIND_SHOT:
        size = 0.01f;
        mass = 0.05f;
        break;
      case KIND_ASTEROID:
        size = 0.3f;
        mass = size * size * size * 400;
        break;
      case KIND_SMALL_EXPLOSION:
      case KIND_SHIP_EXPLOSION:
        size = 1.0f;
        break;
      case KIND_NUKE:
        mass = 0.05f;
        break;
      default:
        break;
    }
    auto record = std::make_unique<WorldObject>();
    init_object(*record, kind, owner, position, velocity, {}, size, mass);
    WorldObject& ref = *record;
    g_world.objects[slot] = std::move(record);
    return ref;
  }

  static WorldObject& place_asteroid(int slot, Vector3f position, float size,
                                     Vector3f velocity = {}) {
    auto record = std::make_unique<WorldObject>();
    init_object(*record, KIND_ASTEROID, 0, position, velocity, {}, size, size * size * size * 400);
    WorldObject& ref = *record;
    g_world.objects[slot] = std::move(record);
    return ref;
  }

  // A flying ship in player slot `slot`, moved to `position`, standing still.
  static Ship& add_ship(int slot, Vector3f position, bool bot = false) {
    auto ship = std::make_unique<Ship>();
    add_player(*ship, slot, bot ? "Bot" : "Human", bot ? 1 : 0, position);
    ship->position = position;
    ship->velocity = {};
    Ship& ref = *ship;
    g_world.players[slot] = std::move(ship);
    return ref;
  }

  static int count_kind(int kind) {
    int n = 0;
    for (const auto& o : g_world.objects) n += (o && o->kind == kind) ? 1 : 0;
    return n;
  }

  static int count_sounds(int slot, int id) {
    int n = 0;
    for (const SoundEvent& e : g_world.soundQueue[slot]) n += e.id == id ? 1 : 0;
    return n;
  }

  static void clear_sounds() {
    for (auto& queue : g_world.soundQueue) queue.fill(SoundEvent{});
  }

  // Moves every object the way a world step does, without expiry.
  static void move_objects() {
    for (auto& o : g_world.objects) {
      if (o) move(*o);
    }
  }
};

}  // namespace zbx::test
