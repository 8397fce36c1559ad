// The pure arithmetic behind the drawing: folding offsets in the wrapping
// world, camera coordinates and the reverse view, the far-to-near list of
// translucent things, halo, explosion and crosshair geometry, the radar blips,
// the gauges, pixel coordinates and circles. No GL, no state of its own: the
// GL side calls these and sends the results to the graphics library.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/torus.h"
#include "protocol/zbx_types.h"

namespace zbx {

// --- World and camera ---------------------------------------------------------

// wrapped_offset and to_camera (protocol/torus.h) give camera coordinates;
// no reverse-view sign change there.
// A camera z as the reverse view sees it.
inline float view_z(float cz, bool reverse) { return reverse ? -cz : cz; }
// An entity is drawn unless its centre's (view) z is greater than 0.
inline bool centre_in_view(float viewZ) { return !(viewZ > 0.0f); }
// d + size × (r0·v, r1·v, r2·v): where model vertex v of an entity lies.
Vector3f model_offset(Vector3f d, float size, const Matrix3f& orientation, Vector3f v);

// --- Translucent list -----------------------------------------------------------

inline constexpr int TRANSLUCENT_SLOTS = MAX_OBJECTS + MAX_PLAYERS;  // 544
inline constexpr int TRANSLUCENT_EXPLOSION = 1;                      // textured square
inline constexpr int TRANSLUCENT_SHIELD = 2;                         // other player's shield halo
inline constexpr int TRANSLUCENT_POWERUP = 3;                        // powerup halo
inline constexpr int TRANSLUCENT_NUKE_EXPLOSION = 4;                 // blast sphere halo

struct TranslucentEntry {
  std::int32_t slot = -1;  // -1: free
  float depth = 0;         // view z of the centre, always negative
  std::int32_t kind = 0;
};

// Used entries form one run from the start, ascending depth (farthest first).
struct TranslucentList {
  std::array<TranslucentEntry, TRANSLUCENT_SLOTS> entries;
  int used = 0;
};

void clear_translucent(TranslucentList& list);
// Enters (slot, depth, kind) after every entry of smaller or equal depth.
// Ignored (false) when depth is not below 0 or the list is full and depth is
// the greatest; a full list otherwise loses its last entry.
bool add_translucent(TranslucentList& list, float depth, int slot, int kind);

// --- Halos, explosions, crosshair ----------------------------------------------

struct HaloStyle {
  Colour3f colour;
  int segments = 0;
  float centreAlpha = 0;
  float rimAlpha = 0;
};
// The style of translucent kinds 2, 3 and 4 (zeros for any other kind).
HaloStyle halo_style(int translucentKind);
// Centre of the halo disc from the entity's camera point c (before the reverse
// view): z flipped in reverse view, then pulled towards the camera by r when
// the camera is outside the sphere of radius r.
Vector3f halo_centre(Vector3f c, float r, bool reverse);
// Rim point i of n around the disc centre, at angle i × (2π / n).
Vector3f halo_rim_point(Vector3f centre, float r, int i, int n);

// Half the side of an explosion square of this object kind and age.
float explosion_half_size(int kind, float age);
struct TexturedCorner {
  float s = 0, t = 0;  // texture coordinates
  Vector3f position;
};
// The four corners, in drawing order, of the square of half-size h about c.
std::array<TexturedCorner, 4> explosion_quad(Vector3f c, float h);

// The crosshair: four triangles (tip first) at camera z = CROSSHAIR_Z.
inline constexpr float CROSSHAIR_Z = -0.1f;
inline constexpr Colour3f CROSSHAIR_COLOUR = {0.0f, 0.0f, 0.55f};
inline constexpr float CROSSHAIR_ALPHA = 0.5f;
inline constexpr std::array<std::array<std::array<float, 2>, 3>, 4> CROSSHAIR_TRIANGLES = {{
    {{{0.0f, 0.005f}, {0.002f, 0.01f}, {-0.002f, 0.01f}}},
    {{{0.0f, -0.005f}, {0.002f, -0.01f}, {-0.002f, -0.01f}}},
    {{{0.005f, 0.0f}, {0.01f, 0.002f}, {0.01f, -0.002f}}},
    {{{-0.005f, 0.0f}, {-0.01f, 0.002f}, {-0.01f, -0.002f}}},
}};

// --- 2-D: pixels, circles, radar, gauges ----------------------------------------

// Pixel coordinate p of a window side of size pixels -> -1..1 (-1 for a
// size of 0 or less).
float pixel_to_ndc(int p, int size);

struct Point2f {
  float x = 0, y = 0;
};
// 2π / n in single precision (0 for n <= 0).
float circle_step(int n);
// The point at angle k × step on the circle of radius r about (cx, cy).
Point2f circle_point(float cx, float cy, float r, int k, int n);
// First angle index of every dash of a dashed circle: start, start+8, ... < n.
// Each dash runs from index k to k + 2. Returns the count written to out.
int circle_dashes(int n, int start, int* out, int capacity);

inline constexpr float RADAR_ASTEROID_RANGE = 6.0f;
inline constexpr float RADAR_SHIP_RANGE = 10.0f;

// A blip on the radar: position in pixels, colour choice and block size.
struct Blip {
  bool visible = false;
  bool ahead = false;  // camera z below 0: the brighter colour
  int px = 0, py = 0;
  int block = 0;  // 1 point, 2 (2×2) or 3 (3×3)
};
// The blip of an entity at camera point v (no reverse view) with this size, on
// a window of wd × ht pixels.
Blip radar_blip(Vector3f v, float size, bool isAsteroid, int wd, int ht);
// The pixels of a blip, in drawing order; returns their count (0, 1, 4 or
// 10: the 3 × 3 block draws its centre twice).
int blip_pixels(const Blip& b, std::array<std::array<int, 2>, 10>& out);

inline constexpr int GAUGE_FULL = 38;
// Filled pixels of a gauge: value × 38 / maximum, 0 for a maximum of 0 or
// less and for a value of 0 or less, at most 38.
int gauge_length(int value, int maximum);

}  // namespace zbx
