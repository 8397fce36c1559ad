// Mapping files as the game reads them: any bytes are counted without a
// crash, and only good lines within the limit reach SDL.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "gamepad/gamepad.h"
#include "testing/fuzz.h"

namespace {
int g_added = 0;
bool add(const char* line) {
  ZBX_FUZZ_CHECK(std::strlen(line) <= zbx::MAPPING_LINE_LIMIT);
  ZBX_FUZZ_CHECK(zbx::check_mapping_line(line) == zbx::MappingLine::Good);
  return (++g_added & 3) != 0;  // now and then refused, as SDL may
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = zbx::test::fuzz_temp_path("gamecontrollerdb.txt");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ZBX_FUZZ_CHECK(file != nullptr);
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  g_added = 0;
  const zbx::MappingCount count = zbx::read_mapping_file(path.c_str(), add);
  ZBX_FUZZ_CHECK(count.good <= g_added && count.good + count.bad >= g_added);
  return 0;
}
