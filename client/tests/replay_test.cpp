// Recording real games and reading recordings back, whole, cut at every byte,
// damaged and random.
#include "client/replay.h"

#include <gtest/gtest.h>

#include <random>

#include "server/server.h"
#include "testing/client_support.h"
#include "testing/files.h"
#include "testing/loopback.h"

namespace zbx {
namespace {

using namespace std::chrono_literals;

struct Outcome {
  bool opened = false;
  int datagrams = 0;
  ReadStatus last = ReadStatus::End;
  std::string message;
};

// Reads a recording held in memory and applies its datagrams to a scratch
// mirror through the snapshot parser, as a replay would.
Outcome read_all(const std::string& bytes) {
  Outcome out;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
      bytes.empty() ? std::fopen("/dev/null", "rb")
                    : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"),
      std::fclose);
  RecordingReader reader(f.get());
  JoinReply join;
  out.opened = reader.open(join, out.message);
  if (!out.opened) return out;
  WorldMirror mirror;
  mirror.join.slot = join.slot;
  SnapshotHandler h;
  h.context = &mirror;
  h.on_presence = [](void* c, const PresenceMessage& m) {
    apply_presence(*static_cast<WorldMirror*>(c), m);
  };
  h.on_object = [](void* c, const ObjectMessage& m) {
    apply_object_message(*static_cast<WorldMirror*>(c), m);
  };
  h.on_player = [](void*, const PlayerMessage&) {};
  Record r;
  while ((out.last = reader.next(r, out.message)) == ReadStatus::Record) {
    EXPECT_LE(r.length, DATAGRAM_BUFFER_SIZE);
    parse_snapshot(r.data, r.length, h);
    ++out.datagrams;
  }
  return out;
}

class ReplayTest : public test::LocalGameTest {
 protected:
  void SetUp() override {
    LocalGameTest::SetUp();
    load_server_settings(g_paths.serverSettings.c_str());
    ASSERT_TRUE(start_server_thread(1));
    std::this_thread::sleep_for(200ms);
  }
  void TearDown() override {
    g_recording = RecordingState{};
    LocalGameTest::TearDown();
  }
  // One short game against the server: join, frames for a while, quit.
  // Timed, not counted: a frame with nothing to draw may not sleep at all.
  void play_game(std::chrono::milliseconds length) {
    g_client_settings.SERVER_PORT = port_;
    std::snprintf(g_client_settings.PLAYER_NAME, sizeof g_client_settings.PLAYER_NAME, "Tester");
    ASSERT_EQ(StartGame(), 0);
    const auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end) frame_step();
    leave_game();
    g_client_settings.SERVER_PORT = port_;
  }
};

TEST_F(ReplayTest, GamesAreRecordedReplayedAndSurviveEveryCut) {
  const std::string path = home_ + "/game.zrec";
  std::remove(path.c_str());
  std::remove((path + ".2").c_str());
  ASSERT_TRUE(start_recording(path));
  play_game(600ms);
  play_game(100ms);
  g_recording = RecordingState{};

  const std::string first = test::read_file(path);
  const Outcome whole = read_all(first);
  ASSERT_TRUE(whole.opened) << whole.message;
  EXPECT_EQ(whole.last, ReadStatus::End) << whole.message;
  EXPECT_GE(whole.datagrams, 3);
  EXPECT_TRUE(read_all(test::read_file(path + ".2")).opened) << "the second game has its own file";

  // Cut at every byte: either refused at the start or read up to the cut, and
  // never more datagrams than the whole file holds.
  int previous = 0;
  for (std::size_t n = 0; n < first.size(); ++n) {
    const Outcome cut = read_all(first.substr(0, n));
    if (n < RECORDING_HEADER_SIZE + RECORD_HEAD_SIZE + JOIN_REPLY_SIZE) {
      EXPECT_FALSE(cut.opened) << n;
      EXPECT_FALSE(cut.message.empty());
      continue;
    }
    ASSERT_TRUE(cut.opened) << n;
    EXPECT_GE(cut.datagrams, previous);
    EXPECT_LT(cut.datagrams, whole.datagrams);
    if (cut.last == ReadStatus::Bad) {
      EXPECT_NE(cut.message.find("ends inside"), std::string::npos);
    }
    previous = cut.datagrams;
  }

  // The replay feeds the same game to the mirror and the frame loop, then
  // leaves for the main menu.
  std::string message;
  ASSERT_TRUE(open_replay(path, message)) << message;
  static int menus;
  menus = 0;
  g_client_hooks.show_main_menu = [] { ++menus; };
  begin_replay();
  replay_key_down('+');
  replay_key_down('+');
  replay_key_down('+');
  replay_key_down('+');
  EXPECT_EQ(g_replay.speed.load(), MAX_REPLAY_SPEED);
  bool sawOwn = false;
  for (int i = 0; i < 500 && g_replay.active; ++i) {
    replay_frame();
    if (g_play.inGame && own_player()) sawOwn = std::string(own_player()->name) == "Tester";
  }
  EXPECT_TRUE(sawOwn);
  EXPECT_FALSE(g_replay.active);
  EXPECT_FALSE(g_play.inGame);
  EXPECT_EQ(menus, 1);
}

TEST_F(ReplayTest, BadFilesGiveOneLineAndNothingIsOverwritten) {
  std::string header(RECORDING_MAGIC, sizeof RECORDING_MAGIC);
  header += std::string("\x01\0\0\0", 4);
  std::string join = std::string("\x14\0J\0\0\0\0", 7) + std::string(JOIN_REPLY_SIZE, '\0');
  const std::string good = header + join;
  ASSERT_TRUE(read_all(good).opened);

  auto message = [](const std::string& bytes) { return read_all(bytes).message; };
  EXPECT_EQ(message(""), "the file is empty");
  EXPECT_EQ(message("#!/bin/sh\necho hello\n"), "not a Zorbix recording");
  std::string v2 = good;
  v2[8] = 2;
  EXPECT_EQ(message(v2), "recording format version 2, this zbx3d reads 1");
  std::string longRecord = good + std::string(
                                      "\x01\x08"
                                      "D\0\0\0\0",
                                      7);
  EXPECT_EQ(message(longRecord), "record 2 is longer than a datagram");
  const std::string later = good + std::string("\0\0D\x10\0\0\0", 7);
  EXPECT_EQ(message(later + std::string("\0\0D\x0f\0\0\0", 7)), "record 3 goes back in time");
  EXPECT_EQ(read_all(later + std::string("\0\0D\x10\0\0\0", 7)).datagrams, 2);
  EXPECT_EQ(
      message(later + std::string("\x14\0J\x20\0\0\0", 7) + std::string(JOIN_REPLY_SIZE, '\0')),
      "record 3 is not a datagram");
  std::string badSlot = good;
  badSlot[RECORDING_HEADER_SIZE + RECORD_HEAD_SIZE + 7] = 40;
  EXPECT_EQ(message(badSlot), "the recorded join names player slot 40");

  // Random bytes, bare and behind a good start: the reader stops within the
  // input every time.
  std::mt19937 random(16);
  for (int i = 0; i < 3000; ++i) {
    std::string noise(random() % 300, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const Outcome bare = read_all(noise);
    const Outcome behind = read_all(good + noise);
    EXPECT_TRUE(behind.opened);
    EXPECT_LE(behind.datagrams, static_cast<int>(noise.size() / RECORD_HEAD_SIZE));
    if (bare.opened) {
      EXPECT_EQ(noise.compare(0, 8, header, 0, 8), 0);
    }
  }

  // A file that is not a recording is kept as it is, and nothing is recorded.
  const std::string notes = home_ + "/notes.txt";
  test::write_file(notes, "mine");
  EXPECT_FALSE(start_recording(notes));
  play_game(60ms);
  EXPECT_EQ(test::read_file(notes), "mine");
  EXPECT_FALSE(start_recording(home_ + "/no/such/folder/game.zrec"));
  EXPECT_FALSE(start_recording("/proc/version/game.zrec"));
}

}  // namespace
}  // namespace zbx
