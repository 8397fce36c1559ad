// Drawing the 500 background stars in camera coordinates: they turn with
// the view, never come nearer, and jitter sideways while the ship is hit.
#include <GL/gl.h>

#include "client/mirror.h"
#include "render/pending_core.h"
#include "render/render.h"

namespace zbx {

namespace {

// Emits one star inside an open GL_POINTS block, or nothing when it is
// behind the camera or over the radar panel.
void emit_star(const Star& star, float shift, const Matrix3f& f, bool reverse) {
  const Vector3f& s = star.direction;
  float cz = f[6] * s.x + f[7] * s.y + f[8] * s.z;
  if (reverse) cz = -cz;
  if (cz > 0) return;
  const float cx = f[0] * s.x + f[1] * s.y + f[2] * s.z + shift;
  const float cy = f[3] * s.x + f[4] * s.y + f[5] * s.z;
  if (star_in_radar_box(cx, cy)) return;
  glColor3f(star.colour.r, star.colour.g, star.colour.b);
  glVertex3f(cx, cy, cz);
}

}  // namespace

void draw_star(const Star& star, float shift) {
  const MirrorPlayer* own = own_player();
  if (own == nullptr) return;
  glBegin(GL_POINTS);
  emit_star(star, shift, own->flightOrientation, reverse_view_held());
  glEnd();
}

void draw_starfield() {
  twinkle_stars(g_starfield);
  const MirrorPlayer* own = own_player();
  const int hit_flash = own != nullptr ? own->hitFlash : 0;
  const float shift = star_shift(g_starfield, hit_flash);
  if (own == nullptr) return;
  const bool reverse = reverse_view_held();
  // One block for all stars: the same points as one block per star.
  glBegin(GL_POINTS);
  for (const Star& star : g_starfield.stars) emit_star(star, shift, own->flightOrientation, reverse);
  glEnd();
}

}  // namespace zbx
