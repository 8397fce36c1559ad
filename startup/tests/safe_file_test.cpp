#include "startup/safe_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "test_util.h"

namespace zbx {
namespace {

TEST(SafeFile, SaveKeepsLinksPermissionsAndEveryByte) {
  test::TempDir dir;
  test::write_file(dir.file("real"), "old");
  chmod(dir.file("real").c_str(), 0600);
  std::filesystem::create_symlink("real", dir.file("link"));  // a dotfiles folder, say
  ASSERT_TRUE(save_user_file(dir.file("link"), [](std::FILE* f) { std::fprintf(f, "a%cb", 0); }));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  EXPECT_EQ(test::read_file(dir.file("real")), std::string("a\0b", 3));
  struct stat st {};
  EXPECT_TRUE(stat(dir.file("real").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
}

}  // namespace
}  // namespace zbx
