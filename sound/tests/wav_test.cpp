#include "wav.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace zbx {
namespace {

void put16(std::vector<std::uint8_t>& b, unsigned v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void put_tag(std::vector<std::uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}

struct WavSpec {
  int format = 1, channels = 1, rate = 22050, bits = 16;
  int blockAlign = -1;  // -1: derived
  std::vector<std::uint8_t> data = {0x01, 0x00, 0xFF, 0x7F, 0x00, 0x80};
  std::vector<std::uint8_t> extraChunk;  // raw bytes inserted between fmt and data
};

std::vector<std::uint8_t> make_wav(const WavSpec& s) {
  std::vector<std::uint8_t> b;
  put_tag(b, "RIFF");
  put32(b, 0);
  put_tag(b, "WAVE");
  put_tag(b, "fmt ");
  const bool ext = s.format == 0xFFFE;
  put32(b, ext ? 40 : 16);
  put16(b, s.format);
  put16(b, s.channels);
  put32(b, s.rate);
  const int align = s.blockAlign >= 0 ? s.blockAlign : s.channels * s.bits / 8;
  put32(b, s.rate * align);
  put16(b, align);
  put16(b, s.bits);
  if (ext) {
    put16(b, 22);
    put16(b, s.bits);
    put32(b, 4);
    const std::uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    b.insert(b.end(), pcm, pcm + 16);
  }
  b.insert(b.end(), s.extraChunk.begin(), s.extraChunk.end());
  put_tag(b, "data");
  put32(b, static_cast<std::uint32_t>(s.data.size()));
  b.insert(b.end(), s.data.begin(), s.data.end());
  const std::uint32_t riff = static_cast<std::uint32_t>(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

TEST(Wav, ReadsPlainAndExtensiblePcm) {
  for (int format : {1, 0xFFFE}) {
    WavSpec spec;
    spec.format = format;
    const auto image = make_wav(spec);
    WavInfo info;
    ASSERT_TRUE(parse_wav(image, info)) << format;
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.sampleRate, 22050);
    EXPECT_EQ(info.dataSize, 6u);
    EXPECT_EQ(info.dataOffset, image.size() - 6);
    EXPECT_EQ(wav_samples16(image, info), (std::vector<std::int16_t>{1, 32767, -32768}));
  }
}

TEST(Wav, SkipsOtherChunksWithTheirPadByte) {
  WavSpec spec;
  // An odd-sized LIST chunk is followed by one pad byte before "data".
  spec.extraChunk = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  const auto image = make_wav(spec);
  WavInfo info;
  ASSERT_TRUE(parse_wav(image, info));
  EXPECT_EQ(wav_samples16(image, info)[1], 32767);
}

TEST(Wav, WidensEightBitStereo) {
  WavSpec spec;
  spec.bits = 8;
  spec.channels = 2;
  spec.data = {128, 255, 0, 128, 7};  // odd byte: not a whole frame
  const auto image = make_wav(spec);
  WavInfo info;
  ASSERT_TRUE(parse_wav(image, info));
  EXPECT_EQ(info.dataSize, 4u);
  EXPECT_EQ(wav_samples16(image, info), (std::vector<std::int16_t>{0, 127 * 256, -128 * 256, 0}));
}

TEST(Wav, RejectsWhatOpenAlCannotPlay) {
  auto rejects = [](WavSpec spec) {
    WavInfo info;
    return !parse_wav(make_wav(spec), info);
  };
  WavSpec s;
  s.format = 3;  // IEEE float
  EXPECT_TRUE(rejects(s));
  s = {};
  s.bits = 24;
  EXPECT_TRUE(rejects(s));
  s = {};
  s.channels = 6;
  EXPECT_TRUE(rejects(s));
  s = {};
  s.channels = 0;
  EXPECT_TRUE(rejects(s));
  s = {};
  s.blockAlign = 4;  // disagrees with one 16-bit channel
  EXPECT_TRUE(rejects(s));
  s = {};
  s.rate = 0;
  EXPECT_TRUE(rejects(s));
  s = {};
  s.data.clear();
  EXPECT_TRUE(rejects(s));
}

TEST(Wav, EveryTruncationIsRejectedWithoutReadingPastTheEnd) {
  const auto image = make_wav(WavSpec{});
  for (std::size_t len = 0; len < image.size(); ++len) {
    // A copy of exactly len bytes, so AddressSanitizer sees any overread.
    std::vector<std::uint8_t> cut(image.begin(), image.begin() + len);
    WavInfo info;
    EXPECT_FALSE(parse_wav(cut, info)) << len;
  }
}

TEST(Wav, RejectsChunkSizesPastTheEndAndMissingChunks) {
  auto image = make_wav(WavSpec{});
  WavInfo info;
  // data chunk claims 0xFFFFFFFF bytes.
  auto huge = image;
  std::memset(huge.data() + huge.size() - 10, 0xFF, 4);
  EXPECT_FALSE(parse_wav(huge, info));
  // fmt chunk claims more than the file.
  auto badFmt = image;
  badFmt[16] = 0xF0;
  badFmt[17] = 0xFF;
  EXPECT_FALSE(parse_wav(badFmt, info));
  // fmt chunk too short for its fields.
  auto shortFmt = image;
  shortFmt[16] = 8;
  EXPECT_FALSE(parse_wav(shortFmt, info));
  // No data chunk at all.
  std::vector<std::uint8_t> noData(image.begin(), image.begin() + 36);
  EXPECT_FALSE(parse_wav(noData, info));
  // Not RIFF/WAVE.
  auto notWave = image;
  notWave[8] = 'X';
  EXPECT_FALSE(parse_wav(notWave, info));
}

TEST(Wav, RandomBytesNeverCrash) {
  // Mutations of a valid file: the reader either accepts with a data span
  // inside the image or refuses.
  const auto image = make_wav(WavSpec{});
  unsigned seed = 12345;
  for (int round = 0; round < 20000; ++round) {
    auto copy = image;
    for (int k = 0; k < 3; ++k) {
      seed = seed * 1103515245u + 12345u;
      copy[(seed >> 8) % copy.size()] = static_cast<std::uint8_t>(seed >> 24);
    }
    WavInfo info;
    if (parse_wav(copy, info)) {
      ASSERT_LE(info.dataOffset + info.dataSize, copy.size());
      wav_samples16(copy, info);
    }
  }
}

TEST(Wav, ReadFileBytesHonoursTheLimit) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zbx_wav_test_" + std::to_string(static_cast<long>(::getpid())));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "f.bin").string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::vector<std::uint8_t> bytes(10000, 7);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);

  std::vector<std::uint8_t> out;
  EXPECT_TRUE(read_file_bytes(path.c_str(), 10000, out));
  EXPECT_EQ(out, bytes);
  EXPECT_FALSE(read_file_bytes(path.c_str(), 9999, out));
  EXPECT_FALSE(read_file_bytes((dir / "missing").string().c_str(), 10000, out));
  EXPECT_FALSE(read_file_bytes(dir.string().c_str(), 10000, out));  // a directory
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zbx
