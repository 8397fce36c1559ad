// Answers to status queries, their rate limits, and the master heartbeats.
#include "queries.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <time.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "protocol/query.h"
#include "receive.h"
#include "startup/settings.h"
#include "world.h"

namespace zbx {

namespace {

// Lets out what leaked since the bucket's stamp; a clock that went back
// leaks nothing.
void leak(QueryBucket& b, std::int64_t now, std::int64_t period) {
  if (now <= b.stamp) return;
  const std::int64_t leaked = (now - b.stamp) / period;
  if (leaked >= b.level) {
    b.level = 0;
    b.stamp = now;
  } else {
    b.level -= static_cast<int>(leaked);
    b.stamp += leaked * period;
  }
}

bool room(QueryBucket& b, std::int64_t now, std::int64_t period) {
  leak(b, now, period);
  return b.level < QUERY_BURST;
}

std::string number(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

bool send_text(int socket, const std::string& text, const sockaddr_in& to) {
  return sendto(socket, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                sizeof to) == static_cast<ssize_t>(text.size());
}

// 0 empty, 2 full, 1 in between: a master hears about the first two at once.
int population() {
  std::lock_guard<std::mutex> lock(world_lock());
  if (g_world.humanCount == 0) return 0;
  return g_world.humanCount >= g_server_settings.MAX_NUMBER_OF_PLAYERS ? 2 : 1;
}

}  // namespace

std::int64_t steady_millis() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

bool allow_query_answer(QueryLimiter& limiter, std::uint32_t address, std::int64_t now) {
  // A bucket that another address held starts empty: the global bucket still
  // caps what a flood from many addresses gets.
  QueryBucket& mine = limiter.addresses[(address * 2654435761u) % QUERY_BUCKETS];
  if (mine.address != address) mine = QueryBucket{address, now, 0};
  if (!room(mine, now, QUERY_ADDRESS_MILLIS) || !room(limiter.global, now, QUERY_GLOBAL_MILLIS)) {
    return false;
  }
  ++mine.level;
  ++limiter.global.level;
  return true;
}

std::string server_info(const std::string& challenge, bool status) {
  const ServerSettings& s = g_server_settings;
  int clients = 0;
  for (const auto& p : g_world.players) clients += p ? 1 : 0;
  const JoinReply join = join_reply_template();
  std::string info;
  const auto add = [&info](std::string_view key, const std::string& value) {
    info_append(info, key, value, QUERY_MAX_DATAGRAM);
  };
  if (!challenge.empty()) add("challenge", challenge);
  add("hostname", s.SERVER_NAME);
  add("gamename", GAME_NAME);
  add("protocol", std::to_string(WIRE_PROTOCOL));
  add("clients", std::to_string(clients));
  add("g_humanplayers", std::to_string(g_world.humanCount));
  add("sv_maxclients", std::to_string(s.MAX_NUMBER_OF_PLAYERS));
  add("gametype", std::to_string(join.gameType));
  add("mapname", "cube" + number(s.WORLD_WIDTH));
  add(EXTENSIONS_KEY, s.COMPACT_SNAPSHOTS != 0 ? EXTENSION_COMPACT : "");
  if (status) {
    add("WORLD_WIDTH", number(s.WORLD_WIDTH));
    add("ROTATION_SPEED", number(s.ROTATION_SPEED));
    add("ACCELERATION_CONSTANT", number(s.ACCELERATION_CONSTANT));
    add("DECELERATION_CONSTANT", number(s.DECELERATION_CONSTANT));
    add("SHOT_SPEED", number(s.SHOT_SPEED));
    add("NET_SLEEP_TIME", std::to_string(s.NET_SLEEP_TIME));
    add("GAME_SLEEP", std::to_string(s.GAME_SLEEP));
    add("MAX_KILLS", std::to_string(s.MAX_KILLS));
    add("START_LIVES", std::to_string(s.START_LIVES));
  }
  return info;
}

void handle_query(ReceiveLoop& loop, const std::uint8_t* data, std::size_t length,
                  const sockaddr_in& from) {
  const OobMessage m = parse_out_of_band(data, length);
  if (m.kind != OobKind::GetInfo && m.kind != OobKind::GetStatus) return;
  // A challenge that cannot be echoed as it came gets no answer at all.
  if (!m.challengeSafe) return;
  if (!loop.limiter) loop.limiter = std::make_unique<QueryLimiter>();
  if (!allow_query_answer(*loop.limiter, ntohl(from.sin_addr.s_addr), steady_millis())) return;
  std::string answer;
  {
    std::lock_guard<std::mutex> lock(world_lock());
    if (m.kind == OobKind::GetInfo) {
      answer = info_response(server_info(m.challenge, false));
    } else {
      std::vector<StatusPlayer> players;
      for (const auto& ship : g_world.players) {
        if (ship)
          players.push_back(
              {ship->score, 0, std::string(ship->name, strnlen(ship->name, sizeof ship->name))});
      }
      answer = status_response(server_info(m.challenge, true), players);
    }
  }
  send_text(loop.socket, answer, from);
}

std::vector<sockaddr_in> resolve_masters(const char* list) {
  std::vector<sockaddr_in> out;
  std::string_view rest = list != nullptr ? list : "";
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string entry(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (entry.empty()) continue;
    const std::size_t colon = entry.rfind(':');
    const std::string host = entry.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : entry.substr(colon + 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (port.empty() || host.empty() ||
        getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
      std::fprintf(stderr, "zbx3d: master server %s: not a host:port that resolves, left out\n",
                   entry.c_str());
      continue;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    out.push_back(address);
  }
  return out;
}

void heartbeat_tick(ReceiveLoop& loop, std::int64_t now, bool playersMayHaveChanged) {
  if (loop.masters.empty()) return;
  bool news = false;
  if (playersMayHaveChanged || loop.population < 0) {
    const int people = population();
    news = people != loop.population && people != 1;
    loop.population = people;
  }
  if (!news && now < loop.nextHeartbeat) return;
  const std::string beat = heartbeat_datagram();
  for (const sockaddr_in& master : loop.masters) send_text(loop.socket, beat, master);
  loop.nextHeartbeat = now + HEARTBEAT_MILLIS;
}

}  // namespace zbx
