// Reader of run-length-encoded SGI images (the explosion texture). The decode
// works on a byte buffer and checks every table entry and row against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zbx {

// Width × height texels of four bytes (channel 2, channel 1, channel 0, 255),
// row 0 (the bottom row) first.
struct SgiImage {
  std::vector<std::uint8_t> rgba;
  int width = 0;
  int height = 0;
  int channels = 0;  // as the header says (at least 3)
};

// Largest image accepted, in texels (4096 × 4096).
inline constexpr std::size_t SGI_MAX_TEXELS = 4096u * 4096u;

// Decodes a whole file held in memory. false, with a reason in error when
// given, for anything it cannot handle: not run-length encoded, not one byte
// per channel, fewer than 3 channels, an empty or oversized picture, tables or
// rows outside the buffer, a row that expands beyond the width.
bool decode_sgi_image(std::span<const std::uint8_t> file, SgiImage& out,
                      std::string* error = nullptr);

enum class SgiRead { ok, cannot_open, bad_image };
// Reads and decodes the file at path.
SgiRead read_sgi_image(const char* path, SgiImage& out, std::string* error = nullptr);

// read_sgi_image for the explosion texture with the game's failure handling:
// an unopenable file prints "Error opening %s\n" and exits with status 1, an
// unreadable one prints "Sorry, can't read texture file..." and exits with 0.
SgiImage load_explosion_image(const char* path);

}  // namespace zbx
