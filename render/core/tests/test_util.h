// Shared helpers of the render core tests: a counting random source with a
// seed; temporary folders come from testing/files.h.
#pragma once

#include <cstdlib>
#include <string>

#include "testing/files.h"

namespace zbx::test {

// Path of a shipped data file, e.g. "models/ship.spec".
inline std::string shipped_path(const std::string& relative) {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  return std::string(prefix != nullptr ? prefix : ZBX_TEST_DATA_PREFIX) + "/zbx3d/" + relative;
}

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

}  // namespace zbx::test
