// The search with its UDP socket and the look-up of master names.
#include "browser/browser.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace zbx {

// A master's name looked up on a thread of its own: a slow name server must
// never stall the window. The thread shares the record and sets `done` and
// `found` under the mutex; `pending` is the browser's own.
struct MasterLookup {
  std::string text;  // "host:port" as the settings name it
  std::mutex mutex;
  bool done = false;
  std::vector<ServerAddress> found;
  bool pending = false;  // to be asked in this round once found
};

namespace {

constexpr std::size_t RECEIVE_SIZE = 2048;
constexpr int RECEIVES_PER_WAKE = 256;
constexpr std::size_t ADDRESSES_PER_NAME = 4;

bool split_host_port(std::string_view entry, std::string& host, std::string& port) {
  const std::size_t colon = entry.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= entry.size()) return false;
  host.assign(entry.substr(0, colon));
  port.assign(entry.substr(colon + 1));
  return true;
}

void look_up(const std::shared_ptr<MasterLookup>& job, const std::string& host,
             const std::string& port) {
  std::vector<ServerAddress> found;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) == 0) {
    for (const addrinfo* a = list; a != nullptr && found.size() < ADDRESSES_PER_NAME;
         a = a->ai_next) {
      sockaddr_in in{};
      std::memcpy(&in, a->ai_addr, std::min<std::size_t>(sizeof in, a->ai_addrlen));
      found.push_back({ntohl(in.sin_addr.s_addr), ntohs(in.sin_port)});
    }
    freeaddrinfo(list);
  }
  std::lock_guard<std::mutex> lock(job->mutex);
  job->found = std::move(found);
  job->done = true;
}

// Asks the masters whose names have been found since the last call.
void add_found_masters(Browser& b, BrowserClock::time_point now) {
  for (const auto& job : b.lookups) {
    if (!job->pending) continue;
    std::lock_guard<std::mutex> lock(job->mutex);
    if (!job->done) continue;
    job->pending = false;
    for (ServerAddress a : job->found) {
      browser_add_target(b.state, a, TargetKind::Master, 0, now);
    }
  }
}

void ask_master(Browser& b, std::string_view entry, BrowserClock::time_point now) {
  ServerAddress numeric;
  if (parse_server_address(entry, numeric)) {
    browser_add_target(b.state, numeric, TargetKind::Master, 0, now);
    return;
  }
  std::string host, port;
  if (!split_host_port(entry, host, port)) return;
  for (const auto& job : b.lookups) {
    if (job->text == entry) {
      job->pending = true;
      return;
    }
  }
  auto job = std::make_shared<MasterLookup>();
  job->text = std::string(entry);
  job->pending = true;
  try {
    std::thread([job, host, port] { look_up(job, host, port); }).detach();
  } catch (const std::system_error&) {
    return;  // no thread to spare: this master is left out
  }
  b.lookups.push_back(std::move(job));
}

void send_datagram(int socket, const OutgoingDatagram& d) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(d.to.address);
  to.sin_port = htons(d.to.port);
  // A lost query is a server not listed; there is nothing else to do.
  (void)sendto(socket, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// Takes in what has arrived; true when the list changed.
bool receive_waiting(Browser& b) {
  bool changed = false;
  std::uint8_t buffer[RECEIVE_SIZE];
  for (int i = 0; i < RECEIVES_PER_WAKE; ++i) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got = recvfrom(b.socket, buffer, sizeof buffer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) break;
    if (from.sin_family != AF_INET) continue;
    changed |=
        browser_take(b.state, buffer, static_cast<std::size_t>(got),
                     {ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)}, BrowserClock::now());
  }
  return changed;
}

}  // namespace

std::uint32_t broadcast_network_mask(std::uint32_t broadcast) {
  ifaddrs* list = nullptr;
  std::uint32_t mask = 0;
  bool found = false;
  if (getifaddrs(&list) == 0) {
    for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr || i->ifa_addr->sa_family != AF_INET)
        continue;
      sockaddr_in address{}, netmask{};
      std::memcpy(&address, i->ifa_addr, sizeof address);
      std::memcpy(&netmask, i->ifa_netmask, sizeof netmask);
      const std::uint32_t m = ntohl(netmask.sin_addr.s_addr);
      found = (ntohl(address.sin_addr.s_addr) | ~m) == broadcast;
      if (found) mask = m;
    }
    freeifaddrs(list);
  }
  if (found) return mask;
  // A broadcast address sets all its host bits: at most its trailing ones.
  int hostBits = 0;
  while (hostBits < 32 && ((broadcast >> hostBits) & 1u) != 0) ++hostBits;
  return hostBits >= 32 ? 0 : ~((std::uint32_t{1} << hostBits) - 1);
}

Browser::~Browser() { browser_close(*this); }

bool browser_refresh(Browser& b, const BrowserSettings& settings, std::string& error) {
  if (b.socket < 0) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
      error = std::strerror(errno);
      return false;
    }
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    b.socket = s;
  }
  receive_waiting(b);  // the last round's stragglers, before its challenges go
  const auto now = BrowserClock::now();
  browser_begin_round(b.state, now);
  in_addr broadcast{};
  if (!settings.broadcast.empty() &&
      inet_pton(AF_INET, settings.broadcast.c_str(), &broadcast) == 1) {
    const std::uint32_t address = ntohl(broadcast.s_addr);
    browser_add_broadcast(b.state, address, broadcast_network_mask(address), now);
  }
  std::string_view rest = settings.masters;
  for (std::size_t n = 0; !rest.empty() && n < BROWSER_MAX_MASTERS;) {
    const std::size_t comma = rest.find(',');
    const std::string_view entry = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (entry.empty()) continue;
    ask_master(b, entry, now);
    ++n;
  }
  add_found_masters(b, now);
  for (ServerAddress a : settings.recent) {
    browser_add_target(b.state, a, TargetKind::Server, FOUND_RECENT, now);
  }
  return true;
}

bool browser_poll(Browser& b, std::chrono::milliseconds budget) {
  if (b.socket < 0) return false;
  const auto end = BrowserClock::now() + budget;
  add_found_masters(b, BrowserClock::now());
  for (const OutgoingDatagram& d : browser_due(b.state, BrowserClock::now(), SENDS_PER_POLL)) {
    send_datagram(b.socket, d);
  }
  bool changed = receive_waiting(b);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - BrowserClock::now());
    if (left.count() <= 0) break;
    pollfd p{b.socket, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    changed |= receive_waiting(b);
  }
  return changed;
}

bool browser_busy(const Browser& b) {
  if (b.socket < 0) return false;
  if (browser_searching(b.state, BrowserClock::now())) return true;
  // A name found but not asked yet is asked at the next poll.
  return std::any_of(b.lookups.begin(), b.lookups.end(),
                     [](const auto& job) { return job->pending; });
}

void browser_close(Browser& b) {
  if (b.socket >= 0) close(b.socket);
  b.socket = -1;
  b.state.targets.clear();
  for (const auto& job : b.lookups) job->pending = false;
}

}  // namespace zbx
