// The game window, the GL state switches every screen uses, and the
// explosion texture.
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>
#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/core/sgi_image.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

RenderState g_render;

namespace {

void (*g_screen_special)(int, int, int) = nullptr;

// F11 belongs to every screen, before the screen's own special keys.
void special_key(int key, int x, int y) {
  if (key == GLUT_KEY_F11) {
    toggle_full_screen();
  } else if (g_screen_special) {
    g_screen_special(key, x, y);
  }
}

void reshape(int width, int height) {
  glViewport(0, 0, width, height);
  g_render.windowWidth = width;
  g_render.windowHeight = height;
  if (g_render.relayout) g_render.relayout();
  glutPostRedisplay();
}

}  // namespace

void resize_window(int width, int height) {
  g_render.windowWidth = width;
  g_render.windowHeight = height;
  glutReshapeWindow(width, height);  // also ends full screen
}

void toggle_full_screen() {
  if (glutGet(GLUT_FULL_SCREEN)) {
    resize_window(g_client_settings.SCREEN_WIDTH, g_client_settings.SCREEN_HEIGHT);
  } else {
    glutFullScreen();
  }
}

void install_screen(const ScreenCallbacks& screen) {
  g_render.screen = screen;
  glutKeyboardFunc(screen.keyboard);
  glutKeyboardUpFunc(screen.keyboard_up);
  g_screen_special = screen.special;
  glutSpecialFunc(special_key);
  glutIdleFunc(screen.idle);
  glutDisplayFunc(screen.display);
}

void load_explosion_texture(const char* path) {
  // Ends the process with the texture messages when the file will not do.
  const SgiImage image = load_explosion_image(path);
  glBindTexture(GL_TEXTURE_2D, g_render.explosionTexture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Three components: the picture's own alpha is dropped, every texel is opaque.
  glTexImage2D(GL_TEXTURE_2D, 0, 3, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               image.rgba.data());
  gluBuild2DMipmaps(GL_TEXTURE_2D, 3, image.width, image.height, GL_RGBA, GL_UNSIGNED_BYTE,
                    image.rgba.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
}

void open_window(const ScreenCallbacks& first_screen) {
  // A software renderer allocates and frees vertex buffers of megabytes every
  // frame; by default the C library maps them fresh and hands them back each
  // time, and the page faults cost more than the drawing (a crowded frame
  // took four times as long). Keep such blocks in the heap for reuse.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA | GLUT_DEPTH);
  glutInitWindowSize(g_client_settings.SCREEN_WIDTH, g_client_settings.SCREEN_HEIGHT);
  // Without a window manager GLUT's "anywhere" puts the window at (-1, -1),
  // one pixel off the screen's corner; ask for the corner itself.
  glutInitWindowPosition(0, 0);
  glutCreateWindow("Zorbix");
  glutIgnoreKeyRepeat(1);
  install_screen(first_screen);
  glutReshapeFunc(reshape);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glColor3f(1.0f, 1.0f, 1.0f);
  GLuint name = 0;
  glGenTextures(1, &name);
  g_render.explosionTexture = name;
  const std::string path = std::string(data_prefix()) + "/zbx3d/textures/explosion.rgb";
  load_explosion_texture(path.c_str());
  glEnable(GL_DEPTH_TEST);
}

void begin_frame() { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); }

void reset_view() {
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glShadeModel(GL_SMOOTH);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glLoadIdentity();
}

void set_overlay_projection() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
}

void set_perspective() {
  const int height = window_height();
  // A zero height would hand an infinite aspect ratio to GL.
  const float aspect =
      static_cast<float>(window_width()) / static_cast<float>(height > 0 ? height : 1);
  gluPerspective(60.0, aspect, 0.1, 20.0);
  glMatrixMode(GL_MODELVIEW);
}

void enable_blending() {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_DST_ALPHA);
}

void disable_blending() { glDisable(GL_BLEND); }

void swap_frame() { glutSwapBuffers(); }

void enter_main_loop() {
  glutMainLoop();
  // freeglut returns only when told to leave the loop; the game never does.
  fatal_exit(0);
}

}  // namespace zbx
