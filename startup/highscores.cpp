// The high-score table and its file.
#include "startup/highscores.h"

#include <cstdio>
#include <cstring>

#include "startup/settings.h"

namespace zbx {

HighScoreTable g_high_scores;

namespace {

// The score text holds at most this many characters, like the name field.
constexpr std::size_t SCORE_TEXT_SIZE = 10;

// Reads up to and excluding stop into field, keeping what fits with its NUL
// and dropping the rest of the text. False at end of input.
template <std::size_t N>
bool read_field(std::FILE* file, int stop, char (&field)[N]) {
  std::size_t length = 0;
  for (;;) {
    int c = std::getc(file);
    if (c == EOF) return false;
    if (c == stop) break;
    if (length + 1 < N) field[length++] = static_cast<char>(c);
  }
  field[length] = '\0';
  return true;
}

// Cut to the field, and at a line end, which would split the entry's line.
void copy_name(char (&to)[HIGH_SCORE_NAME_SIZE], const char* from) {
  std::size_t length = from != nullptr ? std::strcspn(from, "\n") : 0;
  if (length >= HIGH_SCORE_NAME_SIZE) length = HIGH_SCORE_NAME_SIZE - 1;
  if (length > 0) std::memcpy(to, from, length);
  to[length] = '\0';
}

}  // namespace

void clear_high_scores() { g_high_scores = HighScoreTable{}; }

void load_high_scores() {
  std::FILE* file = std::fopen(g_paths.highScores.c_str(), "r");
  if (file == nullptr) return;
  for (HighScoreEntry& entry : g_high_scores.entries) {
    char score_text[SCORE_TEXT_SIZE];
    char name[HIGH_SCORE_NAME_SIZE];
    if (!read_field(file, ' ', score_text) || !read_field(file, '\n', name)) break;
    entry.score = settings_int(score_text);
    std::memcpy(entry.name, name, sizeof name);
  }
  std::fclose(file);
}

void save_high_scores() {
  std::FILE* file = std::fopen(g_paths.highScores.c_str(), "w");
  if (file == nullptr) return;
  for (const HighScoreEntry& entry : g_high_scores.entries) {
    std::fprintf(file, "%d %s\n", entry.score, entry.name);
  }
  std::fclose(file);
}

bool score_qualifies(int score) {
  for (const HighScoreEntry& entry : g_high_scores.entries) {
    if (score > entry.score) return true;
  }
  return false;
}

void insert_high_score(int score, const char* name) {
  auto& e = g_high_scores.entries;
  constexpr std::size_t last = HIGH_SCORE_COUNT - 1;
  std::size_t k = 0;
  while (k < last && e[k].score >= score) ++k;
  if (k < last) {
    for (std::size_t i = last; i > k; --i) e[i] = e[i - 1];
    e[k].score = score;
    copy_name(e[k].name, name);
  } else if (score > e[last].score) {
    e[last].score = score;
    copy_name(e[last].name, name);
  }
  save_high_scores();
}

}  // namespace zbx
