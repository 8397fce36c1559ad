// Weak stand-ins for the settings and server entry points while their own
// libraries are still being written; the real definitions win when present.
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "server/server.h"
#include "startup/settings.h"

namespace zbx {
__attribute__((weak)) ClientSettings g_client_settings;
__attribute__((weak)) ServerSettings g_server_settings;
__attribute__((weak)) UserPaths g_paths;
__attribute__((weak)) std::atomic<int> g_server_stop{0};
__attribute__((weak)) std::atomic<int> g_server_running{0};
__attribute__((weak)) void load_client_settings() {
  g_client_settings.SCREEN_WIDTH = 640;
  g_client_settings.SCREEN_HEIGHT = 480;
  std::snprintf(g_client_settings.SERVER_IP, sizeof g_client_settings.SERVER_IP, "127.0.0.1");
  g_client_settings.SERVER_PORT = 12345;
  std::snprintf(g_client_settings.PLAYER_NAME, sizeof g_client_settings.PLAYER_NAME,
                "UnNamedPlayer");
  g_client_settings.VOLUME = 9;
}
__attribute__((weak)) void load_server_settings(const char*) {}
__attribute__((weak)) void fatal_exit(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}
__attribute__((weak)) void ServerThread(int) {
  while (g_server_stop.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  g_server_running.store(0);
}
}  // namespace zbx
