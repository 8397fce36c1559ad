#include "protocol/query.h"

#include <gtest/gtest.h>

#include <string>

namespace zbx {
namespace {

OobMessage parse(const std::string& s) {
  return parse_out_of_band(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

TEST(Query, RequestsAsQueryToolsSendThem) {
  EXPECT_EQ(parse("\xff\xff\xff\xffgetinfo\n").kind, OobKind::GetInfo);
  EXPECT_EQ(parse("\xff\xff\xff\xffgetinfo\n").challenge, "");
  const OobMessage m = parse("\xff\xff\xff\xffgetstatus  abc123\n");
  EXPECT_EQ(m.kind, OobKind::GetStatus);
  EXPECT_EQ(m.challenge, "abc123");
  EXPECT_TRUE(m.challengeSafe);
  EXPECT_EQ(parse("\xff\xff\xff\xff").kind, OobKind::Unknown);
  EXPECT_EQ(parse("\xff\xff\xff\xffgetinfos").kind, OobKind::Unknown);
  EXPECT_EQ(parse("\xff\xff\xffgetinfo").kind, OobKind::Unknown);
  // Over-long challenges are cut; ones that would break the answer are marked.
  EXPECT_EQ(parse("\xff\xff\xff\xffgetinfo " + std::string(300, 'x')).challenge.size(), 64u);
  EXPECT_FALSE(parse("\xff\xff\xff\xffgetinfo a\\b").challengeSafe);
  EXPECT_FALSE(parse("\xff\xff\xff\xffgetinfo a\x01").challengeSafe);
}

TEST(Query, OwnQueriesNeverLookLikeGameDatagrams) {
  for (std::size_t n = 0; n < 40; ++n) {
    for (OobKind kind : {OobKind::GetInfo, OobKind::GetStatus}) {
      const std::string q = query_datagram(kind, std::string(n, 'c'));
      EXPECT_TRUE(q.size() != 1 && q.size() != 16 && q.size() != 20) << n;
      EXPECT_EQ(parse(q).kind, kind);
      EXPECT_EQ(parse(q).challenge, std::string(std::min<std::size_t>(n, 64), 'c'));
    }
  }
}

TEST(Query, InfoAndStatusRoundTripWithUnsafeCharactersReplaced) {
  std::string info;
  ASSERT_TRUE(info_append(info, "hostname", "my\\ser\"ver\n", 1400));
  ASSERT_TRUE(info_append(info, "clients", "3", 1400));
  EXPECT_FALSE(info_append(info, "x", std::string(2000, 'y'), 1400));
  const std::string answer = status_response(info, {{5, 0, "Bot 1"}, {-2, 40, "a\"b"}});
  const OobMessage m = parse(answer);
  ASSERT_EQ(m.kind, OobKind::StatusResponse);
  const auto* body = reinterpret_cast<const std::uint8_t*>(answer.data()) + m.bodyOffset;
  const StatusAnswer a = parse_status_body(body, answer.size() - m.bodyOffset);
  ASSERT_NE(info_find(a.info, "hostname"), nullptr);
  EXPECT_EQ(*info_find(a.info, "hostname"), "my_ser_ver_");
  EXPECT_EQ(*info_find(a.info, "clients"), "3");
  ASSERT_EQ(a.players.size(), 2u);
  EXPECT_EQ(a.players[1].score, -2);
  EXPECT_EQ(a.players[1].ping, 40);
  EXPECT_EQ(a.players[1].name, "a_b");
  // Many players: the answer stays within one datagram.
  std::vector<StatusPlayer> crowd(64, StatusPlayer{123456, 999, std::string(40, 'n')});
  EXPECT_LE(status_response(info, crowd).size(), QUERY_MAX_DATAGRAM);
}

TEST(Query, MasterListsRoundTripAndStopAtTheirEnd) {
  const std::vector<MasterEntry> entries = {{0x7F000001, 12346}, {0x0A000002, 27960}, {0, 5}};
  const std::string list = getservers_response(entries, true);
  const OobMessage m = parse(list);
  ASSERT_EQ(m.kind, OobKind::GetServersResponse);
  std::vector<MasterEntry> out;
  bool end = false;
  const auto* body = reinterpret_cast<const std::uint8_t*>(list.data()) + m.bodyOffset;
  parse_getservers_body(body, list.size() - m.bodyOffset, out, 100, &end);
  EXPECT_TRUE(end);
  ASSERT_EQ(out.size(), 2u);  // address 0 is no server
  EXPECT_EQ(out[1].address, 0x0A000002u);
  EXPECT_EQ(out[1].port, 27960);
  out.clear();
  parse_getservers_body(body, list.size() - m.bodyOffset - 9, out, 1, &end);
  EXPECT_FALSE(end);
  EXPECT_EQ(out.size(), 1u);  // the cap holds
}

}  // namespace
}  // namespace zbx
