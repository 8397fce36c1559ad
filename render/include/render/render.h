// Drawing with OpenGL 1.x and GLUT: the game window and the graphics state
// every screen relies on, the explosion texture, the first-person world pass,
// the HUD with its scoreboard, and the starfield. The 2-D primitives and the
// palette are in render/draw2d.h.
//
// Everything here runs on the window-system thread. The world, HUD, radar and
// starfield read the client's mirror and must be called with the mirror mutex
// held (the frame loop holds it for the whole frame).
#pragma once

#include <cstdint>

#include "protocol/zbx_types.h"
#include "render/draw2d.h"

namespace zbx {

struct Model;  // render/core/model.h

struct ClientHooks;
struct MirrorObject;
struct Star;

// The five window-system callbacks that make one screen; nullptr = none.
struct ScreenCallbacks {
  void (*keyboard)(unsigned char key, int x, int y) = nullptr;
  void (*keyboard_up)(unsigned char key, int x, int y) = nullptr;
  void (*special)(int key, int x, int y) = nullptr;
  void (*idle)() = nullptr;
  void (*display)() = nullptr;
};

// Installs all five callbacks of a screen (absent ones are removed).
void install_screen(const ScreenCallbacks& screen);

// Opens the "Zorbix" window of SCREEN_WIDTH x SCREEN_HEIGHT, installs the
// first screen's callbacks, sets the initial GL state and loads the explosion
// texture from the data prefix. glutInit must have run. The caller sets the
// configuration editor's pending size beforehand.
void open_window(const ScreenCallbacks& first_screen);
// Reads the SGI explosion image at path into the explosion texture. Ends the
// process: "Error opening %s\n" status 1 (cannot open), "Sorry, can't read
// texture file..." status 0 (cannot decode).
void load_explosion_texture(const char* path);

// Asks for a window of that size and lays out for it at once (the
// configuration editor and F11 back from full screen).
void resize_window(int width, int height);
// F11: full screen at the display's size, or back to the configured size.
void toggle_full_screen();

void begin_frame();             // clears colour and depth
void reset_view();              // clear colour, shading, fill, identity
void set_overlay_projection();  // identity projection, left selected
void set_perspective();         // 60 degree perspective, model-view selected
void enable_blending();         // source alpha, destination alpha
void disable_blending();
void swap_frame();
[[noreturn]] void enter_main_loop();

// The world pass from the own ship's cockpit: other ships, objects, the
// translucent items far to near, and the crosshair.
void draw_world();
// A triangle given in camera coordinates with one colour per corner (z
// changes sign in the reverse view).
void draw_triangle(const Vector3f (&points)[3], const Colour3f (&colours)[3]);
// Draws model (nothing when null) at an entity, turned by the entity's
// orientation and scaled by its size.
void draw_oriented_model(const MirrorObject& entity, const Model* model);
// Draws model at an object unrotated, along the camera axes (powerup letters).
void draw_facing_model(const MirrorObject& object, const Model* model);
// A disc of n segments facing the viewer about the entity, pulled towards
// the camera by the radius when the camera is outside it.
void draw_halo(const MirrorObject& entity, Colour3f colour, int segments, float centre_alpha,
               float rim_alpha, float radius);
// The textured explosion square of an object of kind 4 or 5.
void draw_explosion(Vector3f position, int kind, float age);
// The four small triangles pointing at the centre of the view.
void draw_crosshair();

// The HUD: texts, gauges, scoreboard and radar; leaves the perspective set.
void draw_overlay();
// The centred line of a silent server: its seconds and the key that leaves.
void draw_silence(int seconds);
// "Replay", "Replay 2x" ... or "Replay paused" at the top centre of a replay.
void draw_replay_state(int speed, bool paused);
// The gauge frame right of a label ending at x, filled by value / maximum.
void draw_gauge(int x, int value, int maximum);

// The 500 stars: twinkle, shake while hit, draw.
void draw_starfield();
// One star, moved by shift along the camera's x axis.
void draw_star(const Star& star, float shift);

// Reverse-view and score-table flags of the client's play state.
bool reverse_view_held();
bool score_table_held();

// Points the drawing entries of the client's hook table at this library.
void fill_render_hooks(ClientHooks& hooks);

// Drawing state that lives as long as the window.
struct RenderState {
  std::uint32_t explosionTexture = 0;  // GL texture name
  // Send every vertex on its own instead of gathering the frame's opaque
  // models into one vertex array (same picture; tests compare the two).
  bool cpuTransform = false;
  // The window's size in pixels as last reported or asked for; 0: none yet.
  int windowWidth = 0;
  int windowHeight = 0;
  // Lays the screen on show out again after the window size changed.
  void (*relayout)() = nullptr;
  // The callbacks install_screen installed last (other input sources feed
  // the screen on show through them).
  ScreenCallbacks screen;
};
extern RenderState g_render;

// Frees the vertex arrays the world pass keeps from frame to frame.
void clear_mesh_cache();

}  // namespace zbx
