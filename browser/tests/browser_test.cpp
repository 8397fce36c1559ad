#include "browser/browser.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/query.h"
#include "testing/files.h"

namespace zbx {
namespace {

using namespace std::chrono_literals;

constexpr ServerAddress ASKED{0x7F000001, 23456};  // 127.0.0.1:23456

std::string info_answer(const std::string& info) { return "\xff\xff\xff\xffinfoResponse\n" + info; }

bool take(BrowserState& s, const std::string& bytes, ServerAddress from,
          BrowserClock::time_point at) {
  return browser_take(s, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), from,
                      at);
}

TEST(Browser, OnlyAnswersToWhatWasAskedCountAndTheyShowWhatIsSound) {
  BrowserState s;
  const auto t0 = BrowserClock::now();
  browser_begin_round(s, t0);
  browser_add_target(s, ASKED, TargetKind::Server, FOUND_RECENT, t0);
  browser_add_broadcast(s, 0x7FFFFFFF, 0xFF000000, t0);  // 127.255.255.255
  ASSERT_EQ(browser_due(s, t0, 100).size(), 9u);
  const std::string right = "\\challenge\\" + s.challenges[0];

  // Wrong challenge, a source never asked, a broadcast answer from outside
  // its network or off the eight ports, another game: all ignored.
  EXPECT_FALSE(take(s, info_answer("\\challenge\\nope\\hostname\\x"), ASKED, t0 + 5ms));
  EXPECT_FALSE(take(s, info_answer("\\challenge\\" + s.challenges[1]), ASKED, t0 + 5ms));
  EXPECT_TRUE(s.servers.empty()) << "the second query is not sent yet";
  EXPECT_FALSE(take(s, info_answer(right), {0x7F000001, 23457}, t0 + 5ms));
  EXPECT_FALSE(take(s, info_answer(right), {0x0A000001, 12346}, t0 + 5ms));
  EXPECT_FALSE(take(s, info_answer(right), {0x7F000002, 12354}, t0 + 5ms));
  EXPECT_FALSE(take(s, info_answer(right + "\\gamename\\Other"), ASKED, t0 + 5ms));
  EXPECT_TRUE(s.servers.empty());

  // A name of 1000 bytes with control bytes, absurd and cut numbers.
  EXPECT_TRUE(take(s,
                   info_answer(right + "\\hostname\\\x01" + std::string(1000, 'n') +
                               "\\clients\\99999999999\\sv_maxclients\\8\\gametype\\7"),
                   ASKED, t0 + 40ms));
  // A broadcast is answered from the server's own address.
  EXPECT_TRUE(take(s, info_answer(right + "\\hostname\\Lan\\clients\\3\\sv_maxclients\\4\\gamet"),
                   {0x7F000005, 12350}, t0 + 10ms));
  ASSERT_EQ(s.servers.size(), 2u);
  const ServerEntry& lan = s.servers[0];  // best ping first
  EXPECT_EQ(lan.name, "Lan");
  EXPECT_EQ((ServerAddress{0x7F000005, 12350}), lan.where);
  EXPECT_EQ(lan.players, 3);
  EXPECT_EQ(lan.maxPlayers, 4);
  EXPECT_EQ(lan.gameType, -1);  // the cut key is no key
  EXPECT_EQ(lan.ping, 10);
  EXPECT_EQ(lan.foundBy, FOUND_LAN);
  const ServerEntry& far = s.servers[1];
  EXPECT_EQ(far.name, "?" + std::string(BROWSER_NAME_LIMIT - 1, 'n'));
  EXPECT_EQ(far.players, -1);
  EXPECT_EQ(far.gameType, -1);
  EXPECT_EQ(far.ping, 40);

  // The second query's answer comes quicker: the list re-sorts. A new round
  // keeps the list and asks its servers again, with new challenges.
  const auto t1 = t0 + RESEND_GAP;
  ASSERT_EQ(browser_due(s, t1, 100).size(), 9u);
  EXPECT_TRUE(take(s, info_answer("\\challenge\\" + s.challenges[1]), ASKED, t1 + 2ms));
  EXPECT_EQ(s.servers[0].where, ASKED);
  EXPECT_EQ(s.servers[0].name, "");
  EXPECT_TRUE(browser_searching(s, t1 + ANSWER_WAIT - 1ms));
  EXPECT_FALSE(browser_searching(s, t1 + ANSWER_WAIT));
  const std::string old = s.challenges[0];
  browser_begin_round(s, t1 + 10s);
  EXPECT_NE(s.challenges[0], old);
  EXPECT_EQ(s.servers.size(), 2u);
  EXPECT_EQ(s.targets.size(), 2u);

  // The loopback network's mask comes from its interface, not from a guess.
  EXPECT_EQ(broadcast_network_mask(0x7FFFFFFF), 0xFF000000u);
  EXPECT_EQ(broadcast_network_mask(0xFFFFFFFF), 0u);
}

TEST(Browser, AMasterListOfTenThousandServersIsCappedAndEachAskedTwice) {
  BrowserState s;
  const auto t0 = BrowserClock::now();
  browser_begin_round(s, t0);
  const ServerAddress master{0x7F000001, 27950};
  browser_add_target(s, master, TargetKind::Master, 0, t0);
  const auto due = browser_due(s, t0, 100);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].bytes, getservers_datagram());
  std::vector<MasterEntry> list;
  for (std::uint32_t i = 0; i < 10000; ++i) list.push_back({0x0A000000 + i, 12346});
  const std::string answer = getservers_response(list, true);
  EXPECT_FALSE(take(s, answer, {0x7F000001, 27951}, t0));  // not the master
  EXPECT_EQ(s.targets.size(), 1u);
  take(s, answer, master, t0);
  EXPECT_EQ(s.targets.size(), BROWSER_MAX_TARGETS + 1);
  std::size_t sent = 0;
  for (auto t = t0; sent < 2 * BROWSER_MAX_TARGETS + 1; t += RESEND_GAP) {
    const auto batch = browser_due(s, t, SENDS_PER_POLL);
    if (batch.empty()) break;
    sent += batch.size();
  }
  EXPECT_EQ(sent, 2 * BROWSER_MAX_TARGETS + 1);
}

TEST(RecentServers, NewestFirstAtMostSixteenAndJunkSkipped) {
  test::TempDir dir;
  const std::string path = dir.file("ZBXServers");
  EXPECT_TRUE(read_recent_servers(path).empty());  // no file yet
  dir.write("ZBXServers", "junk\n" + std::string(5000, '1') + ":12346\n10.0.0.1:0\n" +
                              "1.2.3.4:5\r\n\n10.0.0.1:70000\n1.2.3.4:5\n127.0.0.1:12346");
  const auto read = read_recent_servers(path);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], (ServerAddress{0x01020304, 5}));
  EXPECT_EQ(read[1], (ServerAddress{0x7F000001, 12346}));

  std::string error;
  for (std::uint16_t port = 1; port <= 20; ++port) {
    ASSERT_TRUE(remember_server(path, {0x7F000001, port}, error)) << error;
  }
  ASSERT_TRUE(remember_server(path, {0x7F000001, 18}, error)) << error;
  const std::string text = test::read_file(path);
  EXPECT_EQ(text.rfind("127.0.0.1:18\n127.0.0.1:20\n127.0.0.1:19\n127.0.0.1:17\n", 0), 0u);
  EXPECT_EQ(read_recent_servers(path).size(), RECENT_SERVERS_MAX);
  EXPECT_EQ(text.substr(text.size() - 24), "127.0.0.1:6\n127.0.0.1:5\n");
}

}  // namespace
}  // namespace zbx
