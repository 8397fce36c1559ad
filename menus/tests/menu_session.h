// A private Xvfb, the game window and the menus built as at start-up, for the
// menu tests; interface sounds are counted instead of played.
#pragma once

#include <GL/freeglut.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif
#include <filesystem>
#include <string>
#include <vector>

#include "client/client.h"
#include "client/hooks.h"
#include "menus/menus.h"
#include "render/render.h"
#include "sound/sound.h"
#include "startup/highscores.h"
#include "startup/settings.h"
#include "testing/files.h"
#include "testing/xvfb.h"

namespace zbx::menu_test {

using test::read_file;

inline std::vector<int>& sounds_played() {
  static std::vector<int> played;
  return played;
}

inline int times_played(int number) {
  int n = 0;
  for (int s : sounds_played()) n += s == number;
  return n;
}

class MenuSession {
 public:
  static MenuSession& get() {
    static MenuSession session;
    return session;
  }
  bool ok() const { return ok_; }
  ~MenuSession() {
    // Leaks are looked for now, while the GL driver is still loaded: once its
    // library is unloaded at exit its live buffers look ownerless. The window
    // stays open and Xvfb goes with this process (endWithParent), so no exit
    // handler finds its X connection cut.
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
  }

 private:
  MenuSession() {
    if (home_.path().empty()) return;
    setenv("HOME", home_.path().c_str(), 1);
    std::string message;
    if (prepare_user_dir(home_.path().c_str(), g_paths, message) != 0) return;
    if (!test::start_xvfb(xvfb_, {.screen = "1024x768x24", .endWithParent = true, .quiet = true}))
      return;
    // llvmpipe without its own rasteriser threads: their unannotated fences
    // would otherwise fill ThreadSanitizer reports with the driver's insides.
    setenv("LP_NUM_THREADS", "0", 1);
    int argc = 1;
    char name[] = "zbx_menus_tests";
    char* argv[] = {name, nullptr};
    glutInit(&argc, argv);
    g_client_settings = ClientSettings{};
    open_window(main_menu_screen());
    init_palette();
    ok_ = true;
  }

  bool ok_ = false;
  pid_t xvfb_ = -1;
  test::TempDir home_;
};

// Fixture: settings as a first run leaves them, menus freshly built at
// 640 x 480, sounds recorded, the main menu on screen.
class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MenuSession::get().ok()) GTEST_SKIP() << "no X server";
    reset_client_state();
    load_client_settings();
    g_client_settings.SCREEN_WIDTH = 640;
    g_client_settings.SCREEN_HEIGHT = 480;
    resize_window(640, 480);
    g_sound.pendingVolume = g_client_settings.VOLUME;
    reset_menus();
    g_menus.pendingWidth = 640;
    g_menus.pendingHeight = 480;
    g_client_hooks = default_client_hooks();
    fill_menu_hooks(g_client_hooks);
    g_client_hooks.play_sound_at = [](int n, Vector3f) { sounds_played().push_back(n); };
    sounds_played().clear();
    clear_high_scores();
    build_main_menu();
    build_config_menu();
    build_high_score_menu();
    show_main_menu();
  }
  void TearDown() override {
    reset_client_state();
    g_client_hooks = default_client_hooks();
  }

  static void type(void (*keyboard)(unsigned char, int, int), const std::string& keys) {
    for (unsigned char c : keys) keyboard(c, 0, 0);
  }
  // Runs the connecting screen until it has left (bounded).
  static void finish_join() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_menus.screen == Screen::Connecting && std::chrono::steady_clock::now() < end) {
      connecting_idle();
    }
  }
  // Selects an editor item by walking the list with the arrow keys.
  static void select_config_item(int index) {
    while (g_menus.config.selected != index) config_special(SPECIAL_KEY_DOWN, 0, 0);
  }
  // Opens the number entry of an editor item and types keys into it.
  static void edit_number(int index, const std::string& keys) {
    select_config_item(index);
    config_keyboard(KEY_RETURN, 0, 0);
    type(number_entry_keyboard, keys);
  }
};

}  // namespace zbx::menu_test
