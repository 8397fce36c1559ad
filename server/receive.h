// The receive loop's state and its handling of one datagram, apart from the
// socket's wait, so the datagram handling can be driven without a thread.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "protocol/protocol.h"
#include "queries.h"
#include "run.h"

namespace zbx {

// A broadcast thread and whether it has finished, so finished ones can be
// joined without waiting.
struct BroadcastHandle {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// State of one run of the receive loop; lives on its thread.
struct ReceiveLoop {
  explicit ReceiveLoop(ServerRun& serverRun) : run(serverRun) {}
  ServerRun& run;
  int socket = -1;
  JoinReply joinReply;  // filled once per run; each join adds its slot
  std::vector<BroadcastHandle> broadcasts;
  std::unique_ptr<QueryLimiter> limiter;  // made at the first query
  std::vector<sockaddr_in> masters;       // told about this server
  std::int64_t nextHeartbeat = 0;         // steady milliseconds
  int population = -1;                    // 0 empty, 1 some, 2 full; -1 not yet known
  std::int64_t lastSweep = 0;             // steady milliseconds
};

// The JoinReply fields of the current server settings, slot left 0.
JoinReply join_reply_template();
// Joins the broadcast threads that have ended; all of them when `all`.
void reap_broadcasts(ReceiveLoop& loop, bool all);
// Status queries (out-of-band datagrams) first; then joins, quits, key
// events and key states from `from`, and the time-out of silent clients.
// Takes the world lock (a query only when it is answered).
void handle_datagram(ReceiveLoop& loop, const std::uint8_t* data, std::size_t length,
                     const sockaddr_in& from);

}  // namespace zbx
