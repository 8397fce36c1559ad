// Smooth motion in the client: the world the world pass and the starfield
// draw. With SMOOTH_MOTION off that is g_mirror itself, so every pixel is as
// it always was; on, it is a copy refreshed at every frame by the smoother
// (smooth/smooth.h) from the snapshots the receiver recorded: other objects
// and ships a little behind the newest snapshot, the own ship predicted from
// the held keys. The HUD, the scoreboard, the radar and the sounds keep
// reading g_mirror. Everything here is guarded by the mirror mutex.
#pragma once

#include "client/mirror.h"
#include "smooth/smooth.h"

namespace zbx {

// Starts a game's smoothing (window thread, holding the mirror mutex): on
// when SMOOTH_MOTION is set; a replay draws its own ship like the others,
// since its keys are not known.
void begin_smoothing(bool replay);
// Receiver: the snapshot just completed in g_mirror arrived at `arrival`
// (seconds on the game clock).
void record_snapshot(double arrival);
// KeyState has changed at `time`.
void note_held_keys(double time);
// At every frame before drawing: the drawn world for `now`.
void refresh_drawn_world(double now);
// Explosion ages of the drawn world, stepped like those of g_mirror.
void advance_drawn_explosions(float increment);

// What the world pass and the starfield read, and its own ship (or nullptr).
const WorldMirror& drawn_mirror();
const MirrorPlayer* drawn_own_player();

// The steady clock in seconds: snapshots and frames of a live game.
double steady_seconds();
// A mirror's drawn contents as one smoother frame (time left alone).
void smooth_frame_from_mirror(const WorldMirror& mirror, SmoothFrame& frame);
// The server's rules as the prediction wants them.
SmoothRates smooth_rates(const ServerTraits& traits, bool replay);

}  // namespace zbx
