// The 22 shipped sound files, against the figures their generator
// (tools/gen_sounds.py) intended and wrote to sound_manifest.txt.
#include <AL/alut.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "protocol/zbx_types.h"
#include "wav.h"

namespace zbx {
namespace {

namespace fs = std::filesystem;

struct Intended {
  int number = -1;
  long frames = 0;
  int peak = 0;
  bool loops = false;
  std::string name;
};

// The data prefix is "<repository>/share" under CTest.
fs::path repository() {
  const char* source = std::getenv("ZBX_SOURCE_DIR");
  if (source != nullptr) return source;
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  return prefix != nullptr ? fs::path(prefix).parent_path() : fs::path(".");
}

std::vector<Intended> read_manifest() {
  std::vector<Intended> out;
  std::ifstream in(repository() / "sound" / "tests" / "sound_manifest.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Intended s;
    int loops = 0;
    fields >> s.number >> s.frames >> s.peak >> loops;
    std::getline(fields >> std::ws, s.name);
    s.loops = loops != 0;
    out.push_back(s);
  }
  return out;
}

struct Loaded {
  WavInfo info;
  std::vector<std::uint8_t> image;
  std::vector<std::int16_t> samples;
};

Loaded load(int n) {
  Loaded l;
  const fs::path path = repository() / "share" / "zbx3d" / "sounds" / (std::to_string(n) + ".wav");
  EXPECT_TRUE(read_file_bytes(path.c_str(), 1u << 24, l.image)) << path;
  EXPECT_TRUE(parse_wav(l.image, l.info)) << path;
  l.samples = wav_samples16(l.image, l.info);
  return l;
}

int peak_of(const std::vector<std::int16_t>& s) {
  int peak = 0;
  for (int v : s) peak = std::max(peak, std::abs(v));
  return peak;
}

TEST(SoundFiles, ManifestCoversEverySoundNumberOnce) {
  const auto manifest = read_manifest();
  ASSERT_EQ(manifest.size(), static_cast<std::size_t>(NUM_SOUNDS));
  for (int n = 0; n < NUM_SOUNDS; ++n) EXPECT_EQ(manifest[n].number, n);
  // The three loops and nothing else.
  for (const Intended& s : manifest) {
    EXPECT_EQ(s.loops, s.number == 10 || s.number == 16 || s.number == 18) << s.number;
  }
}

TEST(SoundFiles, AreShortCleanMonoPcmAtTheIntendedLevel) {
  for (const Intended& s : read_manifest()) {
    SCOPED_TRACE(s.name);
    const Loaded l = load(s.number);
    EXPECT_EQ(l.info.channels, 1);
    EXPECT_EQ(l.info.bitsPerSample, 16);
    EXPECT_EQ(l.info.sampleRate, 22050);
    EXPECT_EQ(static_cast<long>(l.samples.size()), s.frames);
    EXPECT_LE(s.frames, 22050 * 3);  // short: three seconds at most
    // Normalised to the intended peak, which leaves headroom: no sample
    // reaches full scale, so nothing was clipped.
    EXPECT_EQ(peak_of(l.samples), s.peak);
    EXPECT_LT(s.peak, 32767);
    EXPECT_GE(s.peak, 32767 / 3);  // -9.5 dBFS at the quietest
  }
}

TEST(SoundFiles, OneShotsStartAndEndInSilence) {
  for (const Intended& s : read_manifest()) {
    if (s.loops) continue;
    SCOPED_TRACE(s.name);
    const Loaded l = load(s.number);
    ASSERT_GE(l.samples.size(), 2u);
    EXPECT_EQ(l.samples.front(), 0);
    EXPECT_EQ(l.samples.back(), 0);
  }
}

TEST(SoundFiles, LoopsJoinWithoutAClick) {
  // Played end to end, the step from the last sample to the first and the
  // bend there (second difference) are no larger than anywhere inside.
  for (const Intended& s : read_manifest()) {
    if (!s.loops) continue;
    SCOPED_TRACE(s.name);
    const Loaded l = load(s.number);
    const auto& x = l.samples;
    const std::size_t n = x.size();
    ASSERT_GE(n, 3u);
    int maxStep = 0;
    int maxBend = 0;
    for (std::size_t i = 1; i + 1 < n; ++i) {
      maxStep = std::max(maxStep, std::abs(x[i + 1] - x[i]));
      maxBend = std::max(maxBend, std::abs(x[i + 1] - 2 * x[i] + x[i - 1]));
    }
    EXPECT_LE(std::abs(x[0] - x[n - 1]), maxStep);
    EXPECT_LE(std::abs(x[0] - 2 * x[n - 1] + x[n - 2]), maxBend);
    EXPECT_LE(std::abs(x[1] - 2 * x[0] + x[n - 1]), maxBend);
  }
}

TEST(SoundFiles, ExplosionsComeInThreeSizes) {
  // Object, ship and nuke blast: each longer and carrying more energy than
  // the one before.
  double energy[3] = {};
  std::size_t length[3] = {};
  const int numbers[3] = {2, 3, 20};
  for (int i = 0; i < 3; ++i) {
    const Loaded l = load(numbers[i]);
    length[i] = l.samples.size();
    for (int v : l.samples) energy[i] += double{1.0} * v * v;
  }
  EXPECT_LT(length[0], length[1]);
  EXPECT_LT(length[1], length[2]);
  EXPECT_LT(energy[0] * 2, energy[1]);
  EXPECT_LT(energy[1] * 2, energy[2]);
}

TEST(SoundFiles, AlutLoadsEachFileAsOurReaderDoes) {
  ASSERT_EQ(alutInit(nullptr, nullptr), AL_TRUE) << alutGetErrorString(alutGetError());
  for (const Intended& s : read_manifest()) {
    SCOPED_TRACE(s.name);
    const fs::path path =
        repository() / "share" / "zbx3d" / "sounds" / (std::to_string(s.number) + ".wav");
    ALenum format = 0;
    ALsizei size = 0;
    ALfloat frequency = 0;
    void* data = alutLoadMemoryFromFile(path.c_str(), &format, &size, &frequency);
    ASSERT_NE(data, nullptr) << alutGetErrorString(alutGetError());
    EXPECT_EQ(format, AL_FORMAT_MONO16);
    EXPECT_EQ(size, s.frames * 2);
    EXPECT_EQ(frequency, 22050.0f);
    const Loaded l = load(s.number);
    EXPECT_EQ(std::memcmp(data, l.samples.data(), static_cast<std::size_t>(size)), 0);
    std::free(data);
  }
  alutExit();
}

}  // namespace
}  // namespace zbx
