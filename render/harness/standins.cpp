// Weak fallbacks for start-up and client symbols, so the harness and the
// render tests link on branches where those libraries have no code yet. A
// real (strong) definition always wins over these.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "client/mirror.h"
#include "startup/settings.h"

namespace zbx {

[[gnu::weak]] ClientSettings g_client_settings;
[[gnu::weak]] WorldMirror g_mirror;

[[gnu::weak]] const char* data_prefix() {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  return prefix != nullptr ? prefix : "/usr/local/share";
}

[[gnu::weak]] void fatal_exit(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}

[[gnu::weak]] std::mutex& mirror_mutex() {
  static std::mutex mutex;
  return mutex;
}

[[gnu::weak]] MirrorPlayer* own_player() {
  const int slot = g_mirror.join.slot;
  if (slot < 0 || slot >= MAX_PLAYERS) return nullptr;
  return g_mirror.players[slot].get();
}

[[gnu::weak]] void clear_mirror() {
  for (auto& object : g_mirror.objects) object.reset();
  for (auto& player : g_mirror.players) player.reset();
  g_mirror.matchRunning = 0;
}

}  // namespace zbx
