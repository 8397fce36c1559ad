// Snapshots as a client receives them: datagram boundaries, (own) fields,
// sound events and presence, built from a real world table.
#include "broadcast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "startup/settings.h"

namespace zbx {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Capture {
  std::vector<Bytes> datagrams;
};

bool capture(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<Capture*>(context)->datagrams.emplace_back(data, data + length);
  return true;
}

struct Decoded {
  std::vector<ObjectMessage> objects;
  std::vector<PlayerMessage> players;
  std::vector<SoundEventMessage> sounds;
  std::vector<PresenceMessage> presence;
};

Decoded decode(const Capture& c) {
  Decoded d;
  SnapshotHandler h;
  h.context = &d;
  h.on_object = [](void* x, const ObjectMessage& m) {
    static_cast<Decoded*>(x)->objects.push_back(m);
  };
  h.on_player = [](void* x, const PlayerMessage& m) {
    static_cast<Decoded*>(x)->players.push_back(m);
  };
  h.on_sound = [](void* x, const SoundEventMessage& m) {
    static_cast<Decoded*>(x)->sounds.push_back(m);
  };
  h.on_presence = [](void* x, const PresenceMessage& m) {
    static_cast<Decoded*>(x)->presence.push_back(m);
  };
  for (const Bytes& b : c.datagrams) parse_snapshot(b.data(), b.size(), h);
  return d;
}

class BroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_server_settings = ServerSettings{};
    reset_world();
    g_world.matchRunning = 1;
  }
  void TearDown() override { reset_world(); }

  static Ship& ship_in(int slot) {
    auto ship = std::make_unique<Ship>();
    ship->kind = KIND_SHIP;
    ship->owner = slot;
    ship->size = 0.2f;
    ship->lifetime = -1;
    ship->shield = 250;
    ship->armor = 900;
    ship->hitFlash = 40;
    ship->nukes = 2;
    ship->warps = 258;  // low 8 bits travel
    ship->score = 12;
    ship->lives = 3;
    std::snprintf(ship->name, sizeof ship->name, "P%d", slot);
    Ship& ref = *ship;
    g_world.players[slot] = std::move(ship);
    return ref;
  }

  static void object_in(int slot, int kind = KIND_ASTEROID) {
    auto object = std::make_unique<WorldObject>();
    object->kind = kind;
    object->size = 0.3f;
    object->position = {static_cast<float>(slot), 0, 0};
    g_world.objects[slot] = std::move(object);
  }

  static Capture snapshot_for(int receiver) {
    Capture c;
    SnapshotWriter w(g_server_settings.PACKET_SIZE, capture, &c);
    build_snapshot(receiver, w);
    return c;
  }
};

TEST_F(BroadcastTest, OwnShipAloneIsOneDatagramOf655Bytes) {
  ship_in(0);
  const Capture c = snapshot_for(0);
  ASSERT_EQ(c.datagrams.size(), 1u);
  EXPECT_EQ(c.datagrams[0].size(), 655u);
  EXPECT_EQ(c.datagrams[0][0], MSG_PLAYER);
  EXPECT_EQ(c.datagrams[0][109], MSG_PRESENCE);
  const Decoded d = decode(c);
  ASSERT_EQ(d.players.size(), 1u);
  EXPECT_EQ(d.players[0].shield, 250);
  EXPECT_EQ(d.presence.at(0).players[0], 1);
  EXPECT_EQ(d.presence.at(0).matchRunning, 1);
}

TEST_F(BroadcastTest, TwentyObjectsSplitSeventeenThenThreeWithPlayersAndPresence) {
  for (int i = 0; i < 20; ++i) object_in(i * 3);  // gaps in the table do not matter
  ship_in(4);
  const Capture c = snapshot_for(4);
  ASSERT_EQ(c.datagrams.size(), 2u);
  EXPECT_EQ(c.datagrams[0].size(), 1037u);
  EXPECT_EQ(c.datagrams[1].size(), 3u * 61 + 109 + 546);
  const Decoded d = decode(c);
  ASSERT_EQ(d.objects.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(d.objects[i].slot, i * 3);  // ascending slot order
    EXPECT_EQ(d.objects[i].position.x, static_cast<float>(i * 3));
  }
  EXPECT_EQ(d.presence.at(0).objects[57], 1);
  EXPECT_EQ(d.presence.at(0).objects[58], 0);
}

TEST_F(BroadcastTest, OwnFieldsAndFlightOrientationOnlyForTheOwner) {
  Ship& a = ship_in(0);
  Ship& b = ship_in(1);
  a.orientation = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  a.inverseOrientation = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  b.shieldOn = 1;
  b.warpTimer = 5;
  b.lifetime = 100;  // destroyed, counting down

  const Decoded for_a = decode(snapshot_for(0));
  ASSERT_EQ(for_a.players.size(), 2u);
  const PlayerMessage& own = for_a.players[0];
  EXPECT_EQ(std::tuple(own.shield, own.armor, own.hit, own.nukes, own.warps, own.alive),
            std::tuple(250, 900, 1, 2, 2, 1));
  EXPECT_EQ(own.orientation, a.orientation);
  const PlayerMessage& other = for_a.players[1];
  EXPECT_EQ(std::tuple(other.shield, other.armor, other.hit, other.nukes, other.warps),
            std::tuple(0, 0, 0, 0, 0));
  // Not own fields: sent to everybody.
  EXPECT_EQ(std::tuple(other.score, other.shieldActive, other.warping, other.alive),
            std::tuple(12, 1, 1, 0));
  EXPECT_STREQ(other.name, "P1");

  const Decoded for_b = decode(snapshot_for(1));
  EXPECT_EQ(for_b.players[0].orientation, a.inverseOrientation);
  EXPECT_EQ(for_b.players[0].shield, 0);
  EXPECT_EQ(for_b.players[1].shield, 250);

  b.shield = 0;  // shield key held but no energy left
  EXPECT_EQ(decode(snapshot_for(0)).players[1].shieldActive, 0);
}

TEST_F(BroadcastTest, SoundEventsGoOnceInQueueOrderToTheirClientOnly) {
  Ship& a = ship_in(0);
  ship_in(1);
  a.position = {1, 2, 3};
  queue_sound(0, a, 0);
  a.position = {4, 5, 6};
  queue_sound(0, a, 12);
  queue_sound(1, a, 3);

  const Decoded first = decode(snapshot_for(0));
  ASSERT_EQ(first.sounds.size(), 2u);
  EXPECT_EQ(first.sounds[0].sound, 0);
  EXPECT_EQ(first.sounds[0].position.z, 3.0f);
  EXPECT_EQ(first.sounds[1].sound, 12);
  EXPECT_EQ(first.sounds[1].position.x, 4.0f);
  EXPECT_TRUE(decode(snapshot_for(0)).sounds.empty());  // freed once sent

  const Decoded other = decode(snapshot_for(1));
  ASSERT_EQ(other.sounds.size(), 1u);
  EXPECT_EQ(other.sounds[0].sound, 3);
}

TEST_F(BroadcastTest, HugePacketSizeNeverOverrunsTheDatagramBuffer) {
  for (int i = 0; i < MAX_OBJECTS; ++i) object_in(i);
  for (int i = 0; i < MAX_PLAYERS; ++i) ship_in(i);
  for (int i = 0; i < SOUND_QUEUE_USED; ++i) queue_sound(0, *g_world.players[0], i % NUM_SOUNDS);
  for (int packet : {1 << 30, 1503, 0, -1}) {
    g_server_settings.PACKET_SIZE = packet;
    const Capture c = snapshot_for(0);
    std::size_t total = 0;
    for (const Bytes& b : c.datagrams) {
      EXPECT_LE(b.size(), DATAGRAM_BUFFER_SIZE);
      total += b.size();
    }
    EXPECT_GE(total, 512u * 61 + 32 * 109 + 546);
    const Decoded d = decode(c);
    EXPECT_EQ(d.objects.size(), 512u);
    EXPECT_EQ(d.players.size(), 32u);
  }
}

TEST_F(BroadcastTest, NonFiniteWorldValuesTravelAsZero) {
  Ship& a = ship_in(0);
  a.position = {std::numeric_limits<float>::quiet_NaN(), 1.0f,
                std::numeric_limits<float>::infinity()};
  object_in(3);
  g_world.objects[3]->size = std::numeric_limits<float>::quiet_NaN();
  const Capture c = snapshot_for(0);
  const Decoded d = decode(c);
  EXPECT_EQ(d.players.at(0).position.x, 0.0f);
  EXPECT_EQ(d.players.at(0).position.y, 1.0f);
  EXPECT_EQ(d.players.at(0).position.z, 0.0f);
  EXPECT_EQ(d.objects.at(0).size, 0.0f);
  // Bytes too, not just the decoder's view.
  float wire_size;
  std::memcpy(&wire_size, c.datagrams[0].data() + 21, 4);
  EXPECT_EQ(wire_size, 0.0f);
}

}  // namespace
}  // namespace zbx
