// The ten best results of this user, kept in "scores.dat" (g_paths.highScores)
// as ten lines "%d %s\n". Used only on the window-system thread: no lock.
#pragma once

#include <array>
#include <cstddef>

namespace zbx {

constexpr std::size_t HIGH_SCORE_COUNT = 10;
constexpr std::size_t HIGH_SCORE_NAME_SIZE = 20;  // 19 characters and the NUL

struct HighScoreEntry {
  int score = 0;
  char name[HIGH_SCORE_NAME_SIZE] = {};
};

// Scores in descending order; equal scores keep their age order.
struct HighScoreTable {
  std::array<HighScoreEntry, HIGH_SCORE_COUNT> entries{};
};

// The table of this process (client mode only).
extern HighScoreTable g_high_scores;

// Every entry gets score 0 and an empty name.
void clear_high_scores();
// Reads the high-score file over the table; entries the file lacks stay.
void load_high_scores();
// Replaces the high-score file with the ten lines of the table.
void save_high_scores();
// True when score beats at least one entry.
bool score_qualifies(int score);
// Puts (score, name) in its place if it earns one, then saves the table.
void insert_high_score(int score, const char* name);

}  // namespace zbx
