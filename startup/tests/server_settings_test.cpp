#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "startup/settings.h"
#include "test_util.h"

namespace zbx {
namespace {

class ServerSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { g_server_settings = ServerSettings{}; }
  void load(const std::string& text) {
    std::string path = dir_.file("server.cfg");
    test::write_file(path, text);
    load_server_settings(path.c_str());
  }
  test::TempDir dir_;
};

TEST_F(ServerSettingsTest, MissingFileGivesDefaultsAndKeepsUndefaultedKeys) {
  load(
      "MAX_NUMBER_OF_PLAYERS=4\nSHOT_KEEP_ALIVE=7\nSHIP_DEAD_TIME=9\nSTART_LIVES=99\nSHOT_SPEED="
      "5\n");
  load_server_settings(dir_.file("absent").c_str());
  const ServerSettings& s = g_server_settings;
  EXPECT_EQ(std::tuple(s.START_LIVES, s.SHOT_SPEED, s.GAME_PORT, s.ROTATION_SPEED,
                       s.MAX_NUMBER_OF_PLAYERS, s.SHOT_KEEP_ALIVE, s.SHIP_DEAD_TIME),
            std::tuple(3, 0.14f, 12346, 1.2f, 4, 7, 9));
}

TEST_F(ServerSettingsTest, FileValuesOverrideDefaults) {
  load(
      "WORLD_WIDTH=12.5\nNUKE_SPEED=0.5\nNUKE_EXPLOSTION_GROWTH_SPEED=0.07\n"
      "MAX_NUMBER_OF_PLAYERS=8\nGAME_TYPE=2\nBOT_NUKE_ODDS=0\nshot_speed=9\n");
  const ServerSettings& s = g_server_settings;
  // SHOT_SPEED keeps its default: the lower-case key is ignored.
  EXPECT_EQ(std::tuple(s.WORLD_WIDTH, s.NUKE_SPEED, s.NUKE_EXPLOSTION_GROWTH_SPEED, s.SHOT_SPEED,
                       s.MAX_NUMBER_OF_PLAYERS, s.GAME_TYPE, s.BOT_NUKE_ODDS),
            std::tuple(12.5f, 0.5f, 0.07f, 0.14f, 8, 2, 0));
}

std::vector<std::string> g_keys;
void collect_key(const char* key, const char*) { g_keys.emplace_back(key); }

TEST_F(ServerSettingsTest, EveryShippedKeyReachesAFieldOfItsOwn) {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  if (prefix == nullptr) GTEST_SKIP() << "ZBX3D_DATA_PREFIX not set";
  g_keys = {"SHOT_KEEP_ALIVE", "SHIP_DEAD_TIME"};  // the two unused keys
  std::FILE* f = std::fopen((std::string(prefix) + "/zbx3d/conf/ZBXServerConfig").c_str(), "r");
  ASSERT_NE(f, nullptr);
  read_settings_file(f, collect_key);
  std::fclose(f);

  // A distinct number for every key: afterwards every field must differ
  // from every other, so no key is unknown and no two keys share a field.
  std::string text;
  int n = 100;
  std::erase(g_keys, "SERVER_NAME");  // the text settings follow the numbers
  for (const std::string& k : g_keys) text += k + "=" + std::to_string(n++) + "\n";
  load(text + "SERVER_NAME=Over\"There\nMASTER_SERVERS=a:1,b:2\n");
  EXPECT_STREQ(g_server_settings.SERVER_NAME, "Over\"There");
  EXPECT_STREQ(g_server_settings.MASTER_SERVERS, "a:1,b:2");
  constexpr std::size_t FIELDS = offsetof(ServerSettings, SERVER_NAME) / 4;
  ASSERT_EQ(g_keys.size(), FIELDS);
  std::array<std::uint32_t, FIELDS> bits;
  std::memcpy(bits.data(), &g_server_settings, sizeof bits);
  std::set<std::uint32_t> distinct(bits.begin(), bits.end());
  EXPECT_EQ(distinct.size(), FIELDS);
}

TEST_F(ServerSettingsTest, NumbersConvertLikeAtoiAndStrtod) {
  load(
      "START_LIVES=  -7xyz\nMAX_KILLS=abc\nSHIP_SIZE=2.5e-1junk\nSHOT_SPEED=.5\n"
      "START_ARMOR=99999999999\nMAX_ARMOR=-99999999999\n");
  const ServerSettings& s = g_server_settings;
  // START_ARMOR and MAX_ARMOR saturate, not wrap.
  EXPECT_EQ(
      std::tuple(s.START_LIVES, s.MAX_KILLS, s.SHIP_SIZE, s.SHOT_SPEED, s.START_ARMOR, s.MAX_ARMOR),
      std::tuple(-7, 0, 0.25f, 0.5f, 2147483647, -2147483647 - 1));
}

TEST_F(ServerSettingsTest, UnsafeValuesAreBroughtIntoRange) {
  const ServerSettings& s = g_server_settings;
  const auto limits = [&s] {
    return std::tuple(s.GAME_SLEEP, s.NET_SLEEP_TIME, s.NUM_BOTS, s.PACKET_SIZE);
  };
  load("GAME_SLEEP=0\nNET_SLEEP_TIME=-5\nNUM_BOTS=40\nPACKET_SIZE=5000\n");
  EXPECT_EQ(limits(), std::tuple(1, 0, 32, 1502));
  load("GAME_SLEEP=-100\nNET_SLEEP_TIME=70000\nNUM_BOTS=-1\nPACKET_SIZE=0\n");
  EXPECT_EQ(limits(), std::tuple(1, 60000, 0, 1));
  load("GAME_SLEEP=2000000000\n");
  EXPECT_EQ(s.GAME_SLEEP, 60000);
}

TEST_F(ServerSettingsTest, IntendedValuesAtTheEdgesStay) {
  load(
      "GAME_SLEEP=1\nNET_SLEEP_TIME=0\nNUM_BOTS=32\nPACKET_SIZE=1502\nWORLD_WIDTH=0.001\n"
      "SHOT_SPEED=-0.3\nGAME_PORT=99999\nBOT_NUKE_ODDS=-4\n");
  const ServerSettings& s = g_server_settings;
  EXPECT_EQ(std::tuple(s.GAME_SLEEP, s.NET_SLEEP_TIME, s.NUM_BOTS, s.PACKET_SIZE, s.WORLD_WIDTH,
                       s.SHOT_SPEED, s.GAME_PORT, s.BOT_NUKE_ODDS),
            std::tuple(1, 0, 32, 1502, 0.001f, -0.3f, 99999, -4));
}

TEST_F(ServerSettingsTest, NonFiniteFloatsAndBadWorldWidthKeepDefaults) {
  load(
      "SHOT_SPEED=nan\nNUKE_SPEED=inf\nROTATION_SPEED=-infinity\nSHIP_SIZE=1e300\n"
      "DECELERATION_CONSTANT=0.5\nWORLD_WIDTH=letters\n");
  const ServerSettings& s = g_server_settings;
  EXPECT_EQ(std::tuple(s.SHOT_SPEED, s.NUKE_SPEED, s.ROTATION_SPEED, s.SHIP_SIZE,
                       s.DECELERATION_CONSTANT, s.WORLD_WIDTH),
            std::tuple(0.14f, 0.14f, 1.2f, 0.2f, 0.5f, 10.0f));

  load("WORLD_WIDTH=-3\n");
  EXPECT_EQ(g_server_settings.WORLD_WIDTH, 10.0f);
}

TEST_F(ServerSettingsTest, SinglePlayerValuesDoNotLeakIntoTheNextLoad) {
  std::string single = dir_.file("single");
  test::write_file(single, "MAX_NUMBER_OF_PLAYERS=1\nGAME_PORT=12345\nNUM_BOTS=2\n");
  load_server_settings(single.c_str());
  EXPECT_EQ(g_server_settings.MAX_NUMBER_OF_PLAYERS, 1);
  g_server_settings.GAME_TYPE = 0;  // what a single-player server does to it
  load("START_LIVES=5\n");
  // MAX_NUMBER_OF_PLAYERS has no default: kept.
  EXPECT_EQ(std::tuple(g_server_settings.GAME_PORT, g_server_settings.NUM_BOTS,
                       g_server_settings.GAME_TYPE, g_server_settings.MAX_NUMBER_OF_PLAYERS),
            std::tuple(12346, 0, 1, 1));
}

TEST_F(ServerSettingsTest, ShippedDefaultFilesLoadAsDocumented) {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  if (prefix == nullptr) GTEST_SKIP() << "ZBX3D_DATA_PREFIX not set";
  std::string conf = std::string(prefix) + "/zbx3d/conf/";
  load_server_settings((conf + "ZBXServerSingleConfig").c_str());
  EXPECT_EQ(g_server_settings.MAX_NUMBER_OF_PLAYERS, 1);
  EXPECT_EQ(g_server_settings.GAME_PORT, 12345);
  EXPECT_EQ(g_server_settings.PACKET_SIZE, 1024);  // the last line was read
  ServerSettings single = g_server_settings;
  load_server_settings((conf + "ZBXServerConfig").c_str());
  EXPECT_EQ(g_server_settings.MAX_NUMBER_OF_PLAYERS, 8);
  EXPECT_EQ(g_server_settings.GAME_PORT, 12346);
  EXPECT_EQ(g_server_settings.PACKET_SIZE, 1024);
  // Both files spell out the built-in values for everything else.
  ServerSettings defaults;
  EXPECT_EQ(g_server_settings.SHOT_SPEED, defaults.SHOT_SPEED);
  EXPECT_EQ(g_server_settings.DECELERATION_CONSTANT, defaults.DECELERATION_CONSTANT);
  EXPECT_EQ(g_server_settings.START_LIVES, defaults.START_LIVES);
  EXPECT_EQ(single.BOT_RATIO_INCREASE, defaults.BOT_RATIO_INCREASE);
  EXPECT_EQ(single.NUKE_EXPLOSTION_GROWTH_SPEED, defaults.NUKE_EXPLOSTION_GROWTH_SPEED);
  EXPECT_EQ(g_server_settings.VERIFY_NEW_CLIENTS, 0);  // opt-in: off as shipped
  EXPECT_EQ(single.VERIFY_NEW_CLIENTS, 0);
}

}  // namespace
}  // namespace zbx
