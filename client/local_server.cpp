// Server threads started from the menu, and the starts of both kinds of game.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <system_error>

#include "client/client.h"
#include "protocol/protocol.h"
#include "server/server.h"
#include "startup/settings.h"

namespace zbx {

LocalServer g_local_server;

namespace {

// A server checks its stop flag between receives: one datagram on loopback
// ends its wait now instead of at its time-out. The server ignores it.
void wake_server(int port) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t probe = PROBE_BYTE;
  sendto(s, &probe, PROBE_SIZE, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  close(s);
}

}  // namespace

bool local_server_running() { return g_local_server.control.running.load() != 0; }

bool start_server_thread(int keep_settings) {
  ServerControl& control = g_local_server.control;
  if (control.running.load() != 0) return false;
  // One that ended by itself is only waiting to be joined.
  if (g_local_server.thread.joinable()) g_local_server.thread.join();
  control.stop.store(0);
  g_local_server.port =
      keep_settings ? g_server_settings.GAME_PORT : g_local_server.singlePlayerPort;
  control.running.store(1);
  try {
    g_local_server.thread =
        std::thread([keep_settings] { ServerThread(keep_settings, g_local_server.control); });
  } catch (const std::system_error&) {
    std::puts("Pthread error");
    fatal_exit(1);
  }
  return true;
}

bool stop_server_thread() {
  if (!g_local_server.thread.joinable()) {
    return false;
  }
  // A server that is still starting has no socket to wake yet: keep waking
  // it until it has gone, then collect the thread.
  ServerControl& control = g_local_server.control;
  control.stop.store(1);
  while (control.running.load() != 0) {
    wake_server(g_local_server.port);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  g_local_server.thread.join();
  control.stop.store(0);
  g_local_server.privateGame = false;
  return true;
}

int start_single_player_game() {
  if (!start_private_server()) return -1;
  std::this_thread::sleep_for(g_local_server.startWait);
  return StartGame();
}

bool start_private_server() {
  if (local_server_running()) return false;
  std::snprintf(g_client_settings.SERVER_IP, sizeof g_client_settings.SERVER_IP, "%s", "127.0.0.1");
  g_client_settings.SERVER_PORT = g_local_server.singlePlayerPort;
  start_server_thread(0);
  g_local_server.privateGame = true;
  g_connection.receiverStop.store(0);
  return true;
}

int start_multi_player_game() {
  g_connection.receiverStop.store(0);
  return StartGame();
}

void reset_client_state() {
  stop_receiver();
  stop_server_thread();
  g_connection.KeyState.fill(0);
  g_connection.receiveTimeout = std::chrono::milliseconds(5000);
  g_connection.join = JoinProgress{};
  g_connection.receiverStop.store(0);
  g_connection.warpLoop = -1;
  g_connection.receiverActive.store(0);
  g_connection.receiversStarted.store(0);
  g_connection.receiversRunning.store(0);
  g_play = PlayState{};
  g_local_server.privateGame = false;
  g_local_server.port = 0;
  g_local_server.startWait = std::chrono::milliseconds(1000);
  g_local_server.singlePlayerPort = SINGLE_PLAYER_PORT;
}

}  // namespace zbx
