#include "startup/highscores.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "startup/settings.h"
#include "test_util.h"

namespace zbx {
namespace {

class HighScoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_paths.highScores = dir_.file("scores.dat");
    clear_high_scores();
  }
  const HighScoreEntry& at(int i) { return g_high_scores.entries[static_cast<std::size_t>(i)]; }
  test::TempDir dir_;
};

TEST_F(HighScoresTest, QualifyingNeedsAStrictlyHigherScore) {
  EXPECT_FALSE(score_qualifies(0));
  EXPECT_FALSE(score_qualifies(-5));
  EXPECT_TRUE(score_qualifies(1));
  insert_high_score(1, "first");
  EXPECT_EQ(at(0).score, 1);
  EXPECT_STREQ(at(0).name, "first");
  for (int i = 0; i < 10; ++i) insert_high_score(5, "five");
  EXPECT_FALSE(score_qualifies(5));  // table full of fives
  EXPECT_TRUE(score_qualifies(6));
}

TEST_F(HighScoresTest, EqualScoresKeepAgeOrderAndTheLastDropsOff) {
  insert_high_score(100, "old");
  insert_high_score(100, "new");
  EXPECT_STREQ(at(0).name, "old");
  EXPECT_STREQ(at(1).name, "new");
  for (int i = 0; i < 8; ++i) insert_high_score(50 - i, "filler");
  EXPECT_EQ(at(9).score, 43);
  insert_high_score(60, "mid");
  EXPECT_STREQ(at(2).name, "mid");
  EXPECT_EQ(at(9).score, 44);  // 43 dropped
  insert_high_score(44, "tie at the end");
  EXPECT_EQ(at(9).score, 44);  // not above entry 9: unchanged
  EXPECT_STREQ(at(9).name, "filler");
  insert_high_score(45, "replaces last");
  EXPECT_STREQ(at(9).name, "replaces last");
}

TEST_F(HighScoresTest, InsertSavesAndLongNamesAreCut) {
  insert_high_score(7, "a name that is far too long for the field");
  EXPECT_STREQ(at(0).name, "a name that is far ");
  std::string file = test::read_file(g_paths.highScores);
  EXPECT_EQ(file.substr(0, file.find('\n') + 1), "7 a name that is far \n");
  insert_high_score(8, "two\nlines");
  EXPECT_STREQ(at(0).name, "two");  // a line end would split the saved entry
  insert_high_score(9, nullptr);
  EXPECT_STREQ(at(0).name, "");
}

TEST_F(HighScoresTest, ClearedTableSavesTenEmptyLines) {
  save_high_scores();
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "0 \n";
  EXPECT_EQ(test::read_file(g_paths.highScores), expected);
}

TEST_F(HighScoresTest, RoundTripKeepsBlanksInNames) {
  insert_high_score(300, "Jane Q  Public");
  insert_high_score(-2, "");
  insert_high_score(20, " lead");
  clear_high_scores();
  load_high_scores();
  EXPECT_EQ(at(0).score, 300);
  EXPECT_STREQ(at(0).name, "Jane Q  Public");
  EXPECT_EQ(at(1).score, 20);
  EXPECT_STREQ(at(1).name, " lead");
  EXPECT_EQ(at(2).score, 0);
}

TEST_F(HighScoresTest, ShortFileFillsOnlyTheCompletedEntries) {
  test::write_file(g_paths.highScores, "30 a\n20 b\n10 c\n5 partial");
  clear_high_scores();
  g_high_scores.entries[3].score = 77;
  load_high_scores();
  EXPECT_EQ(at(0).score, 30);
  EXPECT_EQ(at(2).score, 10);
  EXPECT_STREQ(at(2).name, "c");
  EXPECT_EQ(at(3).score, 77);  // incomplete line: not stored
  EXPECT_EQ(at(4).score, 0);
}

TEST_F(HighScoresTest, MissingFileLeavesTableAlone) {
  g_high_scores.entries[0].score = 3;
  load_high_scores();
  EXPECT_EQ(at(0).score, 3);
}

TEST_F(HighScoresTest, OverLongFieldsAreCutSafely) {
  std::string line1 = "12345678901234567890 " + std::string(500, 'n') + "\n";
  test::write_file(g_paths.highScores, line1 + "42 ok\n");
  load_high_scores();
  EXPECT_EQ(at(0).score, 123456789);  // the score text keeps 9 characters
  EXPECT_EQ(std::string(at(0).name), std::string(19, 'n'));
  EXPECT_EQ(at(1).score, 42);  // the next line is still found
  EXPECT_STREQ(at(1).name, "ok");
}

TEST_F(HighScoresTest, LinesAfterTheTenthAreNotRead) {
  std::string text;
  for (int i = 12; i > 0; --i) text += std::to_string(i) + " p" + std::to_string(i) + "\n";
  test::write_file(g_paths.highScores, text);
  load_high_scores();
  EXPECT_EQ(at(9).score, 3);
}

TEST_F(HighScoresTest, UnwritableFileStillUpdatesTheTable) {
  g_paths.highScores = dir_.file("no/such/dir/scores.dat");
  insert_high_score(5, "x");
  EXPECT_EQ(at(0).score, 5);
}

TEST_F(HighScoresTest, LockThatCannotBeMadeSavesTheTableAsItIsAndSaysSoOnce) {
  std::filesystem::create_directory(g_paths.highScores + ".lock");
  test::write_file(g_paths.highScores, "80 other\n");
  ::testing::internal::CaptureStderr();
  insert_high_score(5, "x");
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("scores.dat.lock"), std::string::npos);
  EXPECT_EQ(test::read_file(g_paths.highScores).substr(0, 4), "5 x\n");  // no merge with "80"
}

TEST_F(HighScoresTest, TwoGamesInsertingAtOnceKeepEveryEntryThatQualifies) {
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t games[2];
  for (int game = 0; game < 2; ++game) {
    if ((games[game] = fork()) == 0) {
      close(go[1]);
      (void)!read(go[0], go, 1);  // end of file: both start together
      for (int i = 0; i < 100; ++i) {
        insert_high_score(2 * i + game + 1, ("game " + std::to_string(game)).c_str());
      }
      _exit(0);
    }
  }
  close(go[0]);
  close(go[1]);
  for (pid_t game : games) ASSERT_EQ(waitpid(game, nullptr, 0), game);
  insert_high_score(0, "");       // qualifies for nothing; shows what the file holds
  for (int j = 0; j < 10; ++j) {  // the ten best of both, alternating between them
    EXPECT_EQ(at(j).score, 200 - j);
    EXPECT_EQ(at(j).name, "game " + std::to_string((199 - j) % 2));
  }
}

}  // namespace
}  // namespace zbx
