#include "sound/wav.h"

#include <gtest/gtest.h>

namespace zbx {
TEST(Wav, Empty) {
  WavInfo info;
  EXPECT_FALSE(parse_wav({}, info));
}
}  // namespace zbx
