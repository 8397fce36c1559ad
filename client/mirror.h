// The client's mirror of the world, filled by the receiver thread from the
// server's snapshots and read by the frame loop, the drawing, the radar and
// the HUD. Guarded by mirror_mutex().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/zbx_types.h"

namespace zbx {

struct Model;  // render/core/model.h

struct MirrorObject {
  int kind = 0;
  float size = 0;
  float age = 0;  // client-side animation clock, 0 at creation
  Vector3f position;
  Matrix3f orientation{};
  Matrix3f flightOrientation{};  // own MirrorPlayer only
  const Model* model = nullptr;  // nullptr: nothing to draw
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
  char name[25] = {};
};

struct JoinInfo {
  int slot = 0;
  int gameType = 0;
  float worldWidth = 10.0f;
  int maxShield = 0;
  int maxArmor = 0;
};

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

}  // namespace zbx
