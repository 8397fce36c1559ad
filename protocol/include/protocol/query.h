// Out-of-band datagrams in the form of the Quake-3 family: the status queries
// that server lists and QStat send to a game port, their answers, and the
// master-server messages of dpmaster's protocol. A datagram that starts with
// four 0xFF bytes is one of these, never a game datagram. Pure byte handling:
// parsers never read past what they are given, keep at most the limits
// below, and builders never make a datagram longer than QUERY_MAX_DATAGRAM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zbx {

inline constexpr std::size_t OOB_PREFIX_SIZE = 4;
inline constexpr std::size_t QUERY_MAX_DATAGRAM = 1400;
inline constexpr std::size_t QUERY_MAX_CHALLENGE = 64;
// Limits of what a parser keeps from an answer.
inline constexpr std::size_t INFO_MAX_PAIRS = 64;
inline constexpr std::size_t INFO_MAX_KEY = 64;
inline constexpr std::size_t INFO_MAX_VALUE = 256;
inline constexpr std::size_t STATUS_MAX_PLAYERS = 64;

// The wire protocol's number in answers and master lists; raised only for a
// change that peers of today cannot follow.
inline constexpr int WIRE_PROTOCOL = 1;
inline constexpr char GAME_NAME[] = "Zorbix";
// The info key listing the protocol extensions a server speaks, separated by
// commas; peers that do not know the key ignore it.
inline constexpr char EXTENSIONS_KEY[] = "zbx_extensions";
inline constexpr char EXTENSION_COMPACT[] = "compact";
// What a Zorbix server says to a dpmaster-style master.
inline constexpr char HEARTBEAT_TAG[] = "DarkPlaces";

bool is_out_of_band(const std::uint8_t* data, std::size_t length);

enum class OobKind {
  Unknown,
  GetInfo,
  GetStatus,
  GetServers,
  Heartbeat,
  InfoResponse,
  StatusResponse,
  GetServersResponse,
};

// One out-of-band datagram taken apart.
struct OobMessage {
  OobKind kind = OobKind::Unknown;
  // getinfo / getstatus: the challenge word, cut to QUERY_MAX_CHALLENGE
  // bytes; empty when none was sent. challengeSafe is false when it holds a
  // byte that must not be echoed (not printable, a backslash or a quote).
  std::string challenge;
  bool challengeSafe = true;
  // The answers: the bytes after the command word (and its newline).
  std::size_t bodyOffset = 0;
};
OobMessage parse_out_of_band(const std::uint8_t* data, std::size_t length);

using InfoPairs = std::vector<std::pair<std::string, std::string>>;

// value with every byte that would break an info string or a player line
// (backslash, quote, control bytes) replaced by '_'.
std::string info_safe(std::string_view value);
// Appends "\key\value" (both made safe) when the whole string stays within
// limit bytes; false, with nothing appended, otherwise.
bool info_append(std::string& info, std::string_view key, std::string_view value,
                 std::size_t limit);
// Reads "\key\value..." from text up to its end or a newline; *consumed (if
// given) is where it stopped. Keeps at most INFO_MAX_PAIRS pairs, each cut to
// INFO_MAX_KEY / INFO_MAX_VALUE bytes.
InfoPairs parse_info(std::string_view text, std::size_t* consumed = nullptr);
// The value of key, or nullptr.
const std::string* info_find(const InfoPairs& info, std::string_view key);

struct StatusPlayer {
  int score = 0;
  int ping = 0;
  std::string name;
};

// Datagrams a server sends: the header, the info string and (status) one line
// "score ping \"name\"" per player, as many as fit in QUERY_MAX_DATAGRAM.
// The info string is built by the caller with info_append.
std::string info_response(const std::string& info);
std::string status_response(const std::string& info, const std::vector<StatusPlayer>& players);
// "heartbeat DarkPlaces\n" for the masters.
std::string heartbeat_datagram();

// Datagrams a client sends. A query's length is never 1, 16 or 20, which a
// server of the first games would take for a game datagram.
std::string query_datagram(OobKind kind, std::string_view challenge);
std::string getservers_datagram();

// An answer's body parsed (body = data + message.bodyOffset).
struct StatusAnswer {
  InfoPairs info;
  std::vector<StatusPlayer> players;
};
StatusAnswer parse_info_body(const std::uint8_t* body, std::size_t length);
StatusAnswer parse_status_body(const std::uint8_t* body, std::size_t length);

// One server of a master's list (host byte order); address or port 0 are
// never kept.
struct MasterEntry {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};
// Appends the entries of one getserversResponse body, at most max_entries in
// all; *end is set when the list's "\EOT" terminator was seen.
void parse_getservers_body(const std::uint8_t* body, std::size_t length,
                           std::vector<MasterEntry>& out, std::size_t max_entries, bool* end);
// A getserversResponse body for entries (tests and stand-in masters).
std::string getservers_response(const std::vector<MasterEntry>& entries, bool end);

}  // namespace zbx
