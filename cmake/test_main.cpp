// main() of every GoogleTest binary: points the tests at the checkout's data
// and at a silent audio backend unless the caller chose otherwise, so a test
// binary behaves the same under ctest and when run by hand.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("ZBX3D_DATA_PREFIX", ZBX_TEST_DATA_PREFIX, 0);
  setenv("ZBX_SOURCE_DIR", ZBX_TEST_SOURCE_DIR, 0);
  setenv("ZBX_BUILD_DIR", ZBX_TEST_BUILD_DIR, 0);
  setenv("ALSOFT_DRIVERS", "null", 0);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
