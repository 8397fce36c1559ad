// The game server: start-up, client table, receive loop, broadcast threads
// and the simulation thread. ServerThread runs on the calling thread until the
// server stops, then returns once every thread it started has ended and its
// socket is closed, so the next server can bind the port and clear the flags.
//
// Threads: the caller (receive loop), the simulation thread and one broadcast
// thread per admitted client. The world lock (server/world.h) guards the
// world, the client table and ServerState.
#pragma once

#include <array>
#include <atomic>

#include "protocol/zbx_types.h"

namespace zbx {

// Told once, on the server's thread, when the socket is bound to port and the
// world runs.
using ListeningHook = void (*)(int port);

// keep_settings 0: load the single-player settings file first.
void ServerThread(int keep_settings, ListeningHook listening = nullptr);

// Set to 1 to stop the running server.
extern std::atomic<int> g_server_stop;
// 1 while a menu-started server thread exists; cleared by the server as it ends.
extern std::atomic<int> g_server_running;

// Seconds of silence (no join, no key-state update) after which a client is
// dropped; checked after every datagram and every receive time-out.
inline constexpr long CLIENT_TIMEOUT_MICROS = 10'000'000;
// Receive time-out of the server socket, so the stop flag and silent clients
// are seen while nothing arrives.
inline constexpr int RECEIVE_TIMEOUT_SECONDS = 5;
// With VERIFY_NEW_CLIENTS: a client not heard from since its join is dropped
// after this long, and the socket wakes often enough to notice it in time.
inline constexpr long UNVERIFIED_TIMEOUT_MICROS = 2'000'000;
inline constexpr long VERIFY_RECEIVE_TIMEOUT_MICROS = 250'000;

// Per server run; guarded by the world lock.
struct ServerState {
  // Admissions per player slot: each join into a slot counts one up, so the
  // broadcast thread of an earlier admission (a rejoin from the same address
  // into the same slot) ends at its next cycle instead of serving beside the
  // new one.
  std::array<unsigned, MAX_PLAYERS> generation{};
  // 1 once the client in a slot has sent a datagram after its join.
  std::array<std::uint8_t, MAX_PLAYERS> heardAgain{};
};
extern ServerState g_server;

}  // namespace zbx
