// Run-length-encoded SGI image decoding. Every offset, length and run is
// checked against the buffer before it is used.
#include "render/core/sgi_image.h"

#include <algorithm>
#include <cstdio>

namespace zbx {

namespace {

constexpr std::size_t HEADER_SIZE = 512;

std::uint32_t be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] << 8 | b[at + 1]);
}

std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
         static_cast<std::uint32_t>(b[at + 2]) << 8 | static_cast<std::uint32_t>(b[at + 3]);
}

bool fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

// Expands one compressed row into width bytes (the rest stays 0); nullptr on
// success, else what is wrong.
const char* expand_row(std::span<const std::uint8_t> in, std::uint8_t* row, std::size_t width) {
  std::size_t i = 0, x = 0;
  while (i < in.size()) {
    std::uint8_t control = in[i++];
    std::size_t count = control & 0x7f;
    if (count == 0) return nullptr;
    if (x + count > width) return "row does not fit the width";
    if (control & 0x80) {
      if (count > in.size() - i) return "row ends inside a run";
      for (std::size_t k = 0; k < count; ++k) row[x++] = in[i++];
    } else {
      if (i >= in.size()) return "row ends inside a run";
      std::uint8_t value = in[i++];
      for (std::size_t k = 0; k < count; ++k) row[x++] = value;
    }
  }
  return nullptr;  // a row may end with its bytes instead of a 0 control byte
}

}  // namespace

bool decode_sgi_image(std::span<const std::uint8_t> file, SgiImage& out, std::string* error) {
  if (file.size() < HEADER_SIZE) return fail(error, "shorter than its header");
  if (file[2] != 1) return fail(error, "not run-length encoded");
  if (file[3] != 1) return fail(error, "not one byte per channel");
  std::size_t width = be16(file, 6);
  std::size_t height = be16(file, 8);
  std::size_t channels = be16(file, 10);
  if (channels < 3) return fail(error, "fewer than 3 channels");
  if (width == 0 || height == 0) return fail(error, "empty picture");
  if (width * height > SGI_MAX_TEXELS) return fail(error, "picture too large");
  std::size_t entries = height * channels;  // at most 2^32: no overflow in size_t
  std::size_t starts = HEADER_SIZE;
  std::size_t lengths = starts + 4 * entries;
  if (lengths + 4 * entries > file.size()) return fail(error, "row tables outside the file");

  std::vector<std::uint8_t> rgba(width * height * 4);
  std::vector<std::uint8_t> row(width);
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t c = 0; c < 3; ++c) {
      std::size_t entry = y + c * height;
      std::size_t start = be32(file, starts + 4 * entry);
      std::size_t size = be32(file, lengths + 4 * entry);
      if (start > file.size() || size > file.size() - start) {
        return fail(error, "row outside the file");
      }
      std::fill(row.begin(), row.end(), 0);
      if (const char* why = expand_row(file.subspan(start, size), row.data(), width)) {
        return fail(error, why);
      }
      // Channel 2 goes first in a texel.
      std::uint8_t* texel = rgba.data() + y * width * 4 + (2 - c);
      for (std::size_t x = 0; x < width; ++x) texel[4 * x] = row[x];
    }
    for (std::size_t x = 0; x < width; ++x) rgba[(y * width + x) * 4 + 3] = 255;
  }
  out.rgba = std::move(rgba);
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.channels = static_cast<int>(channels);
  return true;
}

SgiRead read_sgi_image(const char* path, SgiImage& out, std::string* error) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return SgiRead::cannot_open;
  // Largest sensible file: every texel a literal byte, plus control bytes and tables.
  constexpr std::size_t LIMIT = 4 * SGI_MAX_TEXELS + (8u << 20);
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  std::size_t got;
  while (bytes.size() <= LIMIT && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return fail(error, "read error"), SgiRead::bad_image;
  if (bytes.size() > LIMIT) return fail(error, "file too large"), SgiRead::bad_image;
  return decode_sgi_image(bytes, out, error) ? SgiRead::ok : SgiRead::bad_image;
}

}  // namespace zbx
