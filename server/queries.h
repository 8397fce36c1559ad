// Status queries on the game port (getinfo, getstatus) and the heartbeats
// that tell master servers about this server. The rate limits follow the
// servers players trust: a leaky bucket per source address and one for every
// answer together, so a flood with forged sources cannot turn the server into
// an amplifier; a query refused by them costs no lock.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zbx {

struct ReceiveLoop;

inline constexpr int QUERY_BURST = 10;  // answers in a burst, per address and in all
inline constexpr std::int64_t QUERY_ADDRESS_MILLIS = 1000;  // then one a second per address
inline constexpr std::int64_t QUERY_GLOBAL_MILLIS = 100;    // and ten a second in all
inline constexpr int QUERY_BUCKETS = 16384;
// Masters forget a server they have not heard from for 15 minutes.
inline constexpr std::int64_t HEARTBEAT_MILLIS = 300'000;

// A leaky bucket: `level` answers in it, one leaking out per period.
struct QueryBucket {
  std::uint32_t address = 0;
  std::int64_t stamp = 0;
  int level = 0;
};

struct QueryLimiter {
  std::array<QueryBucket, QUERY_BUCKETS> addresses{};  // direct-mapped by address
  QueryBucket global;
};

// Whether an answer to `address` may go out at nowMillis (a steady clock);
// takes its place in both buckets when it may.
bool allow_query_answer(QueryLimiter& limiter, std::uint32_t address, std::int64_t nowMillis);

// The info string of this server's answers (world lock held), with the
// challenge first when there is one; `status` adds the settings a client
// shows or predicts with.
std::string server_info(const std::string& challenge, bool status);

// Answers a getinfo or getstatus datagram (other out-of-band words are
// ignored) within the rate limits. Takes the world lock only to answer.
void handle_query(ReceiveLoop& loop, const std::uint8_t* data, std::size_t length,
                  const sockaddr_in& from);

// The masters of a MASTER_SERVERS value ("host:port" separated by commas);
// names are looked up once. Entries that do not resolve are left out with one
// line each on standard error.
std::vector<sockaddr_in> resolve_masters(const char* list);

// Sends the heartbeat at start, when the server becomes empty or full, and
// every HEARTBEAT_MILLIS; called by the receive loop after every receive.
// The player count is looked at (under the world lock) only when it may have
// changed: a flood of queries takes no lock.
void heartbeat_tick(ReceiveLoop& loop, std::int64_t nowMillis, bool playersMayHaveChanged);

// Milliseconds of a steady clock.
std::int64_t steady_millis();

}  // namespace zbx
