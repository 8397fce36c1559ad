#include "startup/safe_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "test_util.h"

namespace zbx {
namespace {

namespace fs = std::filesystem;

void write_hello(std::FILE* file) { std::fprintf(file, "hello%c\n", 0); }

TEST(SafeFile, FailedSaveKeepsTheOldFileLeavesNoTemporaryAndSaysSo) {
  test::TempDir dir;
  // A folder with a file in it cannot be renamed over: the last step fails.
  const std::string target = dir.file("target");
  fs::create_directory(target);
  test::write_file(target + "/kept", "kept");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(save_user_file(target, write_hello));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("zbx3d: cannot save " + target + ": ", 0), 0u) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
  EXPECT_EQ(test::read_file(target + "/kept"), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  std::string error;
  EXPECT_FALSE(replace_file(dir.file("no/such/file"), "x", error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST(SafeFile, SaveKeepsPermissionsLinksAndEveryByte) {
  test::TempDir dir;
  const std::string real = dir.file("real");
  test::write_file(real, "old");
  chmod(real.c_str(), 0600);
  fs::create_symlink(real, dir.file("link"));
  ASSERT_TRUE(save_user_file(dir.file("link"), write_hello));
  EXPECT_TRUE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ(test::read_file(real), std::string("hello\0\n", 7));
  struct stat st {};
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace zbx
