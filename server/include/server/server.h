// The game server: start-up, client table, receive loop, broadcast threads
// and the simulation thread. ServerThread runs on the calling thread until the
// server stops, then returns once every thread it started has ended and its
// socket is closed, so the next server can bind the port and clear the flags.
//
// Threads: the caller (receive loop), the simulation thread and one broadcast
// thread per admitted client. The world lock guards the world and the run's
// client table.
#pragma once

#include <atomic>

#include "protocol/zbx_types.h"

namespace zbx {

// Told once, on the server's thread, when the socket is bound to port and the
// world runs.
using ListeningHook = void (*)(int port);

// What the starter of a server holds: the flag that stops it and whether it
// still runs.
struct ServerControl {
  std::atomic<int> stop{0};     // set to 1 to stop the server
  std::atomic<int> running{0};  // set by the starter; cleared as ServerThread ends
};

// keep_settings 0: load the single-player settings file first. The server
// itself sets control.stop when the player of a one-player server leaves.
void ServerThread(int keep_settings, ServerControl& control, ListeningHook listening = nullptr);

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

}  // namespace zbx
