// Helpers shared by the startup tests: temporary folders (testing/files.h) and
// streams over bytes.
#pragma once

#include <cstdio>
#include <string>

#include "testing/files.h"

namespace zbx::test {

// A read-only stream over bytes (NULs allowed); close with fclose.
inline std::FILE* stream_of(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

}  // namespace zbx::test
