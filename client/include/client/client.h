// The game client without its window: joining a server, forwarding keys, the
// receiver thread that keeps the WorldMirror (client/mirror.h), the key and
// frame logic of a game, and the private server of a single-player game.
// Drawing, sound and menus are reached through g_client_hooks (client/hooks.h).
//
// Threads: everything here runs on the window-system thread except the
// receiver. During a game that thread holds the mirror mutex from StartGame
// on, giving it up only around each frame's pacing sleep and for good in
// leave_game / end_game; key callbacks and frames therefore run under it.
#pragma once

#include <netinet/in.h>
#include <sys/time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "client/hooks.h"
#include "client/mirror.h"
#include "compact/compact.h"
#include "protocol/zbx_types.h"
#include "server/server.h"

namespace zbx {

// Sound numbers the client plays itself.
inline constexpr int SOUND_HIGH_SCORE = 1;
inline constexpr int SOUND_BEAT_HIGH = 4;
inline constexpr int SOUND_BEAT_LOW = 5;
inline constexpr int SOUND_SHIELD_LOOP = 10;
inline constexpr int SOUND_SHIELD_EMPTY = 11;
inline constexpr int SOUND_ENGINE_LOOP = 16;

inline constexpr int BEAT_PERIOD = 40;            // frames between cockpit beats
inline constexpr int FRAME_MICROSECONDS = 20000;  // one frame at 50 per second
inline constexpr float FRAME_ANIMATION_STEP = 0.15f;
inline constexpr int JOIN_ATTEMPTS = 3;
inline constexpr int SINGLE_PLAYER_PORT = 12345;

// A join under way (begin_join .. join_step). The attempts and their
// time-outs are ConnectServer's; only the waiting is cut into slices so the
// window can go on drawing and reading keys.
struct JoinProgress {
  bool active = false;
  int attempt = 0;  // 1..JOIN_ATTEMPTS
  std::chrono::steady_clock::time_point deadline{};
  // Before a multi-player join the client asks the server for its status
  // (its rules, and whether it offers the compact stream), waiting at most
  // STATUS_WAIT: a server of the first games never answers.
  bool asking = false;
  std::chrono::steady_clock::time_point askUntil{};
  std::string challenge;
  bool compactOffered = false;
  bool compactAsked = false;
  ServerTraits traits;
};

inline constexpr std::chrono::milliseconds STATUS_WAIT{500};

enum class JoinStatus { Waiting, Joined, Failed };

// The connection of the current game and its receiver. Per process; the
// socket and the receiver are replaced at every game.
struct ClientConnection {
  int socket = -1;           // open from ConnectServer until the game has ended
  sockaddr_in server{};      // SERVER_IP:SERVER_PORT
  KeyStateArray KeyState{};  // held keys, sent once a second
  // Receive time-out of the join and of the receiver; tests shorten it.
  std::chrono::milliseconds receiveTimeout{5000};
  JoinProgress join;
  // steady_clock milliseconds of the last datagram the receiver took in.
  std::atomic<std::int64_t> lastDatagram{0};

  // The stream of this game: the compact one when the server granted it at
  // the join; its decoder lives on the receiver's thread.
  bool compact = false;
  std::unique_ptr<CompactDecoder> decoder;

  std::thread receiver;
  std::atomic<int> receiverStop{0};
  int warpLoop = -1;  // hyper-warp loop handle, receiver side, under the mirror mutex
  // 1 while the receiver waits for or holds the mirror mutex: a late frame
  // lets it through before taking the mutex back.
  std::atomic<int> receiverActive{0};
  // Counts for tests and diagnostics.
  std::atomic<int> receiversStarted{0};
  std::atomic<int> receiversRunning{0};
};
extern ClientConnection g_connection;

// The game's actions, one for each key binding of a game (KeyBindings);
// other input sources than the keyboard work them through play_action.
enum class PlayAction {
  Fire = 0,
  ForwardThrust = 1,
  ReverseThrust = 2,
  XForwardRotate = 3,
  XBackwardRotate = 4,
  YForwardRotate = 5,
  YBackwardRotate = 6,
  ZForwardRotate = 7,
  ZBackwardRotate = 8,
  Shield = 9,
  Warp = 10,
  Nuke = 11,
  Score = 12,
  ReverseView = 13,
  Quit = 14,
};
inline constexpr int PLAY_ACTIONS = 15;

// Actions that last while held (they have a release); the others act once,
// on the press.
constexpr bool action_is_held(PlayAction action) {
  return action != PlayAction::Fire && action != PlayAction::Warp && action != PlayAction::Nuke &&
         action != PlayAction::Quit;
}

// Who holds an action (PlayState::holders bits).
inline constexpr std::uint8_t HELD_BY_KEYBOARD = 1;
inline constexpr std::uint8_t HELD_BY_OTHER = 2;

// Play state of the game on screen (window-system thread only).
struct PlayState {
  bool inGame = false;       // StartGame succeeded, no ending sequence yet
  bool holdsMirror = false;  // this thread holds the mirror mutex
  int scoreTable = 0;        // SCORE_KEY held
  int reverseView = 0;       // REVERSE_VIEW_KEY held
  // Sources holding each action: the server hears one press and one release
  // however many hold it in between.
  std::array<std::uint8_t, PLAY_ACTIONS> holders{};
  int engineLoop = -1;
  int shieldLoop = -1;
  int beatCounter = BEAT_PERIOD;
  int beatPeriod = BEAT_PERIOD;
  int beatToggle = 0;
  timeval lastUpdate{};     // time of the last SendUpdate
  timeval previousFrame{};  // end of the previous frame
};
extern PlayState g_play;
// The window thread's hold on the mirror mutex during a game (holdsMirror is
// set only here): taken by StartGame, given up around each frame's sleep and
// for good when the game ends. release_mirror does nothing when not held.
void hold_mirror();
void release_mirror();

// The server thread this process started from the menu, if any.
struct LocalServer {
  std::thread thread;
  ServerControl control;
  bool privateGame = false;  // started for the single-player game now being played
  int port = 0;              // where it listens on 127.0.0.1, to wake it when stopping
  std::chrono::milliseconds startWait{1000};  // pause before joining it
  // Where a single-player game looks for its server (the single-player
  // settings file must agree); tests move it to a free port.
  int singlePlayerPort = SINGLE_PLAYER_PORT;
};
extern LocalServer g_local_server;

// Puts the client state back as at start-up (sockets and threads must have
// ended); the mirror is left alone.
void reset_client_state();

// --- Connection and input forwarding (window-system thread) ---

// Joins SERVER_IP:SERVER_PORT. 0: joined, 1: failed (back in the menus).
// Exits on socket or address errors.
int ConnectServer();
// ConnectServer, then takes the mirror mutex and starts the receiver.
// 0: game running, 1: join failed.
int StartGame();
// ConnectServer in steps: begin_join opens the socket and sends the probe and
// the first request (same exits); join_step waits at most `wait` and moves on
// to the next attempt with the usual lines. Failed comes after "Failed to
// connect to server"; leaving the game is then the caller's.
void begin_join();
JoinStatus join_step(std::chrono::milliseconds wait);
// StartGame's steps after a successful join.
void begin_game();
// Starts a game's datagram thread (a receiver or a replay) and the game
// screen's clocks.
void start_game_thread(void (*body)());
// Whole seconds since the receiver last heard the server, 0 under 2 s.
int silence_seconds();
// One KeyEvent for control id code (no game: nothing is sent).
void TellServer(int code, bool pressed);
// The KeyState array as one KeyStateUpdate (no game: nothing is sent).
void SendUpdate();

// --- Receiver ---

// Body of the receiver thread; applies every snapshot datagram to g_mirror.
void ReadServerThread();
// Applies one datagram to g_mirror as the receiver does: under the mirror
// mutex, through the same parser and checks (the replay's datagrams too).
// Each snapshot it completes goes to the smoother with its arrival on the
// game clock (seconds; the steady clock when not given).
void apply_datagram(const std::uint8_t* data, std::size_t length);
void apply_datagram(const std::uint8_t* data, std::size_t length, double arrival);
// A snapshot of the compact stream applied to g_mirror as the messages of
// the first stream would be (under the mirror mutex), and those messages.
void apply_frame(const CompactFrame& frame, double arrival);
PresenceMessage presence_of(const CompactFrame& frame);
void write_frame(const CompactFrame& frame, SnapshotWriter& writer);
// Ends the current game's receiver at once (releasing the mirror mutex if
// this thread holds it), waits for it and closes the game's socket.
void stop_receiver();

// --- Game keys and frames (window-system thread) ---

void play_key_down(unsigned char key);
void play_key_up(unsigned char key);
// Another input source than the keyboard (a gamepad) presses or lets go of an
// action: the effects of the action's key, sent the same way. False when a
// press was not taken because the own ship is not known yet (the source may
// try again).
bool play_action(PlayAction action, bool pressed);
// One whole frame: the drawing hooks around frame_step.
void play_frame();
// The frame's own work: beat, loop sounds, periodic update, drawing of the
// overlay and world (hooks), explosion ages, pacing sleep.
void frame_step();
// Quit key or failed join: quit, stop the receiver, back to the main menu.
void leave_game();
// Fire key after the last life: quit, stop the receiver, high score or menu.
void end_game();

// Pure pieces of a frame.
struct FramePacing {
  int sleepMicroseconds = 0;  // 0: no sleep
  float increment = 0;        // animation step for explosions
};
// Microseconds from a to b (negative when the clock went back).
std::int64_t elapsed_microseconds(const timeval& a, const timeval& b);
FramePacing frame_pacing(std::int64_t elapsedMicroseconds);
// Decrements the counter; returns the beat sound to play now, or -1.
int next_beat(int& counter, int& toggle, int period);
// Ages explosions: kind 4 by the increment, kind 5 by a sixth of it.
void advance_explosions(WorldMirror& mirror, float increment);
// True when now falls in another wall-clock second than the last update.
bool update_due(const timeval& lastUpdate, const timeval& now);

// --- Server threads started from the menu ---

// True from start_server_thread until that server's thread has ended.
bool local_server_running();
// Starts ServerThread(keep_settings) on a thread of this process; false when
// one already runs. "Pthread error" and status 1 if it cannot be created.
bool start_server_thread(int keep_settings);
// Sets the server's stop flag, wakes it and waits for it; false when no
// server thread of this process was left to wait for.
bool stop_server_thread();
// The single-player start after the menu has installed the game screen:
// private server on port 12345, a pause, then StartGame. -1: refused (a
// server thread already runs); 1: the join failed; 0: game running.
int start_single_player_game();
// Its first part: the private server started and the address pointed at it;
// false (nothing done) when a server thread already runs.
bool start_private_server();
// The multi-player start after the menu has installed the game screen: a
// fresh receiver stop flag, then StartGame. 1: the join failed; 0: running.
int start_multi_player_game();

}  // namespace zbx
