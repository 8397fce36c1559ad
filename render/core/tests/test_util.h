// Shared helpers of the render core tests: a counting random source with a
// seed, and a temporary folder that removes itself.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "testing/files.h"

namespace zbx::test {

// A small linear congruential generator that counts its draws.
struct CountingRandom {
  unsigned state = 1;
  int draws = 0;
};
inline CountingRandom g_random;

inline void reseed(unsigned seed) { g_random = {seed, 0}; }
inline int lcg() {
  ++g_random.draws;
  g_random.state = g_random.state * 1103515245u + 12345u;
  return static_cast<int>((g_random.state >> 8) & 0x7fffff);
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char tmpl[] = "/tmp/zbx_rcore_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string dir() const { return path.string() + "/"; }
  void write(const std::string& name, const std::string& text) const {
    write_file((path / name).string(), text);
  }
};

}  // namespace zbx::test
