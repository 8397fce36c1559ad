// The game server: start-up, client table, receive loop, broadcast threads
// and the simulation thread. ServerThread runs on the calling thread until the
// server stops, then returns once every thread it started has ended.
#pragma once

#include <atomic>

namespace zbx {

// keep_settings 0: load the single-player settings file first.
void ServerThread(int keep_settings);

// Set to 1 to stop the running server.
extern std::atomic<int> g_server_stop;
// 1 while a menu-started server thread exists; cleared by the server as it ends.
extern std::atomic<int> g_server_running;

}  // namespace zbx
