// The high-score file: whatever it holds loads into terminated names, and the
// loaded table survives a save and a reload unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "startup/highscores.h"
#include "startup/settings.h"
#include "testing/files.h"
#include "testing/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = zbx::test::fuzz_temp_path("scores.dat");
  static const std::string lock = zbx::test::fuzz_temp_path("scores.dat.lock");  // the save's
  zbx::g_paths.highScores = path;
  zbx::test::write_file(path, std::string(reinterpret_cast<const char*>(data), size));
  zbx::clear_high_scores();
  zbx::load_high_scores();
  const zbx::HighScoreTable loaded = zbx::g_high_scores;
  for (const zbx::HighScoreEntry& e : loaded.entries) {
    ZBX_FUZZ_CHECK(strnlen(e.name, sizeof e.name) < sizeof e.name);
  }
  zbx::save_high_scores();
  zbx::clear_high_scores();
  zbx::load_high_scores();
  for (std::size_t i = 0; i < zbx::HIGH_SCORE_COUNT; ++i) {
    const zbx::HighScoreEntry& a = loaded.entries[i];
    const zbx::HighScoreEntry& b = zbx::g_high_scores.entries[i];
    ZBX_FUZZ_CHECK(a.score == b.score && std::strcmp(a.name, b.name) == 0);
  }
  return 0;
}
