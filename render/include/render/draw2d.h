// Flat drawing in window pixels for the menus, the HUD and the radar: the
// nine-colour palette, text in the two bitmap fonts, lines, points, filled
// quadrilaterals and circles. Pixel x counts from the left edge, y from the
// bottom edge of the window (window_width() x window_height()). Every call expects
// set_overlay_projection() (render/render.h) and an identity model-view.
// Window-system thread only; no lock.
#pragma once

#include <array>

#include "protocol/zbx_types.h"

namespace zbx {

// The palette, filled by init_palette() and constant afterwards.
extern Colour3f palette_white;
extern Colour3f palette_black;
extern Colour3f palette_dark_red;
extern Colour3f palette_red;
extern Colour3f palette_green;
extern Colour3f palette_blue;
extern Colour3f palette_light_grey;
extern Colour3f palette_grey;
extern Colour3f palette_dark_grey;

// The window's real size: what the window system last reported or what the
// game last asked for; the configured size until the window has one.
int window_width();
int window_height();
// Width in pixels of s in the font draw_text would use.
int text_width(const char* s, int big);
// A key binding as a player reads it: "q", "Space", "Escape", "key 127".
std::array<char, 12> key_name(char key);

// Fills the nine palette colours.
void init_palette();

// Draws s from the baseline pixel (x, y), Helvetica 18 when big is non-zero,
// else Helvetica 10; returns the pixel x just after the last character.
int draw_text(int x, int y, const char* s, Colour3f colour, int big);
// One line segment between two pixels.
void draw_line(int x1, int y1, int x2, int y2, Colour3f colour);
// One pixel-sized point.
void draw_point(int x, int y, Colour3f colour);
// One filled quadrilateral with its corners in the given order.
void draw_quad(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, Colour3f colour);
// A circle of n segments about a pixel centre, radius in normalised device
// units; start 0 draws it whole, any other start draws 2-step dashes every 8
// steps from segment start on.
void draw_circle(int cx, int cy, Colour3f colour, int n, int start, float radius);

// The radar panel at the bottom centre of the game view (reads the mirror:
// call with the mirror mutex held).
void draw_radar();
// One radar blip for an entity at a world position.
void draw_blip(Vector3f position, Colour3f behind, Colour3f ahead, bool is_asteroid, float size);

}  // namespace zbx
