// The high-score table and its file.
#include "startup/highscores.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "startup/safe_file.h"
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

// Reads the file over table; false (table untouched) if it does not open.
bool read_table(const std::string& path, HighScoreTable& table) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  for (HighScoreEntry& entry : table.entries) {
    char score_text[SCORE_TEXT_SIZE];
    char name[HIGH_SCORE_NAME_SIZE];
    if (!read_field(file, ' ', score_text) || !read_field(file, '\n', name)) break;
    entry.score = settings_int(score_text);
    std::memcpy(entry.name, name, sizeof name);
  }
  std::fclose(file);
  return true;
}

void write_table(std::FILE* file) {
  for (const HighScoreEntry& entry : g_high_scores.entries) {
    std::fprintf(file, "%d %s\n", entry.score, entry.name);
  }
}

// How long a save waits for another game of this user to finish its own.
constexpr auto LOCK_WAIT = std::chrono::seconds(2);
constexpr auto LOCK_RETRY = std::chrono::milliseconds(10);

// An advisory lock on "scores.dat.lock" beside the table, held from the read
// to the rename of a save, so that two games of one user take turns. The lock
// file stays: removing it would let a third game lock a new file while a
// second still holds the old one.
class TableLock {
 public:
  explicit TableLock(const std::string& tablePath) {
    const std::string path = tablePath + ".lock";
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    int error = errno;
    const auto deadline = std::chrono::steady_clock::now() + LOCK_WAIT;
    // Not blocking for good: a game stopped in a terminal may hold it.
    while (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      error = errno;
      if ((error == EWOULDBLOCK || error == EINTR) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(LOCK_RETRY);
        continue;
      }
      close(fd_);
      fd_ = -1;
    }
    if (fd_ < 0) {
      std::fprintf(stderr, "zbx3d: cannot lock %s: %s; high scores saved unmerged\n", path.c_str(),
                   std::strerror(error));
    }
  }
  ~TableLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

void clear_high_scores() { g_high_scores = HighScoreTable{}; }

void load_high_scores() { read_table(g_paths.highScores, g_high_scores); }

void save_high_scores() {
  TableLock lock(g_paths.highScores);
  save_user_file(g_paths.highScores, write_table);
}

bool score_qualifies(int score) {
  for (const HighScoreEntry& entry : g_high_scores.entries) {
    if (score > entry.score) return true;
  }
  return false;
}

void insert_high_score(int score, const char* name) {
  TableLock lock(g_paths.highScores);
  // Another game of this user may have saved since this one loaded the table:
  // the entry goes into the file's table, which this game then shows.
  if (HighScoreTable saved; lock.held() && read_table(g_paths.highScores, saved)) {
    g_high_scores = saved;
  }
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
  save_user_file(g_paths.highScores, write_table);
}

}  // namespace zbx
