// Server start-up, the client table and the receive loop: joins, quits, key
// events, key-state updates and the time-out of silent clients.
#include "server/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "broadcast.h"
#include "motion.h"
#include "protocol/protocol.h"
#include "protocol/query.h"
#include "queries.h"
#include "receive.h"
#include "rules.h"
#include "run.h"
#include "simulation.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {

namespace {

// Game datagrams are at most 20 bytes (a longer one matches no length); status
// queries need room for their challenge.
constexpr std::size_t RECEIVE_BUFFER_SIZE = 2048;
// A flood of queries keeps the socket from timing out: silent clients are
// still looked at this often.
constexpr std::int64_t SWEEP_MILLIS = 1000;

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

[[noreturn]] void thread_error(int error, int status) {
  std::printf("ERROR, return code from pthread_create() is %d\n", error);
  fatal_exit(status);
}

// Time of a client's last sign of life. A monotonic clock, so a change of the
// wall clock neither drops every client nor keeps a silent one forever.
timeval now_time() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  timeval tv{};
  tv.tv_sec = ts.tv_sec;
  tv.tv_usec = ts.tv_nsec / 1000;
  return tv;
}

long long micros_between(const timeval& earlier, const timeval& later) {
  return (static_cast<long long>(later.tv_sec) - earlier.tv_sec) * 1'000'000LL +
         (static_cast<long long>(later.tv_usec) - earlier.tv_usec);
}

bool same_peer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool send_bytes(int socket, const void* data, std::size_t length, const sockaddr_in& to) {
  const ssize_t sent =
      sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == static_cast<ssize_t>(length);
}

}  // namespace

JoinReply join_reply_template() {
  const ServerSettings& s = g_server_settings;
  JoinReply r;
  r.gameType = s.MAX_NUMBER_OF_PLAYERS == 1 ? 0 : s.GAME_TYPE;
  r.maxPlayers = s.MAX_NUMBER_OF_PLAYERS;
  r.worldWidth = s.WORLD_WIDTH;
  r.maxShield = s.MAX_SHIELD;
  r.maxArmor = s.MAX_ARMOR;
  return r;
}

namespace {

void start_broadcast(ReceiveLoop& loop, int slot) {
  const unsigned generation = ++loop.run.generation[slot];
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([&run = loop.run, socket = loop.socket, slot, generation, done] {
      broadcast_thread(run, socket, slot, generation);
      done->store(true);
    });
    loop.broadcasts.push_back({std::move(thread), std::move(done)});
  } catch (const std::system_error& e) {
    thread_error(e.code().value(), 8);
  }
}

}  // namespace

// Joins the broadcast threads that have ended; all of them when `all`.
void reap_broadcasts(ReceiveLoop& loop, bool all) {
  for (auto it = loop.broadcasts.begin(); it != loop.broadcasts.end();) {
    if (all || it->done->load()) {
      it->thread.join();
      it = loop.broadcasts.erase(it);
    } else {
      ++it;
    }
  }
}

namespace {

// The slot of the client at `from`, or -1.
int client_slot(const ServerRun& run, const sockaddr_in& from) {
  for (int k = 0; k < MAX_PLAYERS; ++k) {
    if (is_client(k) && same_peer(run.clients[k].peer, from)) return k;
  }
  return -1;
}

void handle_key_state(ServerRun& run, const std::uint8_t* data, const sockaddr_in& from,
                      const timeval& now) {
  for (int k = 0; k < MAX_PLAYERS; ++k) {
    ClientSlot& client = run.clients[k];
    if (!is_client(k) || !same_peer(client.peer, from)) continue;
    client.lastHeard = now;
    client.heardAgain = 1;
    if (Ship* ship = g_world.players[k].get()) apply_key_state(*ship, data);
  }
}

void handle_quit(ReceiveLoop& loop, int slot) {
  if (g_server_settings.MAX_NUMBER_OF_PLAYERS == 1) loop.run.stop.store(1);
  const std::uint8_t ack = QUIT_ACK_BYTE;
  if (!send_bytes(loop.socket, &ack, QUIT_ACK_SIZE, loop.run.clients[slot].peer)) {
    say("write error");
  }
  delete_player(slot);
}

void handle_key_event(ReceiveLoop& loop, std::uint8_t byte, const sockaddr_in& from) {
  const int slot = client_slot(loop.run, from);
  if (slot < 0) return;
  loop.run.clients[slot].heardAgain = 1;
  const KeyEvent event = decode_key_event(byte);
  if (!event.valid || event.control > CONTROL_WARP) return;
  if (event.control == CONTROL_QUIT) {
    if (event.pressed) handle_quit(loop, slot);
    return;
  }
  if (Ship* ship = g_world.players[slot].get()) apply_control(*ship, event.control, event.pressed);
}

// Returns false for a join refused because the server is full (no sweep then).
// `compact`: the client asked for the compact stream (a CompactJoin).
bool handle_join(ReceiveLoop& loop, const std::uint8_t* data, const sockaddr_in& from,
                 const timeval& now, bool compact) {
  for (int slot = client_slot(loop.run, from); slot >= 0; slot = client_slot(loop.run, from)) {
    delete_player(slot);
  }
  if (g_world.humanCount >= g_server_settings.MAX_NUMBER_OF_PLAYERS) return false;
  int slot = -1;
  for (int k = 0; k < MAX_PLAYERS && slot < 0; ++k) {
    if (!g_world.players[k]) slot = k;
  }
  if (slot < 0) return true;

  JoinReply fields = loop.joinReply;
  fields.slot = slot;
  std::uint8_t reply[JOIN_REPLY_SIZE];
  encode_join_reply(fields, reply);
  // With the extension switched off the client gets a plain reply and the
  // stream of the first games.
  compact = compact && g_server_settings.COMPACT_SNAPSHOTS != 0;
  if (compact) mark_compact_join_reply(reply);
  if (!send_bytes(loop.socket, reply, JOIN_REPLY_SIZE, from)) {
    say("Write Error");
    return true;
  }
  loop.run.clients[slot].peer = from;
  loop.run.clients[slot].lastHeard = now;
  loop.run.clients[slot].heardAgain = 0;
  loop.run.compact[slot] =
      compact ? std::make_unique<CompactEncoder>(g_server_settings.WORLD_WIDTH, slot) : nullptr;
  char name[NAME_SIZE];
  decode_join_request(data, name);
  // The thread waits for the world lock, held here until the ship exists.
  start_broadcast(loop, slot);
  const Vector3f start = random_clear_position();
  auto ship = std::make_unique<Ship>();
  add_player(*ship, slot, name, 0, start);
  g_world.players[slot] = std::move(ship);
  return true;
}

// An acknowledgement of the compact stream: from a client of that stream it
// also shows the client is there; from anyone else it is nothing.
void handle_ack(ServerRun& run, const std::uint8_t* data, std::size_t length,
                const sockaddr_in& from, const timeval& now) {
  CompactAck ack;
  if (!decode_compact_ack(data, length, ack)) return;
  const int slot = client_slot(run, from);
  if (slot < 0 || !run.compact[slot]) return;
  run.compact[slot]->acknowledge(ack);
  run.clients[slot].lastHeard = now;
  run.clients[slot].heardAgain = 1;
}

void sweep_silent_clients(ServerRun& run, const timeval& now) {
  for (int k = 0; k < MAX_PLAYERS; ++k) {
    const ClientSlot& client = run.clients[k];
    const bool unverified = g_server_settings.VERIFY_NEW_CLIENTS != 0 && !client.heardAgain;
    const long limit = unverified ? UNVERIFIED_TIMEOUT_MICROS : CLIENT_TIMEOUT_MICROS;
    if (!is_client(k) || micros_between(client.lastHeard, now) <= limit) continue;
    if (g_server_settings.MAX_NUMBER_OF_PLAYERS == 1) run.stop.store(1);
    delete_player(k);
  }
}

}  // namespace

void handle_datagram(ReceiveLoop& loop, const std::uint8_t* data, std::size_t length,
                     const sockaddr_in& from) {
  // No game datagram starts with four 0xFF bytes: a key state's first byte is
  // 0, and no name starts so.
  if (is_out_of_band(data, length)) {
    handle_query(loop, data, length, from);
    const std::int64_t now = steady_millis();
    if (now - loop.lastSweep >= SWEEP_MILLIS) {
      loop.lastSweep = now;
      std::lock_guard<std::mutex> lock(world_lock());
      sweep_silent_clients(loop.run, now_time());
    }
    return;
  }
  loop.lastSweep = steady_millis();
  std::lock_guard<std::mutex> lock(world_lock());
  const timeval now = now_time();
  bool sweep = true;
  switch (length) {
    case KEY_STATE_SIZE:
      handle_key_state(loop.run, data, from, now);
      break;
    case KEY_EVENT_SIZE:
      handle_key_event(loop, data[0], from);
      break;
    case JOIN_REQUEST_SIZE:
      sweep = handle_join(loop, data, from, now, false);
      break;
    case COMPACT_JOIN_SIZE:
      if (is_compact_join(data, length)) sweep = handle_join(loop, data, from, now, true);
      break;
    case COMPACT_ACK_SIZE:
      handle_ack(loop.run, data, length, from, now);
      break;
    default:
      break;
  }
  if (sweep) sweep_silent_clients(loop.run, now);
}

namespace {

void ServerReceiveLoop(ReceiveLoop& loop) {
  loop.joinReply = join_reply_template();
  std::uint8_t buffer[RECEIVE_BUFFER_SIZE];
  heartbeat_tick(loop, steady_millis(), true);  // the masters hear of us at once
  while (!loop.run.stop.load()) {
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(loop.socket, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_length);
    bool game = true;
    if (got > 0 && from_length >= sizeof from && from.sin_family == AF_INET) {
      game = !is_out_of_band(buffer, static_cast<std::size_t>(got));
      handle_datagram(loop, buffer, static_cast<std::size_t>(got), from);
    } else if (!loop.run.stop.load()) {
      // Nothing arrived: clients that fell silent still have to go.
      std::lock_guard<std::mutex> lock(world_lock());
      sweep_silent_clients(loop.run, now_time());
    }
    heartbeat_tick(loop, steady_millis(), game);
    reap_broadcasts(loop, false);
  }
}

// Lets the receive loop wait until the simulation has set up its game.
struct StartSignal {
  std::mutex mutex;
  std::condition_variable cv;
  bool started = false;
};

void signal_started(void* context) {
  auto* signal = static_cast<StartSignal*>(context);
  {
    std::lock_guard<std::mutex> lock(signal->mutex);
    signal->started = true;
  }
  signal->cv.notify_all();
}

}  // namespace

void ServerThread(int keep_settings, ServerControl& control, ListeningHook listening) {
  {
    std::lock_guard<std::mutex> lock(world_lock());
    g_world.humanCount = 0;
  }
  if (keep_settings == 0) load_server_settings(g_paths.singleSettings.c_str());

  ServerRun run(control.stop);
  ReceiveLoop loop(run);
  loop.socket = socket(AF_INET, SOCK_DGRAM, 0);
  if (loop.socket < 0) {
    say("socket error");
    fatal_exit(3);
  }
  timeval timeout{RECEIVE_TIMEOUT_SECONDS, 0};
  if (g_server_settings.VERIFY_NEW_CLIENTS != 0) timeout = {0, VERIFY_RECEIVE_TIMEOUT_MICROS};
  setsockopt(loop.socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(static_cast<std::uint16_t>(g_server_settings.GAME_PORT & 0xFFFF));
  install_collision_responses();
  if (bind(loop.socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    say("bind error");
    fatal_exit(4);
  }

  StartSignal signal;
  std::thread simulation;
  try {
    simulation = std::thread([&signal, &run] {
      simulation_thread(run.stop, signal_started, &signal);
      signal_started(&signal);  // never leave the receive loop waiting
    });
  } catch (const std::system_error& e) {
    thread_error(e.code().value(), 6);
  }
  {
    std::unique_lock<std::mutex> lock(signal.mutex);
    signal.cv.wait(lock, [&signal] { return signal.started; });
  }
  if (listening != nullptr) listening(g_server_settings.GAME_PORT & 0xFFFF);
  loop.masters = resolve_masters(g_server_settings.MASTER_SERVERS);

  ServerReceiveLoop(loop);

  // Every thread of this server ends before the socket closes and before its
  // starter can start the next one.
  run.stop.store(1);
  simulation.join();
  reap_broadcasts(loop, true);
  close(loop.socket);
  control.running.store(0);
}

}  // namespace zbx
