// The WAV header reader: an accepted image is PCM of a supported shape whose
// samples lie inside the image, in whole frames.
#include <cstdint>
#include <span>

#include "testing/fuzz.h"
#include "wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> image(data, size);
  zbx::WavInfo info;
  if (!zbx::parse_wav(image, info)) return 0;
  ZBX_FUZZ_CHECK(info.channels == 1 || info.channels == 2);
  ZBX_FUZZ_CHECK(info.bitsPerSample == 8 || info.bitsPerSample == 16);
  ZBX_FUZZ_CHECK(info.sampleRate >= 1000 && info.sampleRate <= 192000);
  ZBX_FUZZ_CHECK(info.dataOffset <= size && info.dataSize <= size - info.dataOffset);
  const std::size_t sampleBytes = static_cast<std::size_t>(info.bitsPerSample / 8);
  ZBX_FUZZ_CHECK(info.dataSize % (sampleBytes * info.channels) == 0);
  ZBX_FUZZ_CHECK(zbx::wav_samples16(image, info).size() == info.dataSize / sampleBytes);
  return 0;
}
