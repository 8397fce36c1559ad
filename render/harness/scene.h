// Scripted worlds for the render harness and the render benchmarks: fills
// the client mirror as a running game would and draws frames from it.
#pragma once

#include <string>

#include "protocol/zbx_types.h"

namespace zbx::harness {

// Start-up as the client does it after the window exists: starfield, the
// seven models, the 512 asteroid meshes, the palette.
void load_assets();

// The own ship in slot 0 at the origin, looking along -z, world width 10,
// game type 1, full HUD values; every other slot empty.
void reset_world();

// Named scenes (see the harness usage text); false for an unknown name.
bool build_scene(const std::string& name);

// count asteroids spread over the view in front of the own ship.
void build_asteroid_field(int count);

// One game frame as the frame loop draws it, without the swap.
void draw_game_frame();
// The asteroid triangles of the mirror and nothing else, without the swap.
void draw_asteroids_only();

// Writes the back buffer as a binary PPM (rows from the top); false on error.
bool save_ppm(const char* path);

}  // namespace zbx::harness
