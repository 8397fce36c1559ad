// Triangle models with per-vertex colours: the .spec file reader, the model
// table filled from the seven model files, and the procedural asteroid meshes.
// Pure data and geometry; no GL. Built once at start-up, read-only afterwards.
#pragma once

#include <array>
#include <memory>

#include "protocol/zbx_types.h"

namespace zbx {

struct Model;  // defined by the model reader

inline constexpr int MODEL_SLOTS = 255;
using ModelTable = std::array<std::unique_ptr<Model>, MODEL_SLOTS>;

extern ModelTable g_models;  // slot = object kind; 0 = ship
extern std::array<std::unique_ptr<Model>, MAX_OBJECTS> g_asteroid_meshes;

}  // namespace zbx
