// One run of the server, from ServerThread's start to its end: the client
// table and the admissions, apart from the per-game World. ServerThread owns
// it and hands it to its threads, which all end before it does.
#pragma once

#include <netinet/in.h>
#include <sys/time.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "compact/compact.h"
#include "protocol/zbx_types.h"

namespace zbx {

// A human client's address; entry k belongs to player slot k and is in use
// while is_client(k) (world.h).
struct ClientSlot {
  sockaddr_in peer{};
  timeval lastHeard{};
  std::uint8_t heardAgain = 0;  // 1 once a datagram came after the join
};

struct ServerRun {
  explicit ServerRun(std::atomic<int>& stopFlag) : stop(stopFlag) {}
  std::atomic<int>& stop;                         // the starter's flag; the server sets it too
  std::array<ClientSlot, MAX_PLAYERS> clients{};  // world lock
  // Admissions per player slot: each join into a slot counts one up, so the
  // broadcast thread of an earlier admission (a rejoin from the same address
  // into the same slot) ends at its next cycle instead of serving beside the
  // new one. World lock.
  std::array<unsigned, MAX_PLAYERS> generation{};
  // The compact stream of each slot whose client asked for it at its join
  // (empty: the stream of the first games). World lock.
  std::array<std::unique_ptr<CompactEncoder>, MAX_PLAYERS> compact;
};

}  // namespace zbx
