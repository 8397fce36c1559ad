// Answers as a client receives them: infoResponse, statusResponse and
// getserversResponse datagrams of any shape are taken apart within the
// parsers' limits, and what a parser keeps is safe to show and to echo.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/query.h"
#include "testing/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zbx;
  const OobMessage m = parse_out_of_band(data, size);
  ZBX_FUZZ_CHECK(m.bodyOffset <= size);
  ZBX_FUZZ_CHECK(m.challenge.size() <= QUERY_MAX_CHALLENGE);
  const std::uint8_t* body = data + m.bodyOffset;
  const std::size_t length = size - m.bodyOffset;
  // Every parser is tried on every input, whatever its command word says.
  const StatusAnswer status = parse_status_body(body, length);
  ZBX_FUZZ_CHECK(status.info.size() <= INFO_MAX_PAIRS);
  ZBX_FUZZ_CHECK(status.players.size() <= STATUS_MAX_PLAYERS);
  for (const auto& [key, value] : status.info) {
    ZBX_FUZZ_CHECK(key.size() <= INFO_MAX_KEY && value.size() <= INFO_MAX_VALUE);
  }
  for (const StatusPlayer& p : status.players) ZBX_FUZZ_CHECK(p.name.size() <= INFO_MAX_VALUE);
  parse_info_body(body, length);
  std::vector<MasterEntry> servers;
  bool end = false;
  parse_getservers_body(body, length, servers, 100, &end);
  ZBX_FUZZ_CHECK(servers.size() <= 100);
  for (const MasterEntry& e : servers) ZBX_FUZZ_CHECK(e.address != 0 && e.port != 0);

  // What was kept goes back out within one datagram, and a safe challenge
  // comes back unchanged from a query.
  std::string info;
  for (const auto& [key, value] : status.info) info_append(info, key, value, QUERY_MAX_DATAGRAM);
  ZBX_FUZZ_CHECK(status_response(info, status.players).size() <= QUERY_MAX_DATAGRAM);
  if (m.challengeSafe) {
    const std::string q = query_datagram(OobKind::GetInfo, m.challenge);
    const OobMessage back =
        parse_out_of_band(reinterpret_cast<const std::uint8_t*>(q.data()), q.size());
    ZBX_FUZZ_CHECK(back.kind == OobKind::GetInfo && back.challenge == m.challenge);
    ZBX_FUZZ_CHECK(q.size() != 1 && q.size() != 16 && q.size() != 20);
  }
  return 0;
}
