// The client's mirror of the world, filled by the receiver thread from the
// server's snapshots and read by the frame loop, the drawing, the radar and
// the HUD. Guarded by mirror_mutex(): the receiver holds it for each datagram,
// the game's window thread for each frame except its pacing sleep.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/protocol.h"
#include "protocol/zbx_types.h"
#include "startup/settings.h"

namespace zbx {

struct MirrorObject {
  int kind = 0;
  float size = 0;
  float age = 0;  // client-side animation clock, 0 at creation
  Vector3f position;
  Matrix3f orientation{};
  Matrix3f flightOrientation{};  // own MirrorPlayer only
  virtual ~MirrorObject() = default;
};

struct MirrorPlayer : MirrorObject {
  int score = 0;
  int lives = 0;
  int shieldActive = 0;
  int shield = 0;
  int armor = 0;
  int hitFlash = 0;
  std::uint8_t alive = 0;
  std::uint8_t warps = 0;
  std::uint8_t nukes = 0;
  std::uint8_t warping = 0;  // the ship is in a hyper-warp (every player's)
  char name[25] = {};
};

// What the client knows of the server's rules beyond the JoinReply: from its
// status answer before the join when it gave one (known), else the values a
// server has without a settings file.
struct ServerTraits {
  bool known = false;
  float rotationSpeed = ServerSettings{}.ROTATION_SPEED;        // degrees per world step
  float acceleration = ServerSettings{}.ACCELERATION_CONSTANT;  // thrust scale
  float deceleration = ServerSettings{}.DECELERATION_CONSTANT;  // velocity factor per step
  int gameSleep = ServerSettings{}.GAME_SLEEP;                  // 10: 50 world steps a second
  int netSleep = ServerSettings{}.NET_SLEEP_TIME;               // ms between snapshots
  bool compact = false;  // offers the compact snapshot stream
};

// Filled from the JoinReply at each join.
struct JoinInfo {
  int slot = 0;
  int gameType = 0;
  float worldWidth = 10.0f;
  int maxShield = 0;
  int maxArmor = 0;
  ServerTraits traits;
};

// Lives for the whole process; the tables are not emptied between games.
struct WorldMirror {
  std::array<std::unique_ptr<MirrorObject>, MAX_OBJECTS> objects;
  std::array<std::unique_ptr<MirrorPlayer>, MAX_PLAYERS> players;
  int matchRunning = 0;
  JoinInfo join;
};

extern WorldMirror g_mirror;
std::mutex& mirror_mutex();

// The own MirrorPlayer, or nullptr.
MirrorPlayer* own_player();
// Empties both tables and clears matchRunning.
void clear_mirror();

// Applying one snapshot message to a mirror (caller holds the mirror mutex).
// Slots outside the tables are ignored. warpLoop is the receiver's hyper-warp
// loop handle (-1: not playing), started and stopped by the own player's
// warping byte.
void apply_presence(WorldMirror& mirror, const PresenceMessage& m);
void apply_player_message(WorldMirror& mirror, const PlayerMessage& m, int& warpLoop);
void apply_object_message(WorldMirror& mirror, const ObjectMessage& m);
// Plays the event relative to the own ship; numbers outside 0..21, or an
// event before the own record exists, are dropped.
void apply_sound_event(const WorldMirror& mirror, const SoundEventMessage& m);

// A world position as the own ship hears it: nearest wrapped image relative to
// own, in the camera axes of flightOrientation (reverse view ignored).
Vector3f sound_position(Vector3f p, Vector3f own, const Matrix3f& flightOrientation,
                        float worldWidth);

// Scoreboard order. Strict order for std::sort: higher score first, empty
// slots last, ties by ascending slot.
using PlayerSlots = std::array<std::unique_ptr<MirrorPlayer>, MAX_PLAYERS>;
bool compare_scores(const PlayerSlots& players, int a, int b);
// Slots 0..31 in scoreboard order.
std::array<int, MAX_PLAYERS> scoreboard_order(const PlayerSlots& players);

// Loop played while the own ship warps.
inline constexpr int SOUND_WARP_LOOP = 18;

}  // namespace zbx
