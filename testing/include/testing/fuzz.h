// Glue for the fuzz targets (<folder>/fuzz/*_fuzz.cpp): a property that does
// not hold aborts with its place, which libFuzzer records as a finding.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#define ZBX_FUZZ_CHECK(condition)                                                           \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

namespace zbx::test {

// A file path of this process in $TMPDIR, else in memory (/dev/shm) where the
// system has it: rewriting a file on disk waits for the disk, hundreds of times
// slower. Removed at exit; at most four per process.
inline std::string fuzz_temp_path(const char* stem) {
  static char paths[4][256];
  static int count = 0;
  if (count == 4) std::abort();
  const char* tmp = std::getenv("TMPDIR");
  if (tmp == nullptr || *tmp == '\0') tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::snprintf(paths[count], sizeof paths[count], "%s/zbx_fuzz_%d_%s", tmp,
                static_cast<int>(getpid()), stem);
  if (count == 0) {
    std::atexit([] {
      for (int i = 0; i < count; ++i) unlink(paths[i]);
    });
  }
  return paths[count++];
}

}  // namespace zbx::test
