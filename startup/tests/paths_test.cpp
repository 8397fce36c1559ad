#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "startup/command_line.h"
#include "startup/settings.h"
#include "test_util.h"

namespace zbx {
namespace {

namespace fs = std::filesystem;

// Points the data prefix at a private copy of the shipped defaults.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
    if (prefix != nullptr) saved_prefix_ = prefix;
    fs::create_directories(data_.path() + "/zbx3d/conf");
    for (const char* name :
         {"scores.dat", "ZBXConfig", "ZBXServerConfig", "ZBXServerSingleConfig"}) {
      test::write_file(conf(name), std::string("content of ") + name + "\n");
    }
    setenv("ZBX3D_DATA_PREFIX", data_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_prefix_.empty()) {
      unsetenv("ZBX3D_DATA_PREFIX");
    } else {
      setenv("ZBX3D_DATA_PREFIX", saved_prefix_.c_str(), 1);
    }
  }
  std::string conf(const std::string& name) const { return data_.path() + "/zbx3d/conf/" + name; }
  test::TempDir data_;
  test::TempDir home_;
  std::string saved_prefix_;
};

TEST_F(PathsTest, DataPrefixComesFromTheEnvironment) {
  EXPECT_EQ(std::string(data_prefix()), data_.path());
  setenv("ZBX3D_DATA_PREFIX", "", 1);
  EXPECT_STRNE(data_prefix(), "");  // empty means unset: the compiled-in prefix
}

TEST_F(PathsTest, FirstRunCreatesDirectoryAndCopiesTheFourFiles) {
  UserPaths paths;
  std::string message;
  ASSERT_EQ(prepare_user_dir(home_.path().c_str(), paths, message), 0) << message;
  std::string dir = home_.path() + "/.zbx3d";
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(paths.highScores, dir + "/scores.dat");
  EXPECT_EQ(paths.clientSettings, dir + "/ZBXConfig");
  EXPECT_EQ(paths.serverSettings, dir + "/ZBXServerConfig");
  EXPECT_EQ(paths.singleSettings, dir + "/ZBXServerSingleConfig");
  EXPECT_EQ(paths.recentServers, dir + "/ZBXServers");
  EXPECT_FALSE(fs::exists(paths.recentServers));  // made by the first multi-player join
  EXPECT_EQ(test::read_file(paths.singleSettings), "content of ZBXServerSingleConfig\n");
  EXPECT_EQ(test::read_file(paths.highScores), "content of scores.dat\n");
}

TEST_F(PathsTest, ExistingDirectoryIsUsedUnchanged) {
  std::string dir = home_.path() + "/.zbx3d";
  fs::create_directory(dir);
  test::write_file(dir + "/ZBXServerConfig", "mine\n");
  UserPaths paths;
  std::string message;
  ASSERT_EQ(prepare_user_dir(home_.path().c_str(), paths, message), 0);
  EXPECT_EQ(test::read_file(dir + "/ZBXServerConfig"), "mine\n");
  EXPECT_FALSE(fs::exists(dir + "/ZBXConfig"));  // deleted by the user: not copied again
}

TEST_F(PathsTest, MissingDefaultStopsTheInstallWithItsName) {
  fs::remove(conf("ZBXConfig"));
  UserPaths paths;
  std::string message;
  EXPECT_EQ(prepare_user_dir(home_.path().c_str(), paths, message), 1);
  EXPECT_EQ(message, "Error creating ZBXConfig file");
  EXPECT_TRUE(fs::is_empty(home_.path()));  // no folder, half-made or whole
}

TEST_F(PathsTest, DirectoryThatCannotBeCreated) {
  // A plain file where the directory should be.
  test::write_file(home_.path() + "/.zbx3d", "");
  UserPaths paths;
  std::string message;
  EXPECT_EQ(prepare_user_dir(home_.path().c_str(), paths, message), 1);
  EXPECT_EQ(message, "Error opening zbx directory");
}

TEST_F(PathsTest, UnsetHomeAndOverLongPathsAreRefusedNotCut) {
  UserPaths paths;
  std::string message;
  EXPECT_EQ(prepare_user_dir(nullptr, paths, message), 1);
  EXPECT_NE(message.find("HOME"), std::string::npos);
  EXPECT_EQ(prepare_user_dir("", paths, message), 1);

  // "/.zbx3d/ZBXServerSingleConfig" is 29 characters: 50 + 29 = 79 fits.
  std::string home50 = home_.path() + "/" + std::string(49 - home_.path().size(), 'h');
  ASSERT_EQ(home50.size(), 50u);
  fs::create_directory(home50);
  EXPECT_EQ(prepare_user_dir(home50.c_str(), paths, message), 0) << message;
  EXPECT_EQ(paths.singleSettings.size(), 79u);

  std::string home51 = home50 + "x";
  fs::create_directory(home51);
  message.clear();
  EXPECT_EQ(prepare_user_dir(home51.c_str(), paths, message), 1);
  EXPECT_NE(message.find("79"), std::string::npos);
  EXPECT_FALSE(fs::exists(home51 + "/.zbx3d"));  // refused before creating anything
}

TEST_F(PathsTest, InstallDefaultFileCopiesBytesExactly) {
  std::string bytes("a\0b\r\n\xff", 6);
  test::write_file(conf("blob"), bytes);
  EXPECT_EQ(install_default_file(home_.path().c_str(), "blob"), 1);
  EXPECT_EQ(test::read_file(home_.file("blob")), bytes);
  EXPECT_EQ(install_default_file(home_.path().c_str(), "absent"), 0);
  EXPECT_EQ(install_default_file((home_.path() + "/no/such/dir").c_str(), "blob"), 0);
}

TEST(CommandLine, OptionsReplacePathsAndLaterOnesWin) {
  const char* argv[] = {"zbx3d", "-scf", "first", "-ds", "-cf", "-odd", "-scf", "second"};
  CommandLine line = parse_command_line(8, argv);
  EXPECT_EQ(line.status, 0);
  EXPECT_TRUE(line.dedicated);
  UserPaths paths{"hs", "client", "server", "single", "recent", "pads"};
  apply_command_line(line, paths);
  EXPECT_EQ(paths.serverSettings, "second");
  EXPECT_EQ(paths.clientSettings, "-odd");  // taken verbatim
  EXPECT_EQ(paths.highScores, "hs");
  EXPECT_EQ(paths.singleSettings, "single");
}

TEST(CommandLine, OptionAsLastWordHasNoEffect) {
  const char* argv[] = {"zbx3d", "-cf"};
  CommandLine line = parse_command_line(2, argv);
  EXPECT_EQ(line.status, 0);
  EXPECT_FALSE(line.dedicated);
  EXPECT_FALSE(line.clientSettings.has_value());
  const char* argv2[] = {"zbx3d", "-cf", ""};
  EXPECT_EQ(parse_command_line(3, argv2).clientSettings, std::string());  // empty, but given
}

TEST(CommandLine, UnknownWordGivesUsageWithInvocationName) {
  const char* argv[] = {"./bin/zbx3d", "-ds", "game.cfg", "-cf", "x"};
  CommandLine line = parse_command_line(5, argv);
  EXPECT_EQ(line.status, 1);
  EXPECT_EQ(line.message, "\nUsage: ./bin/zbx3d -cf Configuration_Filename");
}

TEST(CommandLine, OverLongPathArgumentIsRefused) {
  std::string p79(79, 'p');
  std::string p80(80, 'p');
  const char* ok[] = {"zbx3d", "-cf", p79.c_str()};
  EXPECT_EQ(parse_command_line(3, ok).status, 0);
  const char* bad[] = {"zbx3d", "-scf", p80.c_str()};
  CommandLine line = parse_command_line(3, bad);
  EXPECT_EQ(line.status, 1);
  EXPECT_NE(line.message.find("79"), std::string::npos);
  EXPECT_EQ(line.message.find('\n'), std::string::npos);  // one line
}

}  // namespace
}  // namespace zbx
