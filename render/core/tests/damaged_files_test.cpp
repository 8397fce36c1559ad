// Damaged copies of the shipped files are refused or read, never read past
// their ends (run under AddressSanitizer to see the difference).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "render/core/model.h"
#include "render/core/sgi_image.h"
#include "test_util.h"

namespace zbx {
namespace {

std::string shipped(const char* rel) { return test::read_file(test::shipped_path(rel)); }

TEST(DamagedFiles, TruncatedModelsFailCleanlyAtEveryLength) {
  std::string text = shipped("models/s.spec");
  ASSERT_GT(text.size(), 1000u);
  int slot;
  std::string error;
  for (std::size_t n = 0; n < text.size(); n += 7) {
    Model m;
    // Cut inside the last face's last number still reads; anything else fails.
    bool ok = parse_model_spec(std::string_view(text).substr(0, n), slot, m, error);
    if (ok) {
      EXPECT_GE(n, text.size() - 8);
    }
  }
}

TEST(DamagedFiles, TruncatedOrScrambledTexturesNeverOverrun) {
  std::string text = shipped("textures/explosion.rgb");
  std::vector<std::uint8_t> file(text.begin(), text.end());
  ASSERT_GT(file.size(), 4096u);
  SgiImage img;
  for (std::size_t n = 0; n < file.size(); n += 97) {
    EXPECT_FALSE(decode_sgi_image(std::span(file).first(n), img)) << n;
  }
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> copy = file;
    for (int k = 0; k < 8; ++k) {
      // Mostly the header and the row tables, where offsets live.
      std::size_t at = rng() % (round % 2 ? copy.size() : 512 + 8 * 3 * 128);
      copy[at] = static_cast<std::uint8_t>(rng());
    }
    if (decode_sgi_image(copy, img)) {
      EXPECT_EQ(img.rgba.size(), static_cast<std::size_t>(img.width) * img.height * 4);
    }
  }
}

}  // namespace
}  // namespace zbx
