#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "startup/settings.h"
#include "test_util.h"

namespace zbx {
namespace {

class ClientSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_client_settings = ClientSettings{};
    g_paths.clientSettings = dir_.file("ZBXConfig");
  }
  void load(const std::string& text) {
    test::write_file(g_paths.clientSettings, text);
    load_client_settings();
  }
  test::TempDir dir_;
};

TEST_F(ClientSettingsTest, NoFileGivesDefaultsAndUnboundKeys) {
  load_client_settings();
  const ClientSettings& s = g_client_settings;
  EXPECT_EQ(s.SCREEN_WIDTH, 640);
  EXPECT_EQ(s.SCREEN_HEIGHT, 480);
  EXPECT_STREQ(s.SERVER_IP, "127.0.0.1");
  EXPECT_EQ(s.SERVER_PORT, 12345);
  EXPECT_STREQ(s.PLAYER_NAME, "UnNamedPlayer");
  EXPECT_EQ(s.VOLUME, 9);
  EXPECT_EQ(s.keys.FIRE_KEY, 0);
  EXPECT_EQ(s.keys.QUIT_KEY, 0);
}

TEST_F(ClientSettingsTest, ScreenSizeOutsideItsRangeIsIgnored) {
  load("SCREEN_WIDTH=2000\nSCREEN_HEIGHT=100\n");
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 640);
  EXPECT_EQ(g_client_settings.SCREEN_HEIGHT, 480);
  load("SCREEN_WIDTH=800\nSCREEN_WIDTH=1601\nSCREEN_HEIGHT=1200\n");
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 800);  // the earlier line stands
  EXPECT_EQ(g_client_settings.SCREEN_HEIGHT, 1200);
  load("SCREEN_WIDTH=320\nSCREEN_HEIGHT=240\n");
  EXPECT_EQ(g_client_settings.SCREEN_WIDTH, 320);
  EXPECT_EQ(g_client_settings.SCREEN_HEIGHT, 240);
}

TEST_F(ClientSettingsTest, TextsThatDoNotFitAreIgnored) {
  load("PLAYER_NAME=abcdefghijklmnopqrs\nSERVER_IP=192.168.100.200\n");
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "abcdefghijklmnopqrs");  // 19 fit
  EXPECT_STREQ(g_client_settings.SERVER_IP, "192.168.100.200");        // 15 fit
  load("PLAYER_NAME=abcdefghijklmnopqrst\nSERVER_IP=192.168.100.2001\n");
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "UnNamedPlayer");
  EXPECT_STREQ(g_client_settings.SERVER_IP, "127.0.0.1");
  load("PLAYER_NAME==\n");  // empty name
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "UnNamedPlayer");
  std::strcpy(g_client_settings.SERVER_IP, "10.1.2.3");
  client_settings_handler("SERVER_IP", "");  // an empty address is no address
  EXPECT_STREQ(g_client_settings.SERVER_IP, "10.1.2.3");
}

TEST_F(ClientSettingsTest, BindingsTakeTheFirstCharacterAndSurviveReload) {
  load("FIRE_KEY=jump\nQUIT_KEY=P\nVOLUME=3\n");
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, 'j');
  EXPECT_EQ(g_client_settings.keys.QUIT_KEY, 'P');
  load("VOLUME=4\n");
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, 'j');  // bindings have no default
  EXPECT_EQ(g_client_settings.VOLUME, 4);
  load("FIRE_KEY==\n");
  EXPECT_EQ(g_client_settings.keys.FIRE_KEY, 0);
}

TEST_F(ClientSettingsTest, SaveWritesTheTwentyOneLinesThenTheLaterSettings) {
  ClientSettings& s = g_client_settings;
  std::strcpy(s.SERVER_IP, "10.0.0.7");
  s.SERVER_PORT = 4000;
  std::strcpy(s.PLAYER_NAME, "Ace");
  s.SCREEN_WIDTH = 800;
  s.SCREEN_HEIGHT = 600;
  s.VOLUME = 5;
  std::strcpy(s.BROADCAST_ADDRESS, "127.255.255.255");
  s.keys = KeyBindings{'o', 'j', 'l', 'h', 'n', 'p', 'i', 'k', 's', 'w', 'd', 'a', 'q', 'e', 'b'};
  save_client_settings();
  EXPECT_EQ(test::read_file(g_paths.clientSettings),
            "SERVER_IP=10.0.0.7\nSERVER_PORT=4000\nPLAYER_NAME=Ace\nSCREEN_WIDTH=800\n"
            "SCREEN_HEIGHT=600\nVOLUME=5\nSCORE_KEY=o\nFIRE_KEY=j\nSHIELD_KEY=l\nWARP_KEY=h\n"
            "NUKE_KEY=n\nQUIT_KEY=p\nZ_FORWARD_KEY=i\nZ_BACKWARD_KEY=k\n"
            "X_FORWARD_ROTATE_KEY=s\nX_BACKWARD_ROTATE_KEY=w\nY_FORWARD_ROTATE_KEY=d\n"
            "Y_BACKWARD_ROTATE_KEY=a\nZ_FORWARD_ROTATE_KEY=q\nZ_BACKWARD_ROTATE_KEY=e\n"
            "REVERSE_VIEW_KEY=b\n"
            "SMOOTH_MOTION=0\nCOMPACT_SNAPSHOTS=1\nBROADCAST_ADDRESS=127.255.255.255\n"
            "GAMEPAD=1\nGAMEPAD_DEAD_ZONE=20\nPAD_FIRE_BUTTON=a\nPAD_SHIELD_BUTTON=b\n"
            "PAD_NUKE_BUTTON=x\nPAD_WARP_BUTTON=y\nPAD_SCORE_BUTTON=back\n"
            "PAD_REVERSE_VIEW_BUTTON=leftstick\nPAD_QUIT_BUTTON=start\n"
            "PAD_ROLL_LEFT_BUTTON=leftshoulder\nPAD_ROLL_RIGHT_BUTTON=rightshoulder\n");

  s.SMOOTH_MOTION = 1;
  std::strcpy(s.MASTER_SERVERS, "m.example.org:27950");
  std::strcpy(s.pad.PAD_FIRE_BUTTON, "rightstick");
  save_client_settings();
  const ClientSettings saved = s;
  s = ClientSettings{};
  load_client_settings();
  EXPECT_STREQ(s.SERVER_IP, saved.SERVER_IP);
  EXPECT_EQ(s.SERVER_PORT, saved.SERVER_PORT);
  EXPECT_STREQ(s.PLAYER_NAME, saved.PLAYER_NAME);
  EXPECT_EQ(s.SCREEN_WIDTH, saved.SCREEN_WIDTH);
  EXPECT_EQ(s.SCREEN_HEIGHT, saved.SCREEN_HEIGHT);
  EXPECT_EQ(s.VOLUME, saved.VOLUME);
  EXPECT_EQ(std::memcmp(&s.keys, &saved.keys, sizeof s.keys), 0);  // chars only: no padding
  EXPECT_EQ(s.SMOOTH_MOTION, 1);
  EXPECT_STREQ(s.MASTER_SERVERS, "m.example.org:27950");
  EXPECT_STREQ(s.pad.PAD_FIRE_BUTTON, "rightstick");
}

TEST_F(ClientSettingsTest, RoundTripQuirksOfUnbindableCharacters) {
  g_client_settings.keys =
      KeyBindings{'o', 'j', 'l', 'h', 'n', 'p', 'i', 'k', 's', 'w', 'd', 'a', 'q', 'e', 'b'};
  g_client_settings.keys.FIRE_KEY = ' ';  // swallows the SHIELD_KEY line
  g_client_settings.keys.NUKE_KEY = '#';  // a comment: swallows QUIT_KEY's line
  g_client_settings.keys.WARP_KEY = '=';  // reads back as character 0
  g_client_settings.keys.SCORE_KEY = 0;   // a NUL byte, read back as 0
  std::strcpy(g_client_settings.PLAYER_NAME, "Two Words");
  save_client_settings();

  g_client_settings = ClientSettings{};
  load_client_settings();
  const KeyBindings& k = g_client_settings.keys;
  EXPECT_STREQ(g_client_settings.PLAYER_NAME, "Two");
  EXPECT_EQ(k.SCORE_KEY, 0);
  EXPECT_EQ(k.FIRE_KEY, 'S');  // first letter of "SHIELD_KEY=l"
  EXPECT_EQ(k.SHIELD_KEY, 0);  // its line was consumed as a value
  EXPECT_EQ(k.WARP_KEY, 0);
  EXPECT_EQ(k.NUKE_KEY, 'Q');  // the comment ran to the end of "NUKE_KEY=#"
  EXPECT_EQ(k.QUIT_KEY, 0);
  EXPECT_EQ(k.Z_FORWARD_KEY, 'i');  // later lines unaffected
  EXPECT_EQ(k.REVERSE_VIEW_KEY, 'b');
}

TEST_F(ClientSettingsTest, SaveToAnUnwritablePathDoesNothing) {
  g_paths.clientSettings = dir_.file("missing/dir/ZBXConfig");
  save_client_settings();  // must neither crash nor create anything
  EXPECT_FALSE(std::filesystem::exists(g_paths.clientSettings));
}

TEST_F(ClientSettingsTest, ShippedDefaultBindsAllFifteenKeysDistinctly) {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  if (prefix == nullptr) GTEST_SKIP() << "ZBX3D_DATA_PREFIX not set";
  g_paths.clientSettings = std::string(prefix) + "/zbx3d/conf/ZBXConfig";
  load_client_settings();
  const KeyBindings& k = g_client_settings.keys;
  const char* keys = reinterpret_cast<const char*>(&k);
  std::string seen;
  for (std::size_t i = 0; i < sizeof k; ++i) {
    char c = keys[i];
    EXPECT_NE(c, 0) << "binding " << i;
    EXPECT_EQ(std::strchr(" \t#/;=", c), nullptr) << "binding " << i;
    EXPECT_EQ(seen.find(c), std::string::npos) << "binding " << i << " shared";
    seen.push_back(c);
  }
  EXPECT_EQ(k.FIRE_KEY, 'j');
  EXPECT_EQ(k.QUIT_KEY, 'p');
  EXPECT_EQ(g_client_settings.SERVER_PORT, 12346);
}

}  // namespace
}  // namespace zbx
