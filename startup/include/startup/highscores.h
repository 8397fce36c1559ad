// The ten best results of this user, kept in "scores.dat" (g_paths.highScores)
// as ten lines "%d %s\n". The table in memory is used only on the
// window-system thread; the file is shared with other games of the same user,
// which take turns through an advisory lock on "scores.dat.lock" beside it.
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
// Replaces the high-score file with the ten lines of the table (whole, under
// the lock); a failure leaves the old file and is said on standard error.
void save_high_scores();
// True when score beats at least one entry.
bool score_qualifies(int score);
// Reads the file's table under the lock (another game may have saved since),
// puts (score, name) in its place if it earns one, saves, and keeps that
// table in memory. Without the lock: into the table in memory, as it is.
void insert_high_score(int score, const char* name);

}  // namespace zbx
