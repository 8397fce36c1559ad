// Finding games: the servers on the local network (one getinfo broadcast to
// the eight ports from LAN_FIRST_PORT), those the master servers list and
// those this player joined lately, each asked twice and listed from its
// answer with the round trip as its ping, best ping first. Only answers from
// an address that was asked (for a broadcast: any address of its network, on
// one of the eight ports) that carry this round's challenge count.
//
// BrowserState and the browser_* functions on it are pure: datagrams and time
// come from the caller. A Browser adds the UDP socket and the look-up of
// master names. Everything is bounded: targets, servers, names. No lock: one
// thread uses a Browser; a master name is looked up on a thread of its own,
// which hands its result over under that look-up's mutex.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zbx {

inline constexpr int LAN_FIRST_PORT = 12346;  // the shipped server port
inline constexpr int LAN_PORT_COUNT = 8;
inline constexpr int QUERY_SENDS = 2;  // UDP loses datagrams: every target is asked twice
inline constexpr std::chrono::milliseconds RESEND_GAP{300};
// How long after the last query of a round an answer is still waited for.
inline constexpr std::chrono::milliseconds ANSWER_WAIT{1500};
inline constexpr std::size_t BROWSER_MAX_TARGETS = 1024;  // servers asked in one round
inline constexpr std::size_t BROWSER_MAX_SERVERS = 1024;  // servers listed
inline constexpr std::size_t BROWSER_MAX_MASTERS = 8;
inline constexpr std::size_t BROWSER_NAME_LIMIT = 40;  // bytes of a server name kept
inline constexpr int BROWSER_MAX_PLAYERS = 999;        // larger counts are not believed
inline constexpr std::size_t RECENT_SERVERS_MAX = 16;
// Datagrams sent by one browser_poll, so a long master list goes out paced.
inline constexpr std::size_t SENDS_PER_POLL = 64;

// An IPv4 address and port, both in host byte order.
struct ServerAddress {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  friend bool operator==(const ServerAddress&, const ServerAddress&) = default;
};
// "a.b.c.d:port" (dotted numbers, port 1..65535); false for anything else.
bool parse_server_address(std::string_view text, ServerAddress& out);
std::string format_server_address(ServerAddress where);
// The dotted address alone.
std::string format_ip(std::uint32_t address);

// Where a server was found (bits of ServerEntry::foundBy).
inline constexpr unsigned FOUND_LAN = 1;
inline constexpr unsigned FOUND_MASTER = 2;
inline constexpr unsigned FOUND_RECENT = 4;

// One server of the list, from its latest answer. What an answer did not
// tell soundly stays unknown (-1, or an empty name).
struct ServerEntry {
  ServerAddress where;
  std::string name;  // printable ASCII, at most BROWSER_NAME_LIMIT bytes
  int players = -1;
  int maxPlayers = -1;
  int gameType = -1;  // 0 single player, 1 lives and points, 2 deathmatch
  int ping = 0;       // milliseconds
  unsigned foundBy = 0;
};
// "Single player", "Lives and points", "Deathmatch"; "" when unknown.
const char* game_type_words(int gameType);

using BrowserClock = std::chrono::steady_clock;

enum class TargetKind { Server, Broadcast, Master };

// Something asked in this round: a server, one port of the broadcast, or a
// master (asked for its list).
struct QueryTarget {
  ServerAddress where;
  TargetKind kind = TargetKind::Server;
  unsigned foundBy = 0;
  int sent = 0;
  BrowserClock::time_point nextSend{};
  std::array<BrowserClock::time_point, QUERY_SENDS> sentAt{};
};

// The search and its list; the list outlives every round.
struct BrowserState {
  std::vector<QueryTarget> targets;  // this round's, at most BROWSER_MAX_TARGETS + the broadcast
  std::vector<ServerEntry> servers;  // best ping first, at most BROWSER_MAX_SERVERS
  // This round's challenges, one per send, fresh random words.
  std::array<std::string, QUERY_SENDS> challenges;
  std::uint32_t broadcast = 0;    // 0: no broadcast this round
  std::uint32_t networkMask = 0;  // of the broadcast's network
  BrowserClock::time_point lastSend{};
};

// A new round with fresh challenges: the targets are dropped and every
// server already listed is asked again; the list itself stays.
void browser_begin_round(BrowserState& state, BrowserClock::time_point now);
// Asks a server (or a master) in this round; false when it is asked already
// (its foundBy is then widened) or the round is full.
bool browser_add_target(BrowserState& state, ServerAddress where, TargetKind kind, unsigned foundBy,
                        BrowserClock::time_point now);
// The broadcast address's eight ports; answers come from the addresses of
// its network (networkMask 0: from any address).
void browser_add_broadcast(BrowserState& state, std::uint32_t broadcast, std::uint32_t networkMask,
                           BrowserClock::time_point now);
// The mask of the network whose broadcast address this is: that of the
// interface it belongs to, else a guess from the host bits it sets
// (255.255.255.255: 0, any address).
std::uint32_t broadcast_network_mask(std::uint32_t broadcast);

struct OutgoingDatagram {
  ServerAddress to;
  std::string bytes;
};
// Up to `limit` datagrams due at now, counted as sent.
std::vector<OutgoingDatagram> browser_due(BrowserState& state, BrowserClock::time_point now,
                                          std::size_t limit);
// One datagram that came from `from` at now; true when the list changed.
bool browser_take(BrowserState& state, const std::uint8_t* data, std::size_t length,
                  ServerAddress from, BrowserClock::time_point now);
// True while this round has queries to send or answers to wait for.
bool browser_searching(const BrowserState& state, BrowserClock::time_point now);

// --- The search with its socket ---

struct BrowserSettings {
  std::string broadcast;  // dotted address; empty: no broadcast
  std::string masters;    // "host:port" separated by commas
  std::vector<ServerAddress> recent;
};

struct MasterLookup;  // a name being looked up

struct Browser {
  BrowserState state;
  int socket = -1;  // non-blocking, SO_BROADCAST
  // Master names and their look-ups, kept across rounds: a name is looked
  // up once.
  std::vector<std::shared_ptr<MasterLookup>> lookups;
  Browser() = default;
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;
  ~Browser();
};

// Opens the socket when it is closed and begins a round: the broadcast, the
// masters, the recent servers. False, with the reason, without a socket.
bool browser_refresh(Browser& browser, const BrowserSettings& settings, std::string& error);
// Sends what is due and takes answers in for `budget` (it waits that long
// for them: the caller's pacing); true when the list changed. Without a
// socket it returns at once.
bool browser_poll(Browser& browser, std::chrono::milliseconds budget);
// True while the round goes on (a master name still being looked up too).
bool browser_busy(const Browser& browser);
// Closes the socket; the list stays for the next round.
void browser_close(Browser& browser);

// --- Servers joined lately ("address:port" a line, newest first) ---

// The sound lines of the file, at most RECENT_SERVERS_MAX; a missing or bad
// file gives what it holds that is sound (nothing, at worst).
std::vector<ServerAddress> read_recent_servers(const std::string& path);
// Puts `where` first in the file (without a repeat, at most
// RECENT_SERVERS_MAX lines), replacing it safely; false with the reason.
bool remember_server(const std::string& path, ServerAddress where, std::string& error);

}  // namespace zbx
