// Out-of-band queries and answers, and the master-server messages.
#include "protocol/query.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zbx {

namespace {

constexpr char PREFIX[] = "\xff\xff\xff\xff";

struct Command {
  const char* word;
  OobKind kind;
};
constexpr Command COMMANDS[] = {
    {"getinfo", OobKind::GetInfo},
    {"getstatus", OobKind::GetStatus},
    {"getservers", OobKind::GetServers},
    {"heartbeat", OobKind::Heartbeat},
    {"infoResponse", OobKind::InfoResponse},
    {"statusResponse", OobKind::StatusResponse},
    {"getserversResponse", OobKind::GetServersResponse},
};

const char* command_word(OobKind kind) {
  for (const Command& c : COMMANDS) {
    if (c.kind == kind) return c.word;
  }
  return "";
}

bool blank(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0; }

// A byte that may stand in an info string or a quoted name.
bool info_byte(unsigned char c) { return c >= 0x20 && c != 0x7F && c != '\\' && c != '"'; }

}  // namespace

bool is_out_of_band(const std::uint8_t* data, std::size_t length) {
  return data != nullptr && length >= OOB_PREFIX_SIZE && data[0] == 0xFF && data[1] == 0xFF &&
         data[2] == 0xFF && data[3] == 0xFF;
}

OobMessage parse_out_of_band(const std::uint8_t* data, std::size_t length) {
  OobMessage m;
  if (!is_out_of_band(data, length)) return m;
  std::size_t pos = OOB_PREFIX_SIZE;
  // The word runs to a blank, or to the backslash a server list starts with.
  std::size_t end = pos;
  while (end < length && !blank(data[end]) && data[end] != '\\') ++end;
  const std::string_view word(reinterpret_cast<const char*>(data + pos), end - pos);
  for (const Command& c : COMMANDS) {
    if (word == c.word) m.kind = c.kind;
  }
  if (m.kind == OobKind::Unknown) return m;
  pos = end;
  if (m.kind == OobKind::InfoResponse || m.kind == OobKind::StatusResponse) {
    if (pos < length && data[pos] == '\n') ++pos;
    m.bodyOffset = pos;
    return m;
  }
  m.bodyOffset = pos;
  if (m.kind != OobKind::GetInfo && m.kind != OobKind::GetStatus) return m;
  while (pos < length && (data[pos] == ' ' || data[pos] == '\t')) ++pos;
  end = pos;
  while (end < length && !blank(data[end])) ++end;
  const std::size_t kept = std::min(end - pos, QUERY_MAX_CHALLENGE);
  m.challenge.assign(reinterpret_cast<const char*>(data + pos), kept);
  for (unsigned char c : m.challenge) {
    if (!info_byte(c) || c == ' ') m.challengeSafe = false;
  }
  return m;
}

std::string info_safe(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (!info_byte(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

bool info_append(std::string& info, std::string_view key, std::string_view value,
                 std::size_t limit) {
  const std::size_t grow = 2 + key.size() + value.size();
  if (info.size() + grow > limit) return false;
  info += '\\';
  info += info_safe(key);
  info += '\\';
  info += info_safe(value);
  return true;
}

InfoPairs parse_info(std::string_view text, std::size_t* consumed) {
  InfoPairs pairs;
  std::size_t pos = 0;
  // Each field runs from a backslash to the next backslash, newline or end.
  auto field = [&](std::size_t keep) {
    std::string out;
    ++pos;  // the backslash
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != '\\' && text[pos] != '\n') ++pos;
    out.assign(text.substr(start, std::min(pos - start, keep)));
    return out;
  };
  while (pos < text.size() && text[pos] == '\\') {
    std::string key = field(INFO_MAX_KEY);
    if (pos >= text.size() || text[pos] != '\\') break;  // a key without its value
    std::string value = field(INFO_MAX_VALUE);
    if (pairs.size() < INFO_MAX_PAIRS) pairs.emplace_back(std::move(key), std::move(value));
  }
  if (consumed != nullptr) *consumed = pos;
  return pairs;
}

const std::string* info_find(const InfoPairs& info, std::string_view key) {
  for (const auto& [k, v] : info) {
    if (k == key) return &v;
  }
  return nullptr;
}

std::string info_response(const std::string& info) {
  std::string out = std::string(PREFIX) + "infoResponse\n" + info;
  if (out.size() > QUERY_MAX_DATAGRAM) out.resize(QUERY_MAX_DATAGRAM);
  return out;
}

std::string status_response(const std::string& info, const std::vector<StatusPlayer>& players) {
  std::string out = std::string(PREFIX) + "statusResponse\n" + info + "\n";
  if (out.size() > QUERY_MAX_DATAGRAM) {
    out.resize(QUERY_MAX_DATAGRAM - 1);
    out += '\n';
    return out;
  }
  for (const StatusPlayer& p : players) {
    const std::string line =
        std::to_string(p.score) + " " + std::to_string(p.ping) + " \"" + info_safe(p.name) + "\"\n";
    if (out.size() + line.size() > QUERY_MAX_DATAGRAM) break;
    out += line;
  }
  return out;
}

std::string heartbeat_datagram() {
  return std::string(PREFIX) + "heartbeat " + HEARTBEAT_TAG + "\n";
}

std::string query_datagram(OobKind kind, std::string_view challenge) {
  std::string out = std::string(PREFIX) + command_word(kind);
  std::string word = info_safe(challenge.substr(0, QUERY_MAX_CHALLENGE));
  std::replace(word.begin(), word.end(), ' ', '_');
  if (!word.empty()) out += " " + word;
  // 1, 16 and 20 bytes are game datagrams to a server of the first games.
  while (out.size() == 16 || out.size() == 20 || out.size() == 1) out += '\n';
  return out;
}

std::string getservers_datagram() {
  return std::string(PREFIX) + "getservers " + GAME_NAME + " " + std::to_string(WIRE_PROTOCOL) +
         " empty full";
}

namespace {

StatusAnswer parse_answer(const std::uint8_t* body, std::size_t length, bool players) {
  StatusAnswer a;
  if (body == nullptr) return a;
  const std::string_view text(reinterpret_cast<const char*>(body), length);
  std::size_t pos = 0;
  a.info = parse_info(text, &pos);
  if (!players) return a;
  // Lines "score ping \"name\"" after the info string's newline.
  while (pos < text.size() && a.players.size() < STATUS_MAX_PLAYERS) {
    if (text[pos] == '\n') ++pos;
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    const std::string line(text.substr(pos, end - pos));
    pos = end;
    if (line.empty()) continue;
    char* rest = nullptr;
    const long score = std::strtol(line.c_str(), &rest, 10);
    const long ping = std::strtol(rest, &rest, 10);
    const char* open = std::strchr(rest, '"');
    if (open == nullptr || rest == line.c_str()) continue;
    const char* close = std::strchr(open + 1, '"');
    const std::size_t name_length =
        close != nullptr ? static_cast<std::size_t>(close - open - 1) : std::strlen(open + 1);
    StatusPlayer p;
    p.score = static_cast<int>(std::clamp(score, -2147483647L, 2147483647L));
    p.ping = static_cast<int>(std::clamp(ping, 0L, 999999L));
    p.name.assign(open + 1, std::min(name_length, INFO_MAX_VALUE));
    a.players.push_back(std::move(p));
  }
  return a;
}

}  // namespace

StatusAnswer parse_info_body(const std::uint8_t* body, std::size_t length) {
  return parse_answer(body, length, false);
}

StatusAnswer parse_status_body(const std::uint8_t* body, std::size_t length) {
  return parse_answer(body, length, true);
}

void parse_getservers_body(const std::uint8_t* body, std::size_t length,
                           std::vector<MasterEntry>& out, std::size_t max_entries, bool* end) {
  if (end != nullptr) *end = false;
  if (body == nullptr) return;
  std::size_t pos = 0;
  while (pos < length && body[pos] == '\\') {
    ++pos;
    // "\EOT\0\0\0" ends the list; an entry for 69.79.84.0 would start the
    // same way, but its port 0 makes it no server anyway.
    const std::size_t left = length - pos;
    if (left >= 3 && std::memcmp(body + pos, "EOT", 3) == 0 &&
        (left < 6 || (body[pos + 3] == 0 && body[pos + 4] == 0 && body[pos + 5] == 0))) {
      if (end != nullptr) *end = true;
      return;
    }
    if (left < 6) return;
    MasterEntry e;
    e.address = (std::uint32_t{body[pos]} << 24) | (std::uint32_t{body[pos + 1]} << 16) |
                (std::uint32_t{body[pos + 2]} << 8) | std::uint32_t{body[pos + 3]};
    e.port = static_cast<std::uint16_t>((body[pos + 4] << 8) | body[pos + 5]);
    pos += 6;
    if (e.address != 0 && e.port != 0 && out.size() < max_entries) out.push_back(e);
  }
}

std::string getservers_response(const std::vector<MasterEntry>& entries, bool end) {
  std::string out = std::string(PREFIX) + "getserversResponse";
  for (const MasterEntry& e : entries) {
    out += '\\';
    for (int shift = 24; shift >= 0; shift -= 8)
      out += static_cast<char>((e.address >> shift) & 0xFF);
    out += static_cast<char>(e.port >> 8);
    out += static_cast<char>(e.port & 0xFF);
  }
  if (end) out += std::string("\\EOT\0\0\0", 7);
  return out;
}

}  // namespace zbx
