// The search without its socket: what to ask whom and when, and which
// answers count.
#include <algorithm>
#include <cstdio>
#include <random>
#include <tuple>

#include "browser/browser.h"
#include "protocol/query.h"

namespace zbx {

namespace {

constexpr int MAX_PING = 99999;

// 64 random bits as 16 hex digits; never empty, so a server that drops the
// challenge of its answer can never match.
std::string fresh_challenge() {
  std::random_device random;
  const std::uint64_t bits = (std::uint64_t{random()} << 32) | random();
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

// A count as a server tells it: decimal digits only, at most `limit`.
int sound_count(const std::string* text, int limit) {
  if (text == nullptr || text->empty() || text->size() > 6) return -1;
  int value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= limit ? value : -1;
}

std::string shown_name(const std::string* text) {
  if (text == nullptr) return {};
  std::string out = text->substr(0, BROWSER_NAME_LIMIT);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) c = '?';
  }
  return out;
}

bool before(const ServerEntry& a, const ServerEntry& b) {
  return std::tie(a.ping, a.where.address, a.where.port) <
         std::tie(b.ping, b.where.address, b.where.port);
}

QueryTarget* find_target(BrowserState& state, ServerAddress where, TargetKind kind) {
  for (QueryTarget& t : state.targets) {
    if (t.kind == kind && t.where == where) return &t;
  }
  return nullptr;
}

// The target an answer from `from` belongs to: the server itself, or the
// broadcast when `from` is of its network and on one of the eight ports.
// A broadcast is answered from each server's own address, never from the
// broadcast address.
QueryTarget* asked_target(BrowserState& state, ServerAddress from) {
  if (QueryTarget* t = find_target(state, from, TargetKind::Server)) return t;
  if (state.broadcast == 0 ||
      (from.address & state.networkMask) != (state.broadcast & state.networkMask)) {
    return nullptr;
  }
  if (from.port < LAN_FIRST_PORT || from.port >= LAN_FIRST_PORT + LAN_PORT_COUNT) return nullptr;
  return find_target(state, {state.broadcast, from.port}, TargetKind::Broadcast);
}

void take_master_list(BrowserState& state, const std::uint8_t* body, std::size_t length,
                      ServerAddress from, BrowserClock::time_point now) {
  if (find_target(state, from, TargetKind::Master) == nullptr) return;
  const std::size_t limit = BROWSER_MAX_TARGETS + LAN_PORT_COUNT + BROWSER_MAX_MASTERS;
  std::vector<MasterEntry> list;
  parse_getservers_body(body, length, list, limit - std::min(limit, state.targets.size()), nullptr);
  for (const MasterEntry& e : list) {
    browser_add_target(state, {e.address, e.port}, TargetKind::Server, FOUND_MASTER, now);
  }
}

// The entry moved to where its ping puts it.
void place(std::vector<ServerEntry>& servers, std::size_t index) {
  ServerEntry e = std::move(servers[index]);
  servers.erase(servers.begin() + static_cast<std::ptrdiff_t>(index));
  servers.insert(std::upper_bound(servers.begin(), servers.end(), e, before), std::move(e));
}

}  // namespace

const char* game_type_words(int gameType) {
  switch (gameType) {
    case 0:
      return "Single player";
    case 1:
      return "Lives and points";
    case 2:
      return "Deathmatch";
    default:
      return "";
  }
}

void browser_begin_round(BrowserState& state, BrowserClock::time_point now) {
  for (std::string& c : state.challenges) c = fresh_challenge();
  state.targets.clear();
  state.broadcast = 0;
  state.networkMask = 0;
  for (const ServerEntry& e : state.servers) {
    browser_add_target(state, e.where, TargetKind::Server, e.foundBy, now);
  }
}

bool browser_add_target(BrowserState& state, ServerAddress where, TargetKind kind, unsigned foundBy,
                        BrowserClock::time_point now) {
  if (where.address == 0 || where.port == 0) return false;
  if (QueryTarget* t = find_target(state, where, kind)) {
    t->foundBy |= foundBy;
    return false;
  }
  std::size_t same = 0;
  for (const QueryTarget& t : state.targets) same += t.kind == kind ? 1 : 0;
  const std::size_t limit = kind == TargetKind::Server      ? BROWSER_MAX_TARGETS
                            : kind == TargetKind::Broadcast ? LAN_PORT_COUNT
                                                            : BROWSER_MAX_MASTERS;
  if (same >= limit) return false;
  QueryTarget t;
  t.where = where;
  t.kind = kind;
  t.foundBy = foundBy;
  t.nextSend = now;
  state.targets.push_back(t);
  return true;
}

void browser_add_broadcast(BrowserState& state, std::uint32_t broadcast, std::uint32_t networkMask,
                           BrowserClock::time_point now) {
  if (broadcast == 0) return;
  state.broadcast = broadcast;
  state.networkMask = networkMask;
  for (int i = 0; i < LAN_PORT_COUNT; ++i) {
    browser_add_target(state, {broadcast, static_cast<std::uint16_t>(LAN_FIRST_PORT + i)},
                       TargetKind::Broadcast, FOUND_LAN, now);
  }
}

std::vector<OutgoingDatagram> browser_due(BrowserState& state, BrowserClock::time_point now,
                                          std::size_t limit) {
  std::vector<OutgoingDatagram> out;
  for (QueryTarget& t : state.targets) {
    if (out.size() >= limit) break;
    if (t.sent >= QUERY_SENDS || t.nextSend > now) continue;
    out.push_back({t.where, t.kind == TargetKind::Master
                                ? getservers_datagram()
                                : query_datagram(OobKind::GetInfo, state.challenges[t.sent])});
    t.sentAt[t.sent] = now;
    ++t.sent;
    t.nextSend = now + RESEND_GAP;
    state.lastSend = now;
  }
  return out;
}

bool browser_take(BrowserState& state, const std::uint8_t* data, std::size_t length,
                  ServerAddress from, BrowserClock::time_point now) {
  const OobMessage m = parse_out_of_band(data, length);
  const std::uint8_t* body = data + m.bodyOffset;
  const std::size_t bodyLength = length - m.bodyOffset;
  if (m.kind == OobKind::GetServersResponse) {
    take_master_list(state, body, bodyLength, from, now);
    return false;
  }
  if (m.kind != OobKind::InfoResponse && m.kind != OobKind::StatusResponse) return false;
  const StatusAnswer a = m.kind == OobKind::InfoResponse ? parse_info_body(body, bodyLength)
                                                         : parse_status_body(body, bodyLength);
  const std::string* challenge = info_find(a.info, "challenge");
  if (challenge == nullptr) return false;
  int send = -1;
  for (int k = 0; k < QUERY_SENDS; ++k) {
    if (!state.challenges[k].empty() && *challenge == state.challenges[k]) send = k;
  }
  const QueryTarget* asked = asked_target(state, from);
  if (send < 0 || asked == nullptr || asked->sent <= send) return false;
  // Another game, or a Zorbix that speaks another protocol: nothing to join.
  const std::string* game = info_find(a.info, "gamename");
  const std::string* protocol = info_find(a.info, "protocol");
  if ((game != nullptr && *game != GAME_NAME) ||
      (protocol != nullptr && *protocol != std::to_string(WIRE_PROTOCOL))) {
    return false;
  }

  auto found = std::find_if(state.servers.begin(), state.servers.end(),
                            [&](const ServerEntry& e) { return e.where == from; });
  if (found == state.servers.end()) {
    if (state.servers.size() >= BROWSER_MAX_SERVERS) return false;
    state.servers.push_back(ServerEntry{});
    found = state.servers.end() - 1;
  }
  ServerEntry& e = *found;
  e.where = from;
  e.foundBy |= asked->foundBy;
  e.name = shown_name(info_find(a.info, "hostname"));
  e.maxPlayers = sound_count(info_find(a.info, "sv_maxclients"), BROWSER_MAX_PLAYERS);
  e.players = sound_count(info_find(a.info, "clients"), BROWSER_MAX_PLAYERS);
  if (e.maxPlayers >= 0 && e.players > e.maxPlayers) e.players = -1;
  e.gameType = sound_count(info_find(a.info, "gametype"), 2);
  const auto trip =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - asked->sentAt[send]).count();
  e.ping = static_cast<int>(std::clamp<long long>(trip, 0, MAX_PING));
  place(state.servers, static_cast<std::size_t>(found - state.servers.begin()));
  return true;
}

bool browser_searching(const BrowserState& state, BrowserClock::time_point now) {
  for (const QueryTarget& t : state.targets) {
    if (t.sent < QUERY_SENDS) return true;
  }
  return !state.targets.empty() && now < state.lastSend + ANSWER_WAIT;
}

}  // namespace zbx
