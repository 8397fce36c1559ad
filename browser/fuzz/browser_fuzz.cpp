// Datagrams of any shape from any source, fed into a search that asked a
// server, a broadcast and a master: whatever comes, the list stays bounded,
// sorted best ping first, free of repeats and shows only sound values. The
// same bytes as a recent-servers file are read within its limits.
#include <algorithm>
#include <cstdint>
#include <string>

#include "browser/browser.h"
#include "protocol/query.h"
#include "testing/files.h"
#include "testing/fuzz.h"

namespace {

using namespace zbx;

constexpr ServerAddress SERVER{0x7F000001, 23456};
constexpr ServerAddress MASTER{0x7F000001, 27950};
constexpr std::uint32_t BROADCAST = 0x7FFFFFFF;

void check(const BrowserState& s) {
  ZBX_FUZZ_CHECK(s.servers.size() <= BROWSER_MAX_SERVERS);
  ZBX_FUZZ_CHECK(s.targets.size() <= BROWSER_MAX_TARGETS + LAN_PORT_COUNT + BROWSER_MAX_MASTERS);
  for (std::size_t i = 0; i < s.servers.size(); ++i) {
    const ServerEntry& e = s.servers[i];
    ZBX_FUZZ_CHECK(e.name.size() <= BROWSER_NAME_LIMIT);
    for (char c : e.name) ZBX_FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
    ZBX_FUZZ_CHECK(e.players >= -1 && e.players <= BROWSER_MAX_PLAYERS);
    ZBX_FUZZ_CHECK(e.maxPlayers >= -1 && e.maxPlayers <= BROWSER_MAX_PLAYERS);
    ZBX_FUZZ_CHECK(e.maxPlayers < 0 || e.players <= e.maxPlayers);
    ZBX_FUZZ_CHECK(e.gameType >= -1 && e.gameType <= 2 && e.ping >= 0);
    if (i > 0) ZBX_FUZZ_CHECK(s.servers[i - 1].ping <= e.ping);
    for (std::size_t j = 0; j < i; ++j) ZBX_FUZZ_CHECK(!(s.servers[j].where == e.where));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string recentPath = test::fuzz_temp_path("recent");
  test::write_file(recentPath, std::string(reinterpret_cast<const char*>(data), size));
  const auto recent = read_recent_servers(recentPath);
  ZBX_FUZZ_CHECK(recent.size() <= RECENT_SERVERS_MAX);
  for (const ServerAddress& a : recent) ZBX_FUZZ_CHECK(a.address != 0 && a.port != 0);

  BrowserState s;
  auto now = BrowserClock::now();
  browser_begin_round(s, now);
  browser_add_target(s, SERVER, TargetKind::Server, FOUND_RECENT, now);
  browser_add_target(s, MASTER, TargetKind::Master, 0, now);
  browser_add_broadcast(s, BROADCAST, 0xFF000000, now);
  browser_due(s, now, SENDS_PER_POLL);
  // Records: source, form, time step, length (two bytes), then the bytes.
  std::size_t pos = 0;
  while (pos + 5 <= size) {
    const std::uint8_t source = data[pos], form = data[pos + 1];
    now += std::chrono::milliseconds(data[pos + 2]);
    const std::size_t length =
        std::min<std::size_t>((data[pos + 3] << 8) | data[pos + 4], size - pos - 5);
    const std::string bytes(reinterpret_cast<const char*>(data + pos + 5), length);
    pos += 5 + length;
    ServerAddress from = SERVER;
    if (source % 4 == 1)
      from = {0x7F000000u | (source * 2654435761u >> 8), std::uint16_t(12346 + (source >> 5))};
    if (source % 4 == 2) from = MASTER;
    if (source % 4 == 3) from = {source * 2654435761u, static_cast<std::uint16_t>(form * 257)};
    // Most answers carry this round's challenge, so that the parts after
    // it are reached.
    std::string datagram = bytes;
    if (form % 4 != 0) {
      datagram = std::string(form % 4 == 3 ? "\xff\xff\xff\xffstatusResponse\n"
                                           : "\xff\xff\xff\xffinfoResponse\n") +
                 "\\challenge\\" + s.challenges[form % 2] + bytes;
    }
    browser_take(s, reinterpret_cast<const std::uint8_t*>(datagram.data()), datagram.size(), from,
                 now);
    if (form & 0x80) browser_due(s, now, SENDS_PER_POLL);
    if (form == 0xFF) browser_begin_round(s, now);
    check(s);
  }
  return 0;
}
