#include "render/core/sgi_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "test_util.h"

namespace zbx {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// An SGI file whose compressed rows are given as they are, row r of channel c
// at rows[r + c * height].
Bytes sgi_file(unsigned width, unsigned height, unsigned channels, const std::vector<Bytes>& rows) {
  std::size_t entries = height * channels;
  Bytes b(512 + 8 * entries, 0);
  put16(b, 0, 474);
  b[2] = 1;
  b[3] = 1;
  put16(b, 4, 3);
  put16(b, 6, width);
  put16(b, 8, height);
  put16(b, 10, channels);
  for (std::size_t e = 0; e < entries; ++e) {
    put32(b, 512 + 4 * e, static_cast<std::uint32_t>(b.size()));
    put32(b, 512 + 4 * (entries + e), static_cast<std::uint32_t>(rows[e].size()));
    b.insert(b.end(), rows[e].begin(), rows[e].end());
  }
  return b;
}

Bytes literal(std::initializer_list<std::uint8_t> v) {
  Bytes r;
  r.push_back(static_cast<std::uint8_t>(0x80 | v.size()));
  for (std::uint8_t x : v) r.push_back(x);
  r.push_back(0);
  return r;
}

TEST(SgiImage, TwoByOneImageGoesChannelTwoFirst) {
  Bytes f = sgi_file(2, 1, 3, {literal({10, 20}), literal({30, 40}), literal({50, 60})});
  SgiImage img;
  std::string error;
  ASSERT_TRUE(decode_sgi_image(f, img, &error)) << error;
  EXPECT_EQ(img.width, 2);
  EXPECT_EQ(img.height, 1);
  EXPECT_EQ(img.channels, 3);
  EXPECT_EQ(img.rgba, (Bytes{50, 30, 10, 255, 60, 40, 20, 255}));
}

TEST(SgiImage, LiteralAndRepeatRunsAndRowsInOrder) {
  // Row 0: literal 1 2 3; row 1: 7 repeated three times; a fourth channel of
  // junk that must be ignored.
  Bytes lit = {0x83, 1, 2, 3, 0};
  Bytes rep = {0x03, 7, 0};
  Bytes junk = {0x7f, 9};
  Bytes f = sgi_file(3, 2, 4, {lit, rep, lit, rep, lit, rep, junk, junk});
  SgiImage img;
  ASSERT_TRUE(decode_sgi_image(f, img));
  EXPECT_EQ(img.channels, 4);
  ASSERT_EQ(img.rgba.size(), 24u);
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(img.rgba[4 * x], x + 1);
    EXPECT_EQ(img.rgba[4 * x + 2], x + 1);
    EXPECT_EQ(img.rgba[12 + 4 * x + 1], 7);
    EXPECT_EQ(img.rgba[12 + 4 * x + 3], 255);
  }
  // A row that stops short leaves zeros; one without its 0 control byte ends
  // with its bytes.
  Bytes g = sgi_file(3, 1, 3, {{0x01, 5, 0}, {0x03, 6}, {0x82, 1, 2}});
  ASSERT_TRUE(decode_sgi_image(g, img));
  EXPECT_EQ(img.rgba, (Bytes{1, 6, 5, 255, 2, 6, 0, 255, 0, 6, 0, 255}));
}

TEST(SgiImage, RejectsWhatItCannotHandleWithoutLeavingTheBuffer) {
  Bytes ok = sgi_file(2, 1, 3, {literal({1, 2}), literal({1, 2}), literal({1, 2})});
  SgiImage img;
  ASSERT_TRUE(decode_sgi_image(ok, img));

  auto rejects = [&](Bytes f, const char* why) {
    std::string error;
    EXPECT_FALSE(decode_sgi_image(f, img, &error)) << why;
    EXPECT_EQ(error, why);
  };
  Bytes f = ok;
  f[2] = 0;
  rejects(f, "not run-length encoded");
  f = ok;
  f[3] = 2;
  rejects(f, "not one byte per channel");
  f = ok;
  put16(f, 10, 2);
  rejects(f, "fewer than 3 channels");
  f = ok;
  put16(f, 6, 0);
  rejects(f, "empty picture");
  f = ok;
  put16(f, 6, 65535);
  put16(f, 8, 65535);
  rejects(f, "picture too large");
  f = ok;
  put16(f, 8, 40);  // tables for 40 rows do not fit
  rejects(f, "row tables outside the file");
  rejects(Bytes(ok.begin(), ok.begin() + 300), "shorter than its header");
  f = ok;
  put32(f, 512, static_cast<std::uint32_t>(f.size()));  // row starts at the end
  put32(f, 512 + 12, 1);
  rejects(f, "row outside the file");
  f = ok;
  put32(f, 512, 0xfffffff0u);  // start + length wraps around
  put32(f, 512 + 12, 0x20u);
  rejects(f, "row outside the file");
  rejects(sgi_file(2, 1, 3, {{0x03, 1, 0}, literal({1, 2}), literal({1, 2})}),
          "row does not fit the width");
  rejects(sgi_file(2, 1, 3, {{0x01, 1, 0x82, 1, 2}, literal({1, 2}), literal({1, 2})}),
          "row does not fit the width");
  rejects(sgi_file(2, 1, 3, {{0x82, 1}, literal({1, 2}), literal({1, 2})}),
          "row ends inside a run");
  rejects(sgi_file(2, 1, 3, {{0x02}, literal({1, 2}), literal({1, 2})}), "row ends inside a run");
}

TEST(SgiImage, ReadsFilesAndTellsAMissingOneApart) {
  SgiImage img;
  EXPECT_EQ(read_sgi_image("/nonexistent/explosion.rgb", img), SgiRead::cannot_open);
  test::TempDir tmp;
  const std::string path = tmp.file("explosion.rgb");
  Bytes f = sgi_file(2, 1, 3, {literal({10, 20}), literal({30, 40}), literal({50, 60})});
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  EXPECT_EQ(read_sgi_image(path.c_str(), img), SgiRead::ok);
  EXPECT_EQ(img.rgba[0], 50);
  std::ofstream(path, std::ios::binary) << "not an image";
  EXPECT_EQ(read_sgi_image(path.c_str(), img), SgiRead::bad_image);
}

TEST(SgiImage, ShippedExplosionIsAFireballWithADarkSoftEdge) {
  const std::string path = test::shipped_path("textures/explosion.rgb");
  SgiImage img;
  std::string error;
  ASSERT_EQ(read_sgi_image(path.c_str(), img, &error), SgiRead::ok) << error;
  ASSERT_GE(img.width, 32);
  ASSERT_EQ(img.width, img.height);
  auto at = [&](int x, int y) { return &img.rgba[(y * img.width + x) * 4]; };
  const std::uint8_t* centre = at(img.width / 2, img.height / 2);
  const std::uint8_t* corner = at(0, 0);
  EXPECT_GT(centre[0], 200);  // red, bright
  EXPECT_GE(centre[0], centre[2]);
  EXPECT_LT(corner[0] + corner[1] + corner[2], 30);
  // The edge fades: a third of the way out is darker than the centre but
  // brighter than the corner.
  const std::uint8_t* mid = at(img.width / 2 + img.width / 3, img.height / 2);
  EXPECT_LT(mid[0] + mid[1], centre[0] + centre[1]);
  EXPECT_GT(mid[0], corner[0]);
}

}  // namespace
}  // namespace zbx
