// Server addresses as text, and the file of the servers joined lately.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "browser/browser.h"
#include "startup/safe_file.h"

namespace zbx {

namespace {

// "255.255.255.255:65535" and a newline fit with room to spare; a longer
// line is junk, read past without being kept.
constexpr int LINE_SIZE = 64;
// A file of junk is read no further than this.
constexpr int MAX_LINES = 4096;

}  // namespace

bool parse_server_address(std::string_view text, ServerAddress& out) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon > 15) return false;
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  unsigned value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  char ip[16] = {};
  std::memcpy(ip, text.data(), colon);
  in_addr address{};
  if (value == 0 || value > 65535 || inet_pton(AF_INET, ip, &address) != 1) return false;
  if (address.s_addr == 0) return false;
  out = {ntohl(address.s_addr), static_cast<std::uint16_t>(value)};
  return true;
}

std::string format_ip(std::uint32_t address) {
  in_addr in{};
  in.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::string format_server_address(ServerAddress where) {
  return format_ip(where.address) + ":" + std::to_string(where.port);
}

std::vector<ServerAddress> read_recent_servers(const std::string& path) {
  std::vector<ServerAddress> out;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return out;
  char line[LINE_SIZE];
  bool wholeLine = true;  // the buffer begins a line
  for (int n = 0; n < MAX_LINES && out.size() < RECENT_SERVERS_MAX &&
                  std::fgets(line, sizeof line, file) != nullptr;
       ++n) {
    std::size_t length = std::strlen(line);
    const bool ends = (length > 0 && line[length - 1] == '\n') || std::feof(file) != 0;
    const bool starts = wholeLine;
    wholeLine = ends;
    if (!starts || !ends) continue;  // a piece of an over-long line
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    ServerAddress a;
    if (parse_server_address(std::string_view(line, length), a) &&
        std::find(out.begin(), out.end(), a) == out.end()) {
      out.push_back(a);
    }
  }
  std::fclose(file);
  return out;
}

bool remember_server(const std::string& path, ServerAddress where, std::string& error) {
  std::vector<ServerAddress> list = read_recent_servers(path);
  list.erase(std::remove(list.begin(), list.end(), where), list.end());
  list.insert(list.begin(), where);
  if (list.size() > RECENT_SERVERS_MAX) list.resize(RECENT_SERVERS_MAX);
  std::string text;
  for (ServerAddress a : list) text += format_server_address(a) + "\n";
  return replace_file(path, text, error);
}

}  // namespace zbx
