// Recording the run's games ("-record") and replaying one ("-play").
//
// The receiver writes each game to its own file: the first to the path given,
// later ones beside it with ".2", ".3", ... appended. A replay runs as the
// game's receiver: a thread feeds the recorded datagrams to the mirror at
// their recorded times, and the frame loop draws them as in a live game.
// Messages go to standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "protocol/recording.h"

namespace zbx {

struct RecordingState {
  std::string path;  // empty: not recording
  int games = 0;     // games begun in this run
  int fd = -1;       // the current game's file
  std::chrono::steady_clock::time_point start;
};
extern RecordingState g_recording;

// Start-up checks of "-record": false (and recording off) with one line on
// standard error when the file is not a recording or its folder cannot be
// written.
bool start_recording(const std::string& path);
// The file of the n-th game of the run (1-based).
std::string recording_path(const std::string& path, int game);
// Receiver side: a new game (the JoinInfo is in the mirror), one datagram as
// received, the end of the game.
void record_game_begin();
void record_datagram(const std::uint8_t* data, std::size_t length);
void record_game_end();

inline constexpr int MAX_REPLAY_SPEED = 8;

struct ReplayState {
  std::string path;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, std::fclose};
  std::unique_ptr<RecordingReader> reader;
  JoinReply join;
  std::atomic<int> speed{1};
  std::atomic<bool> paused{false};
  std::atomic<bool> finished{false};  // the thread has read its last record
  bool active = false;                // between begin_replay and its end
  // The replay's own clock in seconds (window thread): it runs at the
  // replay's speed and stands while paused, so smoothing sees the recorded
  // game's pace. Records arrive at their recorded times on it.
  double clock = 0;
  std::chrono::steady_clock::time_point clockStep{};
};
extern ReplayState g_replay;

// Opens the file and reads its header and join; false with a message.
bool open_replay(const std::string& path, std::string& message);
// Starts the opened replay as a game (the play screen must be installed).
void begin_replay();
// The replay screen's keys: Space pauses, '+' and '-' change the speed, Escape
// and the quit key end it; the score and reverse-view keys work as in a game.
void replay_key_down(unsigned char key);
void replay_key_up(unsigned char key);
// One frame of the replay screen; after the last record, back to the menu.
void replay_frame();
// Ends the replay now and shows the main menu.
void end_replay();
// Body of the replay thread (runs as the game's receiver).
void ReplayThread();

}  // namespace zbx
