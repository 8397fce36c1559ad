// Recording games as they are received, and replaying them.
#include "client/replay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "client/client.h"
#include "startup/settings.h"

namespace zbx {

RecordingState g_recording;
ReplayState g_replay;

namespace {

enum class Existing { None, Recording, Other };

Existing existing_file(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return errno == ENOENT || errno == ENOTDIR ? Existing::None : Existing::Other;
  return looks_like_recording(f.get()) ? Existing::Recording : Existing::Other;
}

void refuse_existing(const std::string& path) {
  std::fprintf(stderr, "zbx3d: %s exists and is not a Zorbix recording: not recording\n",
               path.c_str());
}

std::uint32_t milliseconds_since(std::chrono::steady_clock::time_point start) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return static_cast<std::uint32_t>(ms.count());
}

void close_recording() {
  if (g_recording.fd >= 0) close(g_recording.fd);
  g_recording.fd = -1;
}

}  // namespace

std::string recording_path(const std::string& path, int game) {
  return game <= 1 ? path : path + "." + std::to_string(game);
}

bool start_recording(const std::string& path) {
  g_recording = RecordingState{};
  if (existing_file(path) == Existing::Other) {
    refuse_existing(path);
    return false;
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    std::fprintf(stderr, "zbx3d: cannot record into %s: %s\n", folder.c_str(),
                 std::strerror(errno));
    return false;
  }
  g_recording.path = path;
  return true;
}

void record_game_begin() {
  close_recording();
  if (g_recording.path.empty()) return;
  const std::string path = recording_path(g_recording.path, ++g_recording.games);
  if (existing_file(path) == Existing::Other) {
    refuse_existing(path);
    return;
  }
  g_recording.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (g_recording.fd < 0) {
    std::fprintf(stderr, "zbx3d: cannot record into %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  g_recording.start = std::chrono::steady_clock::now();
  // StartGame filled the JoinInfo before it started this thread.
  const JoinInfo& j = g_mirror.join;
  const JoinReply reply{j.gameType, 0, j.slot, j.worldWidth, j.maxShield, j.maxArmor};
  std::uint8_t bytes[JOIN_REPLY_SIZE];
  encode_join_reply(reply, bytes);
  if (!write_recording_header(g_recording.fd) ||
      !write_record(g_recording.fd, RECORD_JOIN, 0, bytes, sizeof bytes)) {
    std::fprintf(stderr, "zbx3d: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    close_recording();
  }
}

void record_datagram(const std::uint8_t* data, std::size_t length) {
  if (g_recording.fd < 0) return;
  if (!write_record(g_recording.fd, RECORD_DATAGRAM, milliseconds_since(g_recording.start), data,
                    length)) {
    std::fprintf(stderr, "zbx3d: cannot write the recording: %s; recording stopped\n",
                 std::strerror(errno));
    close_recording();
  }
}

void record_game_end() { close_recording(); }

bool open_replay(const std::string& path, std::string& message) {
  g_replay.path = path;
  g_replay.reader.reset();
  g_replay.file.reset(std::fopen(path.c_str(), "rb"));
  if (!g_replay.file) {
    message = path + ": " + std::strerror(errno);
    return false;
  }
  g_replay.reader = std::make_unique<RecordingReader>(g_replay.file.get());
  if (!g_replay.reader->open(g_replay.join, message)) {
    message = path + ": " + message;
    g_replay.file.reset();
    return false;
  }
  return true;
}

void ReplayThread() {
  using Clock = std::chrono::steady_clock;
  double at = 0;  // replay time in milliseconds
  Clock::time_point last = Clock::now();
  Record record;
  std::string message;
  while (g_connection.receiverStop.load() == 0) {
    const ReadStatus status = g_replay.reader->next(record, message);
    if (status == ReadStatus::Bad) {
      std::fprintf(stderr, "zbx3d: %s: %s; replay ended\n", g_replay.path.c_str(), message.c_str());
    }
    if (status != ReadStatus::Record) break;
    // Short sleeps keep pause, speed and stop answering at once.
    while (g_connection.receiverStop.load() == 0) {
      const Clock::time_point now = Clock::now();
      if (!g_replay.paused.load()) {
        at += std::chrono::duration<double, std::milli>(now - last).count() * g_replay.speed.load();
      }
      last = now;
      if (at >= record.milliseconds) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (g_connection.receiverStop.load() == 0) {
      apply_datagram(record.data, record.length, record.milliseconds / 1000.0);
    }
  }
  g_replay.finished.store(true);
}

void begin_replay() {
  stop_receiver();
  clear_mirror();
  g_mirror.join.slot = g_replay.join.slot;
  g_mirror.join.gameType = g_replay.join.gameType;
  g_mirror.join.worldWidth = g_replay.join.worldWidth;
  g_mirror.join.maxShield = g_replay.join.maxShield;
  g_mirror.join.maxArmor = g_replay.join.maxArmor;
  g_connection.KeyState.fill(0);
  g_connection.receiverStop.store(0);
  g_replay.speed.store(1);
  g_replay.paused.store(false);
  g_replay.finished.store(false);
  g_replay.active = true;
  g_replay.clock = 0;
  g_replay.clockStep = std::chrono::steady_clock::now();
  start_game_thread(ReplayThread);
}

void end_replay() {
  if (!g_replay.active) return;
  g_replay.active = false;
  // leave_game stops the replay thread as it stops a receiver; with no
  // socket, nothing is sent.
  leave_game();
  g_replay.reader.reset();
  g_replay.file.reset();
}

void replay_key_down(unsigned char key) {
  const KeyBindings& k = g_client_settings.keys;
  if (key == 27 || (key != 0 && key == static_cast<unsigned char>(k.QUIT_KEY))) {
    end_replay();
  } else if (key == ' ') {
    g_replay.paused.store(!g_replay.paused.load());
  } else if (key == '+') {
    g_replay.speed.store(std::min(g_replay.speed.load() * 2, MAX_REPLAY_SPEED));
  } else if (key == '-') {
    g_replay.speed.store(std::max(g_replay.speed.load() / 2, 1));
  } else if (key != 0 && key == static_cast<unsigned char>(k.SCORE_KEY)) {
    g_play.scoreTable = 1;
  } else if (key != 0 && key == static_cast<unsigned char>(k.REVERSE_VIEW_KEY)) {
    g_play.reverseView = 1;
  }
}

void replay_key_up(unsigned char key) {
  const KeyBindings& k = g_client_settings.keys;
  if (key != 0 && key == static_cast<unsigned char>(k.SCORE_KEY)) g_play.scoreTable = 0;
  if (key != 0 && key == static_cast<unsigned char>(k.REVERSE_VIEW_KEY)) g_play.reverseView = 0;
}

void replay_frame() {
  if (!g_replay.active) return;
  if (g_replay.finished.load()) {
    end_replay();
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const bool paused = g_replay.paused.load();
  if (!paused) {
    g_replay.clock +=
        std::chrono::duration<double>(now - g_replay.clockStep).count() * g_replay.speed.load();
  }
  g_replay.clockStep = now;
  if (!paused) {
    play_frame();
    return;
  }
  // Paused: the same picture, no beat, no explosion ageing.
  g_client_hooks.begin_frame();
  g_client_hooks.reset_view();
  if (own_player()) {
    g_client_hooks.draw_starfield();
    g_client_hooks.draw_overlay();
    g_client_hooks.draw_world();
  }
  g_client_hooks.draw_replay_state(g_replay.speed.load(), true);
  g_client_hooks.swap_frame();
  release_mirror();
  std::this_thread::sleep_for(std::chrono::microseconds(FRAME_MICROSECONDS));
  gettimeofday(&g_play.previousFrame, nullptr);
  hold_mirror();
}

}  // namespace zbx
