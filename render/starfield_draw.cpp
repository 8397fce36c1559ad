// Drawing the 500 background stars in camera coordinates: they turn with
// the view, never come nearer, and jitter sideways while the ship is hit.
#include <GL/gl.h>

#include <cmath>

#include "client/mirror.h"
#include "client/smoothing.h"
#include "render/core/starfield.h"
#include "render/render.h"

namespace zbx {

namespace {

// Emits one star inside an open GL_POINTS block, or nothing when it is
// behind the camera or over the radar panel.
void emit_star(const Star& star, float shift, const Matrix3f& f, bool reverse) {
  Vector3f c;
  if (!star_camera_point(star, f, shift, reverse, c)) return;
  if (!is_finite(c)) return;
  glColor3f(star.colour.r, star.colour.g, star.colour.b);
  glVertex3f(c.x, c.y, c.z);
}

}  // namespace

void draw_star(const Star& star, float shift) {
  const MirrorPlayer* own = drawn_own_player();
  if (own == nullptr) return;
  glBegin(GL_POINTS);
  emit_star(star, shift, own->flightOrientation, reverse_view_held());
  glEnd();
}

void draw_starfield() {
  twinkle_starfield(g_starfield);
  const MirrorPlayer* own = drawn_own_player();
  const float shift = shake_starfield(g_starfield, own != nullptr ? own->hitFlash : 0);
  if (own == nullptr) return;
  const bool reverse = reverse_view_held();
  // One block for all stars: the same points as one block per star.
  glBegin(GL_POINTS);
  for (const Star& star : g_starfield.stars)
    emit_star(star, shift, own->flightOrientation, reverse);
  glEnd();
}

}  // namespace zbx
