// One snapshot datagram from anyone, parsed and applied to an empty mirror:
// only messages in range arrive, with finite numbers; the mirror keeps
// terminated names and drops what the presence bytes say is gone; the warp
// loop is started and stopped in pairs.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "client/hooks.h"
#include "client/mirror.h"
#include "protocol/protocol.h"
#include "testing/fuzz.h"

namespace {

using namespace zbx;

bool finite(const Vector3f& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
bool finite(const Matrix3f& m) {
  for (float f : m) {
    if (!std::isfinite(f)) return false;
  }
  return true;
}

struct Context {
  WorldMirror mirror;
  int warpLoop = -1;
};
int g_loops_playing = 0;

void on_presence(void* c, const PresenceMessage& m) {
  WorldMirror& mirror = static_cast<Context*>(c)->mirror;
  apply_presence(mirror, m);
  for (int i = 0; i < MAX_OBJECTS; ++i) ZBX_FUZZ_CHECK(m.objects[i] != 0 || !mirror.objects[i]);
  for (int i = 0; i < MAX_PLAYERS; ++i) {
    ZBX_FUZZ_CHECK(m.players[i] != 0 || i == mirror.join.slot || !mirror.players[i]);
  }
}

void on_player(void* c, const PlayerMessage& m) {
  auto* ctx = static_cast<Context*>(c);
  ZBX_FUZZ_CHECK(m.slot >= 0 && m.slot < MAX_PLAYERS);
  ZBX_FUZZ_CHECK(finite(m.position) && std::isfinite(m.size) && finite(m.orientation));
  apply_player_message(ctx->mirror, m, ctx->warpLoop);
  const MirrorPlayer& p = *ctx->mirror.players[m.slot];
  ZBX_FUZZ_CHECK(strnlen(p.name, sizeof p.name) < NAME_SIZE);
  ZBX_FUZZ_CHECK(std::strncmp(p.name, m.name, NAME_SIZE - 1) == 0);
  ZBX_FUZZ_CHECK((ctx->warpLoop != -1) == (g_loops_playing == 1));
}

void on_object(void* c, const ObjectMessage& m) {
  ZBX_FUZZ_CHECK(m.slot >= 0 && m.slot < MAX_OBJECTS);
  ZBX_FUZZ_CHECK(m.kind >= KIND_SHIP && m.kind <= KIND_NUKE_EXPLOSION);
  ZBX_FUZZ_CHECK(finite(m.position) && std::isfinite(m.size) && finite(m.orientation));
  apply_object_message(static_cast<Context*>(c)->mirror, m);
}

void on_sound(void* c, const SoundEventMessage& m) {
  ZBX_FUZZ_CHECK(m.sound >= 0 && m.sound < NUM_SOUNDS && finite(m.position));
  apply_sound_event(static_cast<Context*>(c)->mirror, m);
}

int play_loop(int number) {
  ZBX_FUZZ_CHECK(number == SOUND_WARP_LOOP && g_loops_playing == 0);
  ++g_loops_playing;
  return 7;
}
void stop_loop(int handle) {
  ZBX_FUZZ_CHECK(handle == 7 && g_loops_playing == 1);
  --g_loops_playing;
}
void play_sound_at(int number, Vector3f) { ZBX_FUZZ_CHECK(number >= 0 && number < NUM_SOUNDS); }

}  // namespace

// The first byte picks the own slot, the rest is the datagram.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > DATAGRAM_BUFFER_SIZE + 1) return 0;
  g_client_hooks.play_loop = play_loop;
  g_client_hooks.stop_loop = stop_loop;
  g_client_hooks.play_sound_at = play_sound_at;
  g_loops_playing = 0;
  Context context;
  context.mirror.join.slot = data[0] % MAX_PLAYERS;
  SnapshotHandler handler{&context, on_presence, on_player, on_object, on_sound};
  parse_snapshot(data + 1, size - 1, handler);
  return 0;
}
