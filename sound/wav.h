// A bounded reader for RIFF WAV images holding linear PCM, used to check the
// sound files before they reach OpenAL and by the tests to read recordings.
// Pure computation apart from read_file_bytes; no lock needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zbx {

struct WavInfo {
  int channels = 0;       // 1 or 2
  int bitsPerSample = 0;  // 8 or 16
  int sampleRate = 0;
  std::size_t dataOffset = 0;  // where the samples start in the image
  std::size_t dataSize = 0;    // bytes, whole frames only
};

// Reads the header of a PCM WAV image (format 1, or WAVE_FORMAT_EXTENSIBLE
// with the PCM sub-format), 8 or 16 bits, mono or stereo. False for anything
// else, including chunks that run past the end of the image.
bool parse_wav(std::span<const std::uint8_t> image, WavInfo& info);

// The samples of a parsed image as signed 16-bit values, channels
// interleaved; 8-bit samples are widened.
std::vector<std::int16_t> wav_samples16(std::span<const std::uint8_t> image, const WavInfo& info);

// Reads a whole file of at most maxBytes; false when it cannot be opened,
// cannot be read or is larger.
bool read_file_bytes(const char* path, std::size_t maxBytes, std::vector<std::uint8_t>& out);

}  // namespace zbx
