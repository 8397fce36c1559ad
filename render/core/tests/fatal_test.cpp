// The start-up loaders end the process with the game's messages and statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "render/core/model.h"
#include "render/core/sgi_image.h"
#include "test_util.h"

namespace zbx {
namespace {

// Runs body in the death-test child with its standard output sent to
// standard error, where the death test's pattern can see it.
#define EXPECT_FATAL(body, status, pattern) \
  EXPECT_EXIT(                              \
      {                                     \
        dup2(2, 1);                         \
        body;                               \
      },                                    \
      testing::ExitedWithCode(status), pattern)

TEST(FatalLoaders, MissingAndBrokenModelFilesExitWithStatus1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir tmp;
  std::string dir = tmp.path() + "/";
  std::ofstream(tmp.file("bad.spec")) << "400\n1\n";
  EXPECT_FATAL(load_model_file(dir, "ship.spec"), 1,
               "(^|\n)Error opening spec file ship\\.spec\n$");
  EXPECT_FATAL(load_model_file(dir, "bad.spec"), 1,
               "(^|\n)Error in spec file bad\\.spec: slot 400 outside 0\\.\\.254\n$");
  // A data prefix without models fails on the first file.
  EXPECT_FATAL((setenv("ZBX3D_DATA_PREFIX", tmp.path().c_str(), 1), load_model_set()), 1,
               "(^|\n)Error opening spec file ship\\.spec\n$");
}

TEST(FatalLoaders, ShippedModelSetLoadsIntoTheTable) {
  ASSERT_NE(std::getenv("ZBX3D_DATA_PREFIX"), nullptr);
  g_models = {};
  load_model_set();
  for (int slot : NEEDED_MODEL_SLOTS) EXPECT_TRUE(g_models[slot]) << slot;
  EXPECT_NEAR(model_radius(*g_models[0]), 1.0f, 1e-5f);
  g_models = {};
}

TEST(FatalLoaders, TextureFailuresExitWith1ForMissingAnd0ForUnreadable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir tmp;
  std::string junk = tmp.file("junk.rgb");
  std::ofstream(junk) << "no picture here";
  // A fixed path: the threadsafe death test runs the test body again in the child.
  std::string none = "/nonexistent-zbx/none.rgb";
  EXPECT_FATAL(load_explosion_image(none.c_str()), 1, "(^|\n)Error opening " + none + "\n$");
  EXPECT_FATAL(load_explosion_image(junk.c_str()), 0,
               "(^|\n)Sorry, can't read texture file\\.\\.\\.$");
  std::string shipped =
      std::string(std::getenv("ZBX3D_DATA_PREFIX")) + "/zbx3d/textures/explosion.rgb";
  EXPECT_GT(load_explosion_image(shipped.c_str()).width, 0);
}

}  // namespace
}  // namespace zbx
