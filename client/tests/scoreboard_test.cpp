// The scoreboard's order: higher scores first, empty slots last, and where
// ties are everywhere a strict ordering that std::sort may rely on, ties
// broken by ascending slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "client/mirror.h"

namespace zbx {
namespace {

TEST(Scoreboard, HigherScoresFirstEmptySlotsLastTiesBySlot) {
  PlayerSlots players;
  auto add = [&](int slot, int score) {
    players[slot] = std::make_unique<MirrorPlayer>();
    players[slot]->score = score;
  };
  add(5, 7);
  add(2, 12);
  add(9, 3);
  add(20, 7);
  auto order = scoreboard_order(players);
  int expect[] = {2, 5, 20, 9, 0, 1, 3};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(order[i], expect[i]) << i;
  EXPECT_EQ(order[31], 31);
  // A strict order: never a before a, never both ways round.
  for (int a = 0; a < MAX_PLAYERS; ++a) {
    EXPECT_FALSE(compare_scores(players, a, a));
    for (int b = 0; b < MAX_PLAYERS; ++b) {
      if (a != b) {
        EXPECT_NE(compare_scores(players, a, b), compare_scores(players, b, a));
      }
    }
  }
}

TEST(Scoreboard, ThirtyTwoEqualScoresKeepSlotOrder) {
  PlayerSlots players;
  for (auto& p : players) {
    p = std::make_unique<MirrorPlayer>();
    p->score = 40;
  }
  for (int a = 0; a < MAX_PLAYERS; ++a) {
    EXPECT_FALSE(compare_scores(players, a, a)) << a;  // irreflexive
    for (int b = 0; b < MAX_PLAYERS; ++b) {
      EXPECT_EQ(compare_scores(players, a, b), a < b) << a << " " << b;
    }
  }
  const auto order = scoreboard_order(players);
  for (int i = 0; i < MAX_PLAYERS; ++i) EXPECT_EQ(order[i], i);
}

TEST(Scoreboard, MixedTiesAndEmptySlotsSortLikeTheirStrictOrder) {
  // Few distinct scores and holes everywhere; the result is a permutation in
  // which each neighbour pair is ordered, whatever std::sort does inside.
  std::srand(7);
  for (int round = 0; round < 50; ++round) {
    PlayerSlots players;
    for (auto& p : players) {
      if (std::rand() % 3 == 0) continue;
      p = std::make_unique<MirrorPlayer>();
      p->score = std::rand() % 3 - 1;
    }
    const auto order = scoreboard_order(players);
    auto sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < MAX_PLAYERS; ++i) ASSERT_EQ(sorted[i], i);
    for (int i = 0; i + 1 < MAX_PLAYERS; ++i) {
      const MirrorPlayer* a = players[order[i]].get();
      const MirrorPlayer* b = players[order[i + 1]].get();
      if (a && b) {
        EXPECT_TRUE(a->score > b->score || (a->score == b->score && order[i] < order[i + 1]));
      } else if (!a && !b) {
        EXPECT_LT(order[i], order[i + 1]);
      } else {
        EXPECT_TRUE(a != nullptr) << "empty slot before a player";
      }
    }
  }
}

}  // namespace
}  // namespace zbx
