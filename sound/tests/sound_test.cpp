// The sound library against a real OpenAL device (the null backend CTest
// selects, or whatever ALSOFT_DRIVERS names).
#include "sound/sound.h"

#include <AL/al.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "startup/settings.h"

namespace zbx {
namespace {

namespace fs = std::filesystem;

// Tests need a device that exists everywhere; an explicit choice in the
// environment wins. Set before any OpenAL call, which reads it once.
const bool NULL_DRIVER_BY_DEFAULT = (setenv("ALSOFT_DRIVERS", "null", 0), true);

ALint source_state(unsigned source) {
  ALint state = 0;
  alGetSourcei(source, AL_SOURCE_STATE, &state);
  return state;
}

Vector3f source_position(unsigned source) {
  Vector3f p;
  alGetSource3f(source, AL_POSITION, &p.x, &p.y, &p.z);
  return p;
}

float listener_gain() {
  float gain = -1;
  alGetListenerf(AL_GAIN, &gain);
  return gain;
}

// One-shot voices that are playing right now.
int playing_one_shots() {
  int n = 0;
  for (const Voice& v : g_sound.oneShotVoices) {
    if (v.source != 0 && source_state(v.source) == AL_PLAYING) ++n;
  }
  return n;
}

const Voice* newest_one_shot() {
  const Voice* newest = nullptr;
  for (const Voice& v : g_sound.oneShotVoices) {
    if (v.source != 0 && (newest == nullptr || v.started > newest->started)) newest = &v;
  }
  return newest;
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("ZBX3D_DATA_PREFIX"), nullptr) << "run through CTest";
    g_client_settings.VOLUME = 9;
  }
  void TearDown() override { shutdown_sound(); }

  void start(int volume) {
    g_client_settings.VOLUME = volume;
    init_sound(nullptr, nullptr);
    ASSERT_TRUE(g_sound.available) << "no OpenAL device; set ALSOFT_DRIVERS=null";
  }
};

TEST(VolumeGainTable, DividesByOnePointSixPerStep) {
  const VolumeGainTable t = build_volume_gain_table();
  EXPECT_EQ(t[9], 1.0f);
  EXPECT_EQ(t[8], 0.625f);
  EXPECT_NEAR(t[0], std::pow(0.625, 9), 1e-6);
  EXPECT_NEAR(t[0], 0.01455, 5e-6);
  // Rounded to float at each step, not computed as one power.
  for (int v = 0; v < 9; ++v) EXPECT_EQ(t[v], static_cast<float>(t[v + 1] / 1.6)) << v;
}

TEST_F(SoundTest, OutOfRangeVolumeIsClampedAndKeptAsPending) {
  start(12);
  EXPECT_EQ(g_client_settings.VOLUME, 9);
  EXPECT_EQ(g_sound.pendingVolume, 12);
  EXPECT_EQ(listener_gain(), 1.0f);
  shutdown_sound();

  start(-3);
  EXPECT_EQ(g_client_settings.VOLUME, 0);
  EXPECT_EQ(g_sound.pendingVolume, -3);
  EXPECT_EQ(listener_gain(), g_sound.gains[0]);
}

TEST_F(SoundTest, VolumeZeroPlaysNothing) {
  start(0);
  play_sound_at(0, Vector3f{0, 0, -1});
  play_sound_at(12, Vector3f{});
  EXPECT_EQ(play_loop(16), -1);
  EXPECT_EQ(newest_one_shot(), nullptr);
  for (const Voice& v : g_sound.loopVoices) EXPECT_EQ(v.source, 0u);
}

TEST_F(SoundTest, SetVolumeGainChangesTheListenerAtOnce) {
  start(9);
  const int h = play_loop(16);
  ASSERT_GE(h, 0);
  g_client_settings.VOLUME = 5;
  set_volume_gain();
  EXPECT_EQ(listener_gain(), g_sound.gains[5]);
  EXPECT_EQ(source_state(g_sound.loopVoices[h].source), AL_PLAYING);
  g_client_settings.VOLUME = 40;
  set_volume_gain();
  EXPECT_EQ(g_client_settings.VOLUME, 9);
  EXPECT_EQ(listener_gain(), 1.0f);
  // Silenced in the editor: later sounds do not start.
  g_client_settings.VOLUME = 0;
  set_volume_gain();
  EXPECT_EQ(play_loop(10), -1);
}

TEST_F(SoundTest, OneShotPlaysAtTheGivenPlace) {
  start(9);
  play_sound_at(2, Vector3f{1.5f, -2, 3});
  const Voice* v = newest_one_shot();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(source_state(v->source), AL_PLAYING);
  const Vector3f p = source_position(v->source);
  EXPECT_EQ(p.x, 1.5f);
  EXPECT_EQ(p.y, -2.0f);
  EXPECT_EQ(p.z, 3.0f);
  ALint looping = -1;
  alGetSourcei(v->source, AL_LOOPING, &looping);
  EXPECT_EQ(looping, AL_FALSE);

  // A position that is no position at all is heard at the listener.
  play_sound_at(13, Vector3f{std::nanf(""), 1, INFINITY});
  const Vector3f q = source_position(newest_one_shot()->source);
  EXPECT_EQ(q.x, 0.0f);
  EXPECT_EQ(q.y, 0.0f);
  EXPECT_EQ(q.z, 0.0f);
}

TEST_F(SoundTest, NukeBlastIsPlayedCloserThanItIs) {
  start(9);
  play_sound_at(20, Vector3f{5, -2.5f, 10});
  const Vector3f p = source_position(newest_one_shot()->source);
  EXPECT_FLOAT_EQ(p.x, 2.0f);
  EXPECT_FLOAT_EQ(p.y, -1.0f);
  EXPECT_FLOAT_EQ(p.z, 4.0f);
}

TEST_F(SoundTest, OthersNukeLaunchIsHeardOnlyNearby) {
  start(9);
  play_sound_at(21, Vector3f{0, 6, 0});
  EXPECT_EQ(newest_one_shot(), nullptr) << "distance 6 is out of earshot";
  play_sound_at(21, Vector3f{std::nanf(""), 0, 0});
  EXPECT_EQ(newest_one_shot(), nullptr) << "no distance, no sound";

  play_sound_at(21, Vector3f{0, 0, 4});
  const Voice* v = newest_one_shot();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(source_state(v->source), AL_PLAYING);
  const Vector3f p = source_position(v->source);  // at the listener, full volume
  EXPECT_EQ(p.x, 0.0f);
  EXPECT_EQ(p.y, 0.0f);
  EXPECT_EQ(p.z, 0.0f);

  play_sound_at(21, Vector3f{3, 4, 0});  // exactly 5 away: still heard
  EXPECT_EQ(playing_one_shots(), 2);
}

TEST_F(SoundTest, BadSoundNumbersAreIgnored) {
  start(9);
  for (int n : {-1, 22, 127, -128}) {
    play_sound_at(n, Vector3f{});
    EXPECT_EQ(play_loop(n), -1);
  }
  EXPECT_EQ(newest_one_shot(), nullptr);
  stop_loop(-1);
  stop_loop(16);
  stop_loop(1000);
}

TEST_F(SoundTest, BusyOneShotsGiveWayOldestFirst) {
  start(9);
  // 32 long explosions fill every voice.
  for (int i = 0; i < NUM_ONE_SHOT_VOICES; ++i) play_sound_at(20, Vector3f{});
  ASSERT_EQ(playing_one_shots(), NUM_ONE_SHOT_VOICES);
  for (int i = 0; i < NUM_ONE_SHOT_VOICES; ++i) {
    EXPECT_EQ(g_sound.oneShotVoices[i].started, static_cast<std::uint64_t>(i + 1));
  }
  // The next two take the voices that started first, in order.
  play_sound_at(0, Vector3f{});
  play_sound_at(9, Vector3f{});
  EXPECT_EQ(g_sound.oneShotVoices[0].started, 33u);
  EXPECT_EQ(g_sound.oneShotVoices[1].started, 34u);
  EXPECT_EQ(g_sound.oneShotVoices[2].started, 3u);
  EXPECT_EQ(playing_one_shots(), NUM_ONE_SHOT_VOICES);
}

TEST_F(SoundTest, LoopsPlayUntilStoppedAndAreNeverTakenOver) {
  start(9);
  EXPECT_EQ(play_loop(10), 0);  // shield hum
  EXPECT_EQ(play_loop(16), 1);  // engine
  EXPECT_EQ(play_loop(18), 2);  // hyper-warp
  const unsigned shield = g_sound.loopVoices[0].source;
  const unsigned engine = g_sound.loopVoices[1].source;
  const unsigned warp = g_sound.loopVoices[2].source;

  // Each file lasts at most 2 s; the loops outlast them.
  std::this_thread::sleep_for(std::chrono::milliseconds(2300));
  for (unsigned s : {shield, engine, warp}) EXPECT_EQ(source_state(s), AL_PLAYING);

  // Fill the other 13 voices; the 17th loop finds none.
  for (int i = 3; i < NUM_LOOP_VOICES; ++i) EXPECT_EQ(play_loop(9), i);
  EXPECT_EQ(play_loop(16), -1);
  EXPECT_EQ(source_state(engine), AL_PLAYING);

  stop_loop(1);
  EXPECT_EQ(source_state(engine), AL_STOPPED);
  EXPECT_EQ(source_state(shield), AL_PLAYING);
  EXPECT_EQ(play_loop(16), 1);  // the stopped voice is free again

  stop_all_loops();
  for (const Voice& v : g_sound.loopVoices) EXPECT_NE(source_state(v.source), AL_PLAYING);
}

TEST_F(SoundTest, MissingAndBrokenFilesAreNamedAndSilent) {
  const fs::path dir = fs::temp_directory_path() /
                       ("zbx_sound_test_" + std::to_string(static_cast<long>(::getpid())));
  const fs::path sounds = dir / "zbx3d" / "sounds";
  fs::create_directories(sounds);
  const fs::path shipped = fs::path(std::getenv("ZBX3D_DATA_PREFIX")) / "zbx3d" / "sounds";
  for (int n = 0; n < NUM_SOUNDS; ++n) {
    if (n == 3) continue;  // missing
    const std::string name = std::to_string(n) + ".wav";
    fs::copy_file(shipped / name, sounds / name);
  }
  std::ofstream(sounds / "5.wav", std::ios::trunc) << "RIFF\x10\0\0\0WAVEjunk";
  fs::resize_file(sounds / "16.wav", 100);  // cut inside the samples

  const std::string saved = std::getenv("ZBX3D_DATA_PREFIX");
  setenv("ZBX3D_DATA_PREFIX", dir.c_str(), 1);
  testing::internal::CaptureStdout();
  start(9);
  const std::string out = testing::internal::GetCapturedStdout();
  setenv("ZBX3D_DATA_PREFIX", saved.c_str(), 1);
  fs::remove_all(dir);

  const std::string expected = "Cannot load sound " + (sounds / "3.wav").string() + "\n" +
                               "Cannot load sound " + (sounds / "5.wav").string() + "\n" +
                               "Cannot load sound " + (sounds / "16.wav").string() + "\n";
  EXPECT_EQ(out, expected);
  play_sound_at(3, Vector3f{});
  play_sound_at(5, Vector3f{});
  EXPECT_EQ(newest_one_shot(), nullptr);
  EXPECT_EQ(play_loop(16), -1);
  play_sound_at(2, Vector3f{});  // the others still play
  EXPECT_EQ(playing_one_shots(), 1);
  EXPECT_EQ(play_loop(10), 0);
}

TEST_F(SoundTest, WindowThreadAndReceiverMayCallAtOnce) {
  start(9);
  // The receiver plays events and the warp loop while the window thread
  // plays interface sounds and starts and stops the engine.
  std::thread receiver([] {
    for (int i = 0; i < 400; ++i) {
      play_sound_at(i % NUM_SOUNDS, Vector3f{static_cast<float>(i % 7), 1, -2});
      if (i % 50 == 0) {
        const int h = play_loop(18);
        if (h >= 0) stop_loop(h);
      }
    }
  });
  int engineLoop = -1;
  for (int i = 0; i < 400; ++i) {
    play_sound_at(9, Vector3f{});
    if (engineLoop == -1) {
      engineLoop = play_loop(16);
    } else if (i % 3 == 0) {
      stop_loop(engineLoop);
      engineLoop = -1;
    }
    if (i % 100 == 0) set_volume_gain();
  }
  receiver.join();
  stop_all_loops();
  EXPECT_LE(playing_one_shots(), NUM_ONE_SHOT_VOICES);
  for (const Voice& v : g_sound.loopVoices) EXPECT_NE(source_state(v.source), AL_PLAYING);
}

TEST_F(SoundTest, ShutdownForgetsEverythingAndCallsBecomeNoOps) {
  start(9);
  play_sound_at(0, Vector3f{});
  ASSERT_GE(play_loop(16), 0);
  shutdown_sound();
  EXPECT_FALSE(g_sound.available);
  for (const Voice& v : g_sound.oneShotVoices) EXPECT_EQ(v.source, 0u);
  for (const SoundBankEntry& e : g_sound.bank) EXPECT_TRUE(e.data.empty());
  play_sound_at(0, Vector3f{});
  EXPECT_EQ(play_loop(16), -1);
  stop_loop(0);
  stop_all_loops();
  set_volume_gain();
}

}  // namespace
}  // namespace zbx
