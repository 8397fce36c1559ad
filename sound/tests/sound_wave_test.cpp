// What actually comes out of the speakers: each case runs a short scenario
// in a child process (this same test binary) whose OpenAL device is the
// "wave" backend recording the mix to a file, then reads the recording.
// A child is needed because OpenAL reads its configuration once per process
// and completes the recording only when the device closes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sound/sound.h"
#include "wav.h"
#include "startup/settings.h"

extern char** environ;

namespace zbx {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int RECORD_RATE = 22050;

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// ---------------------------------------------------------------- child side

// Seconds since the device opened (close enough: init_sound opens it first).
double since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void run_scenario(const std::string& name) {
  const Clock::time_point t0 = Clock::now();
  g_client_settings.VOLUME = name == "volume0" ? 0 : 9;
  init_sound(nullptr, nullptr);
  if (name == "nodevice") {
    EXPECT_FALSE(g_sound.available);
    play_sound_at(0, Vector3f{});
    EXPECT_EQ(play_loop(16), -1);
    stop_loop(0);
    set_volume_gain();
    stop_all_loops();
  } else if (name == "shot") {
    play_sound_at(0, Vector3f{0, 0, -1});
    sleep_ms(500);
  } else if (name == "volume0") {
    play_sound_at(0, Vector3f{0, 0, -1});
    play_sound_at(20, Vector3f{});
    EXPECT_EQ(play_loop(16), -1);
    sleep_ms(500);
  } else if (name == "nuke4") {
    play_sound_at(SOUND_DISTANT_NUKE_LAUNCH, Vector3f{0, 4, 0});
    sleep_ms(500);
  } else if (name == "nuke6") {
    play_sound_at(SOUND_DISTANT_NUKE_LAUNCH, Vector3f{6, 0, 0});
    sleep_ms(500);
  } else if (name == "loops") {
    EXPECT_EQ(play_loop(10), 0);  // shield hum
    EXPECT_EQ(play_loop(16), 1);  // engine
    EXPECT_EQ(play_loop(18), 2);  // hyper-warp
    std::printf("start %.3f\n", since(t0));
    sleep_ms(2700);  // longer than any of the three files
    std::printf("stop %.3f\n", since(t0));
    stop_all_loops();
    sleep_ms(700);
  } else {
    ADD_FAILURE() << "unknown scenario " << name;
  }
  shutdown_sound();
}

TEST(SoundWaveChild, Scenario) {
  const char* name = std::getenv("ZBX_SOUND_SCENARIO");
  if (name == nullptr) GTEST_SKIP() << "started by the SoundWave tests only";
  run_scenario(name);
}

// ---------------------------------------------------------------- parent side

struct ChildRun {
  int status = -1;         // exit status, -1 when killed or not run
  std::string out;         // its standard output
  std::vector<float> mix;  // the recording, -1..1, empty without one
};

// Runs one scenario with the given OpenAL driver; "wave" records the mix.
ChildRun run_child(const std::string& scenario, const std::string& driver) {
  ChildRun run;
  const fs::path dir = fs::temp_directory_path() / ("zbx_wave_" + scenario + "_" +
                                                    std::to_string(static_cast<long>(::getpid())));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path conf = dir / "alsoft.conf";
  const fs::path wav = dir / "mix.wav";
  const fs::path out = dir / "out.txt";
  std::ofstream(conf) << "[general]\ndrivers=" << driver
                      << "\nsample-type=int16\nchannels=mono\ndither=false\nfrequency="
                      << RECORD_RATE << "\n[wave]\nfile=" << wav.string() << "\n";

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    if (var.rfind("ALSOFT_", 0) != 0 && var.rfind("ZBX_SOUND_SCENARIO=", 0) != 0)
      env.push_back(var);
  }
  env.push_back("ALSOFT_DRIVERS=" + driver);
  env.push_back("ALSOFT_CONF=" + conf.string());
  env.push_back("ZBX_SOUND_SCENARIO=" + scenario);
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string self = fs::read_symlink("/proc/self/exe").string();
  std::string filter = "--gtest_filter=SoundWaveChild.Scenario";
  char* argv[] = {self.data(), filter.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn: " << std::strerror(rc);
    return run;
  }
  // Bounded wait: a hung child is killed.
  int wstatus = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
  pid_t done = 0;
  while ((done = ::waitpid(pid, &wstatus, WNOHANG)) == 0 && Clock::now() < deadline) sleep_ms(10);
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &wstatus, 0);
    ADD_FAILURE() << scenario << ": child hung";
  } else if (WIFEXITED(wstatus)) {
    run.status = WEXITSTATUS(wstatus);
  }

  std::ifstream o(out);
  run.out.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
  std::vector<std::uint8_t> image;
  WavInfo info;
  if (read_file_bytes(wav.c_str(), 1u << 26, image) && parse_wav(image, info)) {
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sampleRate, RECORD_RATE);
    for (std::int16_t v : wav_samples16(image, info)) run.mix.push_back(v / 32768.0f);
  }
  fs::remove_all(dir);
  return run;
}

// Largest magnitude between two times (seconds), clipped to the recording.
float peak_between(const std::vector<float>& mix, double from, double to) {
  const auto a = std::min(mix.size(), static_cast<std::size_t>(std::max(0.0, from) * RECORD_RATE));
  const auto b = std::min(mix.size(), static_cast<std::size_t>(std::max(0.0, to) * RECORD_RATE));
  float peak = 0;
  for (std::size_t i = a; i < b; ++i) peak = std::max(peak, std::fabs(mix[i]));
  return peak;
}

double seconds(const std::vector<float>& mix) {
  return static_cast<double>(mix.size()) / RECORD_RATE;
}

TEST(SoundWave, AShotIsHeard) {
  const ChildRun run = run_child("shot", "wave");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_GT(seconds(run.mix), 0.3);
  EXPECT_GT(peak_between(run.mix, 0, seconds(run.mix)), 0.1f);
}

TEST(SoundWave, VolumeZeroIsSilent) {
  const ChildRun run = run_child("volume0", "wave");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_GT(seconds(run.mix), 0.3);
  EXPECT_EQ(peak_between(run.mix, 0, seconds(run.mix)), 0.0f);
}

TEST(SoundWave, OthersNukeLaunchIsHeardAtFourButNotAtSix) {
  const ChildRun near = run_child("nuke4", "wave");
  ASSERT_EQ(near.status, 0) << near.out;
  EXPECT_GT(peak_between(near.mix, 0, seconds(near.mix)), 0.1f);
  const ChildRun far = run_child("nuke6", "wave");
  ASSERT_EQ(far.status, 0) << far.out;
  ASSERT_GT(seconds(far.mix), 0.3);
  EXPECT_EQ(peak_between(far.mix, 0, seconds(far.mix)), 0.0f);
}

TEST(SoundWave, LoopsPlayOnUntilAllAreStopped) {
  const ChildRun run = run_child("loops", "wave");
  ASSERT_EQ(run.status, 0) << run.out;
  double start = -1, stop = -1;
  std::istringstream lines(run.out);
  std::string word;
  double t = 0;
  while (lines >> word) {
    if ((word == "start" || word == "stop") && lines >> t) (word == "start" ? start : stop) = t;
  }
  ASSERT_GE(start, 0) << run.out;
  ASSERT_GT(stop, start + 2.4) << run.out;
  ASSERT_GT(seconds(run.mix), stop + 0.5);
  // Past the end of the longest file (2 s) the loops still sound...
  EXPECT_GT(peak_between(run.mix, start + 2.15, stop - 0.05), 0.05f);
  // ...and after stop_all_loops nothing does.
  EXPECT_EQ(peak_between(run.mix, stop + 0.3, seconds(run.mix)), 0.0f);
}

TEST(SoundWave, NoDeviceMeansSilenceNotFailure) {
  const ChildRun run = run_child("nodevice", "no-such-driver");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("No audio device: playing without sound\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace zbx
