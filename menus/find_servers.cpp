// "Find Servers": the servers of the local network, of the masters and of the
// recent-servers file, best ping first, filled in as their answers come while
// the window goes on drawing. Return joins the selected one through the
// connecting screen; the search is asked again on every visit and refresh,
// without emptying the list.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "client/client.h"
#include "menus/menus.h"
#include "render/draw2d.h"
#include "render/render.h"
#include "startup/settings.h"

namespace zbx {

namespace {

constexpr int SPECIAL_KEY_F5 = 5;
constexpr std::chrono::milliseconds SLICE{20};  // as the connecting screen's
// Baselines below the window's top, and the room kept under the list.
constexpr int TITLE_DROP = 30;
constexpr int HEADER_DROP = 65;
constexpr int FIRST_ROW_DROP = 95;
constexpr int BOTTOM_ROOM = 65;
constexpr int STATUS_Y = 40;
constexpr int KEYS_Y = 15;
constexpr int MARGIN = 10;
constexpr int COLUMN_GAP = 15;

Browser& browser() {
  if (!g_menus.browser) g_menus.browser = std::make_unique<Browser>();
  return *g_menus.browser;
}

const std::vector<ServerEntry>& servers() { return browser().state.servers; }

// The selected server's place in the list as it is sorted now.
int selected_index() {
  const auto& list = servers();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].where == g_menus.browserSelected) return static_cast<int>(i);
  }
  if (!list.empty()) g_menus.browserSelected = list[0].where;
  return 0;
}

int rows_shown(int height) {
  return std::max(1, (height - FIRST_ROW_DROP - BOTTOM_ROOM) / MENU_LINE_HEIGHT + 1);
}

void refresh() {
  const ClientSettings& s = g_client_settings;
  BrowserSettings settings;
  settings.broadcast.assign(s.BROADCAST_ADDRESS,
                            strnlen(s.BROADCAST_ADDRESS, sizeof s.BROADCAST_ADDRESS));
  settings.masters.assign(s.MASTER_SERVERS, strnlen(s.MASTER_SERVERS, sizeof s.MASTER_SERVERS));
  if (!g_paths.recentServers.empty()) settings.recent = read_recent_servers(g_paths.recentServers);
  std::string error;
  if (!browser_refresh(browser(), settings, error)) {
    std::fprintf(stderr, "zbx3d: cannot look for servers: %s\n", error.c_str());
  }
}

struct Cells {
  std::string players, type, ping, address;
};

Cells cells_of(const ServerEntry& e) {
  Cells c;
  if (e.players >= 0 || e.maxPlayers >= 0) {
    c.players = (e.players >= 0 ? std::to_string(e.players) : "?") + " / " +
                (e.maxPlayers >= 0 ? std::to_string(e.maxPlayers) : "?");
  }
  c.type = game_type_words(e.gameType);
  c.ping = std::to_string(e.ping) + " ms";
  c.address = format_server_address(e.where);
  return c;
}

// The text cut at its end to fit in `width` pixels of the big font.
std::string fit(std::string text, int width) {
  while (!text.empty() && text_width(text.c_str(), 1) > width) text.pop_back();
  return text;
}

void centred(int y, const char* text, Colour3f colour) {
  draw_text((window_width() - text_width(text, 1)) / 2, y, text, colour, 1);
}

void join_selected() {
  const auto& list = servers();
  if (list.empty()) {
    play_interface_sound(SOUND_REFUSED);
    return;
  }
  const ServerEntry& e = list[static_cast<std::size_t>(selected_index())];
  // In memory only, as the single-player start does; saving keeps them.
  std::snprintf(g_client_settings.SERVER_IP, sizeof g_client_settings.SERVER_IP, "%s",
                format_ip(e.where.address).c_str());
  g_client_settings.SERVER_PORT = e.where.port;
  browser_close(browser());
  start_multi_player_action();
}

}  // namespace

void show_find_servers() {
  install_screen(ScreenCallbacks{.keyboard = find_servers_keyboard,
                                 .keyboard_up = nullptr,
                                 .special = find_servers_special,
                                 .idle = find_servers_idle,
                                 .display = draw_find_servers});
  g_menus.screen = Screen::FindServers;
  refresh();
  draw_find_servers();
}

void find_servers_idle() {
  if (g_menus.screen != Screen::FindServers) return;
  Browser& b = browser();
  if (b.socket < 0) {  // no socket to wait on: the slice is slept
    std::this_thread::sleep_for(SLICE);
    return;
  }
  const bool wasBusy = browser_busy(b);
  const bool changed = browser_poll(b, SLICE);
  if (changed || wasBusy) draw_find_servers();
}

void find_servers_keyboard(unsigned char key, int, int) {
  if (key == KEY_RETURN) {
    join_selected();
  } else if (key == 'r' || key == 'R') {
    refresh();
    draw_find_servers();
  } else if (key == KEY_ESCAPE) {
    browser_close(browser());
    show_main_menu();
  }
}

void find_servers_special(int key, int, int) {
  if (key == SPECIAL_KEY_F5) {
    refresh();
  } else if (key == SPECIAL_KEY_UP || key == SPECIAL_KEY_DOWN) {
    play_interface_sound(SOUND_MENU_MOVE);
    const auto& list = servers();
    if (!list.empty()) {
      const int next = navigate_list(selected_index(), static_cast<int>(list.size()), key);
      g_menus.browserSelected = list[static_cast<std::size_t>(next)].where;
    }
  }
  draw_find_servers();
}

void draw_find_servers() {
  const int w = window_width();
  const int h = window_height();
  const auto& list = servers();
  const int count = static_cast<int>(list.size());
  const int selected = selected_index();
  const int rows = rows_shown(h);
  int& first = g_menus.browserFirst;
  first = std::clamp(first, std::max(0, selected - rows + 1), selected);
  const int last = std::min(count, first + rows) - 1;

  // Columns from the right edge, each as wide as its widest text on screen;
  // the name takes what is left.
  std::vector<Cells> shown;
  for (int i = first; i <= last; ++i) shown.push_back(cells_of(list[static_cast<std::size_t>(i)]));
  const auto widest = [&](const char* header, std::string Cells::*field) {
    int width = text_width(header, 1);
    for (const Cells& c : shown) width = std::max(width, text_width((c.*field).c_str(), 1));
    return width;
  };
  const int xAddress = w - MARGIN - widest("Address", &Cells::address);
  const int xPing = xAddress - COLUMN_GAP - widest("Ping", &Cells::ping);
  const int xType = xPing - COLUMN_GAP - widest("Game", &Cells::type);
  const int xPlayers = xType - COLUMN_GAP - widest("Players", &Cells::players);
  const int nameWidth = xPlayers - COLUMN_GAP - MARGIN;

  begin_frame();
  centred(h - TITLE_DROP, "Find Servers", palette_blue);
  const int header = h - HEADER_DROP;
  draw_text(MARGIN, header, "Name", palette_blue, 1);
  draw_text(xPlayers, header, "Players", palette_blue, 1);
  draw_text(xType, header, "Game", palette_blue, 1);
  draw_text(xPing, header, "Ping", palette_blue, 1);
  draw_text(xAddress, header, "Address", palette_blue, 1);
  for (int i = first; i <= last; ++i) {
    const ServerEntry& e = list[static_cast<std::size_t>(i)];
    const Cells& c = shown[static_cast<std::size_t>(i - first)];
    const int y = h - FIRST_ROW_DROP - MENU_LINE_HEIGHT * (i - first);
    const Colour3f colour = i == selected ? palette_white : palette_blue;
    draw_text(MARGIN, y, fit(e.name, nameWidth).c_str(), colour, 1);
    draw_text(xPlayers, y, c.players.c_str(), colour, 1);
    draw_text(xType, y, c.type.c_str(), colour, 1);
    draw_text(xPing, y, c.ping.c_str(), colour, 1);
    draw_text(xAddress, y, c.address.c_str(), colour, 1);
  }
  char status[48];
  if (browser_busy(browser())) {
    std::snprintf(status, sizeof status, "Looking for servers...");
  } else if (count == 0) {
    std::snprintf(status, sizeof status, "No servers found");
  } else {
    std::snprintf(status, sizeof status, count == 1 ? "%d server found" : "%d servers found",
                  count);
  }
  centred(STATUS_Y, status, palette_white);
  centred(KEYS_Y, "Return: join   F5 or R: refresh   Escape: back", palette_blue);
  swap_frame();
}

void remember_joined_server() {
  const ClientSettings& s = g_client_settings;
  char ip[sizeof s.SERVER_IP] = {};
  std::memcpy(ip, s.SERVER_IP, sizeof ip - 1);
  in_addr address{};
  // The port as the join used it: its low 16 bits.
  const auto port = static_cast<std::uint16_t>(s.SERVER_PORT);
  if (g_paths.recentServers.empty() || port == 0 || inet_pton(AF_INET, ip, &address) != 1) return;
  std::string error;
  if (!remember_server(g_paths.recentServers, {ntohl(address.s_addr), port}, error)) {
    std::fprintf(stderr, "zbx3d: %s: %s\n", g_paths.recentServers.c_str(), error.c_str());
  }
}

}  // namespace zbx
