// The starfield behind the game view: 500 coloured stars on a sphere of
// radius 15 about the camera, three of which change colour every frame, and
// the sideways shake while the own ship shows a hit. Pure state and
// arithmetic; the GL side draws the points. Lives for the process; touched
// only on the window-system thread.
#pragma once

#include <array>

#include "protocol/zbx_types.h"
#include "render/core/model.h"

namespace zbx {

inline constexpr int STAR_COUNT = 500;
inline constexpr float STAR_DISTANCE = 15.0f;
inline constexpr float STAR_SHAKE = 0.15f;

struct Star {
  Vector3f direction;  // length STAR_DISTANCE
  Colour3f colour;
};

struct Starfield {
  std::array<Star, STAR_COUNT> stars{};
  float amplitude = STAR_SHAKE;  // only its sign changes
  int counter = 0;
};

extern Starfield g_starfield;

// Fills the field: 6 draws per star (colour, then direction).
void make_starfield(Starfield& field, RandomSource random = system_random);
// Three random stars get new colours: exactly 15 draws.
void twinkle_starfield(Starfield& field, RandomSource random = system_random);
// The frame's sideways shift: 0 without a hit flash, else ±amplitude, the sign
// turning every second frame.
float shake_starfield(Starfield& field, int hitFlash);
// True inside the box of camera coordinates kept free for the radar panel.
bool in_radar_box(float cx, float cy);
// Camera point of a star moved by shift along the camera x axis; false when
// it is behind the camera or over the radar.
bool star_camera_point(const Star& star, const Matrix3f& flightOrientation, float shift,
                       bool reverse, Vector3f& out);

}  // namespace zbx
