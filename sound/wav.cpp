#include "wav.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace zbx {

namespace {

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes (the format tag).
constexpr std::uint8_t PCM_SUBFORMAT_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Little-endian reads over the image; a read past the end fails once and for
// all, so callers check ok() after a run of reads.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint32_t u32() {
    if (!take(4)) return 0;
    const std::uint8_t* p = bytes_.data() + pos_ - 4;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
  }
  std::uint16_t u16() {
    if (!take(2)) return 0;
    const std::uint8_t* p = bytes_.data() + pos_ - 2;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  bool tag(const char* fourcc) {
    if (!take(4)) return false;
    return std::memcmp(bytes_.data() + pos_ - 4, fourcc, 4) == 0;
  }
  bool skip(std::size_t n) { return take(n); }
  std::size_t pos() const { return pos_; }
  std::size_t remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
  bool ok() const { return ok_; }

 private:
  bool take(std::size_t n) {
    if (!ok_ || n > bytes_.size() - pos_) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

bool parse_fmt(std::span<const std::uint8_t> chunk, WavInfo& info) {
  ByteReader r(chunk);
  std::uint16_t tag = r.u16();
  const int channels = r.u16();
  const std::uint32_t rate = r.u32();
  r.u32();  // byte rate: derived, not trusted
  const int blockAlign = r.u16();
  const int bits = r.u16();
  if (!r.ok()) return false;
  if (tag == WAVE_FORMAT_EXTENSIBLE) {
    const int extra = r.u16();
    r.u16();  // valid bits
    r.u32();  // channel mask
    const std::uint16_t subTag = r.u16();
    if (!r.ok() || extra < 22 || r.remaining() < sizeof PCM_SUBFORMAT_TAIL) return false;
    if (std::memcmp(chunk.data() + r.pos(), PCM_SUBFORMAT_TAIL, sizeof PCM_SUBFORMAT_TAIL) != 0) {
      return false;
    }
    tag = subTag;
  }
  if (tag != WAVE_FORMAT_PCM) return false;
  if (channels != 1 && channels != 2) return false;
  if (bits != 8 && bits != 16) return false;
  if (blockAlign != channels * bits / 8) return false;
  if (rate < 1000 || rate > 192000) return false;
  info.channels = channels;
  info.bitsPerSample = bits;
  info.sampleRate = static_cast<int>(rate);
  return true;
}

}  // namespace

bool parse_wav(std::span<const std::uint8_t> image, WavInfo& info) {
  ByteReader r(image);
  if (!r.tag("RIFF")) return false;
  r.u32();  // RIFF size: often wrong in files written while recording
  if (!r.tag("WAVE")) return false;
  WavInfo found;
  bool haveFmt = false;
  bool haveData = false;
  while (r.remaining() >= 8) {
    const bool isFmt = r.tag("fmt ");
    const bool isData = !isFmt && std::memcmp(image.data() + r.pos() - 4, "data", 4) == 0;
    const std::uint32_t size = r.u32();
    const std::size_t start = r.pos();
    if (size > r.remaining()) return false;
    if (isFmt) {
      if (haveFmt || !parse_fmt(image.subspan(start, size), found)) return false;
      haveFmt = true;
    } else if (isData) {
      if (haveData) return false;
      found.dataOffset = start;
      found.dataSize = size;
      haveData = true;
    }
    // Chunks are padded to an even length; a missing pad byte at the very
    // end is tolerated.
    r.skip(size);
    if ((size & 1) != 0 && r.remaining() > 0) r.skip(1);
  }
  if (!haveFmt || !haveData) return false;
  const std::size_t frame = static_cast<std::size_t>(found.channels * found.bitsPerSample / 8);
  found.dataSize -= found.dataSize % frame;
  if (found.dataSize == 0) return false;
  info = found;
  return true;
}

std::vector<std::int16_t> wav_samples16(std::span<const std::uint8_t> image, const WavInfo& info) {
  std::vector<std::int16_t> out;
  if (info.dataOffset > image.size() || info.dataSize > image.size() - info.dataOffset) return out;
  const std::uint8_t* p = image.data() + info.dataOffset;
  if (info.bitsPerSample == 16) {
    out.resize(info.dataSize / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<std::int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
  } else if (info.bitsPerSample == 8) {
    out.resize(info.dataSize);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<std::int16_t>((p[i] - 128) * 256);
    }
  }
  return out;
}

bool read_file_bytes(const char* path, std::size_t maxBytes, std::vector<std::uint8_t>& out) {
  out.clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (!file) return false;
  std::uint8_t chunk[4096];
  for (;;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (n > maxBytes - out.size()) return false;
    out.insert(out.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  return std::ferror(file.get()) == 0;
}

}  // namespace zbx
