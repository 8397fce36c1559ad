// The compact stream against the world it codes: a real game of bots, rocks
// and one human player steps on, every snapshot crosses a channel that loses,
// reorders and repeats datagrams (acknowledgements too), and every snapshot
// the client applies must show the world of its own step within the stream's
// bounds, integers exactly, without the client going long without one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "broadcast.h"
#include "compact/compact.h"
#include "rules_test_support.h"
#include "simulation.h"

namespace zbx {
namespace {

using Bytes = std::vector<std::uint8_t>;

float wrapped_gap(float a, float b, float w) {
  double d = std::fabs(static_cast<double>(a) - b);
  d = std::fmod(d, 2.0 * w);
  return static_cast<float>(std::min(d, 2.0 * w - d));
}

void expect_close(Vector3f a, Vector3f b, float w, const char* what, int slot) {
  const float d =
      std::hypot(wrapped_gap(a.x, b.x, w), wrapped_gap(a.y, b.y, w), wrapped_gap(a.z, b.z, w));
  EXPECT_LE(d, COMPACT_POSITION_BOUND) << what << " " << slot;
}

void expect_matrix(const Matrix3f& a, const Matrix3f& b, const char* what, int slot) {
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], b[i], COMPACT_ORIENTATION_BOUND) << what << slot;
}

// What the client shows against what the full stream would have carried.
void expect_same_world(const CompactFrame& shown, const CompactFrame& truth, float w) {
  ASSERT_EQ(shown.step, truth.step);
  EXPECT_EQ(shown.matchRunning, truth.matchRunning);
  for (int i = 0; i < MAX_OBJECTS; ++i) {
    const FrameObject& s = shown.objects[i];
    const FrameObject& t = truth.objects[i];
    ASSERT_EQ(s.present, t.present) << "object " << i;
    if (!t.present) continue;
    EXPECT_EQ(s.message.kind, t.message.kind);
    expect_close(s.message.position, t.message.position, w, "object", i);
    EXPECT_NEAR(s.message.size, t.message.size, COMPACT_SIZE_BOUND) << i;
    expect_matrix(s.message.orientation, t.message.orientation, "object ", i);
  }
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    const PlayerMessage& s = shown.players[i].message;
    const PlayerMessage& t = truth.players[i].message;
    ASSERT_EQ(shown.players[i].present, truth.players[i].present) << "player " << i;
    if (!truth.players[i].present) continue;
    EXPECT_EQ(std::tie(s.score, s.lives, s.shieldActive, s.shield, s.armor, s.hit, s.alive, s.nukes,
                       s.warps, s.warping),
              std::tie(t.score, t.lives, t.shieldActive, t.shield, t.armor, t.hit, t.alive, t.nukes,
                       t.warps, t.warping))
        << "player " << i;
    EXPECT_STREQ(s.name, t.name);
    expect_close(s.position, t.position, w, "player", i);
    EXPECT_NEAR(s.size, t.size, COMPACT_SIZE_BOUND);
    expect_matrix(s.orientation, t.orientation, "player ", i);
  }
  ASSERT_EQ(shown.sounds.size(), truth.sounds.size());
  for (std::size_t k = 0; k < truth.sounds.size(); ++k) {
    EXPECT_EQ(shown.sounds[k].sound, truth.sounds[k].sound);
    expect_close(shown.sounds[k].position, truth.sounds[k].position, w, "sound", int(k));
  }
}

// Datagrams in flight, each with the tick it arrives at.
struct Channel {
  std::mt19937 random{20261210};
  std::multimap<int, Bytes> flying;
  void send(int now, const std::uint8_t* data, std::size_t length) {
    std::uniform_int_distribution<int> percent(0, 99);
    if (percent(random) < 10) return;  // lost
    // One in five overtaken by what follows it.
    flying.emplace(now + (percent(random) < 20), Bytes(data, data + length));
    if (percent(random) < 5) flying.emplace(now + 2, Bytes(data, data + length));
  }
};

struct Sending {
  Channel* channel;
  int now;
};
bool into_channel(void* context, const std::uint8_t* data, std::size_t length) {
  auto* s = static_cast<Sending*>(context);
  s->channel->send(s->now, data, length);
  return true;
}

class CompactStreamTest : public test::RulesTest {};

TEST_F(CompactStreamTest, ClientHoldsTheWorldWithinBoundsThroughALossyChannel) {
  ServerSettings& s = g_server_settings;
  s.MAX_NUMBER_OF_PLAYERS = 4;
  s.NUM_BOTS = 6;
  s.START_ASTEROIDS = 25;
  s.MAX_TOTAL_ASTEROID_SIZE = 100;
  s.BOT_NUKE_ODDS = 150;  // nukes and their growing blasts
  SimulationState state;
  start_game(state);
  const int own = 6;
  auto ship = std::make_unique<Ship>();
  add_player(*ship, own, "Pilot", 0, random_clear_position());
  g_world.players[own] = std::move(ship);

  const float w = s.WORLD_WIDTH;
  CompactEncoder encoder(w, own);
  CompactDecoder decoder(w, own);
  Channel down, up;
  std::map<std::uint32_t, std::unique_ptr<CompactFrame>> truth;
  auto shown = std::make_unique<CompactFrame>();
  int applied = 0, longest = 0, since = 0, snapshots = 0;
  std::size_t fullBytes = 0;

  for (int tick = 0; tick < 1500; ++tick) {
    // Steps between snapshots alternate between 2 and 3, as at 50 ms a snapshot.
    for (int k = tick % 2 == 0 ? 2 : 3; k > 0; --k) world_step();
    if (tick % 40 == 0) {
      KeyStateArray keys{};
      keys[KEYSTATE_FORWARD_THRUST] = tick % 80 == 0;
      keys[KEYSTATE_Y_FORWARD_ROTATE + tick % 3] = 1;
      apply_key_state(*g_world.players[own], keys.data());
    }
    if (tick % 25 == 0) apply_control(*g_world.players[own], CONTROL_FIRE, true);

    auto frame = std::make_unique<CompactFrame>();
    build_compact_frame(own, *frame);
    Sending sending{&down, tick};
    ASSERT_TRUE(encoder.send(*frame, into_channel, &sending));
    ++snapshots;
    for (const FrameObject& o : frame->objects) fullBytes += o.present ? OBJECT_MESSAGE_SIZE : 0;
    for (const FramePlayer& p : frame->players) fullBytes += p.present ? PLAYER_MESSAGE_SIZE : 0;
    fullBytes += PRESENCE_MESSAGE_SIZE;
    truth[encoder.last_sent()] = std::move(frame);
    while (truth.size() > 40) truth.erase(truth.begin());

    for (auto it = down.flying.begin(); it != down.flying.end() && it->first <= tick;) {
      const auto result = decoder.accept(it->second.data(), it->second.size(), *shown);
      if (result == CompactDecoder::Result::Applied) {
        ASSERT_EQ(truth.count(decoder.applied()), 1u);
        expect_same_world(*shown, *truth[decoder.applied()], w);
        if (HasFailure()) return;
        ++applied;
        since = 0;
      }
      if (result != CompactDecoder::Result::Ignored) {
        std::uint8_t ack[COMPACT_ACK_SIZE];
        encode_compact_ack(decoder.ack(), ack);
        up.send(tick, ack, sizeof ack);
      }
      it = down.flying.erase(it);
    }
    longest = std::max(longest, ++since);
    for (auto it = up.flying.begin(); it != up.flying.end() && it->first <= tick;) {
      CompactAck ack;
      ASSERT_TRUE(decode_compact_ack(it->second.data(), it->second.size(), ack));
      encoder.acknowledge(ack);
      it = up.flying.erase(it);
    }
  }
  EXPECT_GT(applied, snapshots * 3 / 4);
  // Four snapshots are 200 ms at the usual pace.
  EXPECT_LE(longest, 4);
  // A tenth of the full stream at most, keys and losses included, in this
  // small busy world (the benchmark measures the large ones).
  EXPECT_LT(encoder.bytes_sent() * 10, fullBytes);
}

TEST_F(CompactStreamTest, DamagedOrForgedInputChangesNothingAndAsksForAKey) {
  g_server_settings.START_ASTEROIDS = 10;
  SimulationState state;
  start_game(state);
  CompactEncoder encoder(10, 0);
  CompactDecoder decoder(10, 0);
  std::vector<Bytes> sent;
  auto keep = [](void* c, const std::uint8_t* d, std::size_t n) {
    static_cast<std::vector<Bytes>*>(c)->emplace_back(d, d + n);
    return true;
  };
  auto frame = std::make_unique<CompactFrame>();
  auto shown = std::make_unique<CompactFrame>();
  build_compact_frame(0, *frame);
  ASSERT_TRUE(encoder.send(*frame, keep, &sent));
  ASSERT_EQ(sent.size(), 1u);
  const Bytes key = sent[0];
  // Cut at every byte, or with one byte changed: never applied, the client
  // asks for a key snapshot, and the real one still applies after.
  for (std::size_t n = 0; n < key.size(); ++n) {
    EXPECT_NE(decoder.accept(key.data(), n, *shown), CompactDecoder::Result::Applied);
    Bytes bent = key;
    bent[n] ^= 0x5A;
    EXPECT_NE(decoder.accept(bent.data(), bent.size(), *shown), CompactDecoder::Result::Applied);
  }
  EXPECT_TRUE(decoder.ack().wantKey);
  ASSERT_EQ(decoder.accept(key.data(), key.size(), *shown), CompactDecoder::Result::Applied);
  EXPECT_FALSE(decoder.ack().wantKey);
  // A delta against a baseline the client never held is refused.
  world_step();
  build_compact_frame(0, *frame);
  encoder.acknowledge({1, false});
  sent.clear();
  ASSERT_TRUE(encoder.send(*frame, keep, &sent));
  CompactDecoder stranger(10, 0);
  EXPECT_EQ(stranger.accept(sent[0].data(), sent[0].size(), *shown),
            CompactDecoder::Result::Rejected);
  EXPECT_TRUE(stranger.ack().wantKey);
  // Acknowledgements of snapshots never sent leave the baseline alone.
  for (std::uint32_t seq : {0u, 3u, 99u, 0xFFFFFFFFu}) encoder.acknowledge({seq, false});
  EXPECT_EQ(encoder.baseline(), 1u);
}

}  // namespace
}  // namespace zbx
