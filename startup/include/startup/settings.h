// Process-wide client and server settings, the key=value reader that fills
// them, the per-user paths and the data prefix. No lock: the server record is
// written only while no server thread runs (or by the server thread that is
// about to use it); the client record only on the window-system thread.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace zbx {

// Size of the reader's key and value buffers; a key or value line must fit
// in one of them with its terminating "=" or newline.
constexpr int SETTINGS_BUFFER_SIZE = 80;
// Longest per-user path or path option, in characters.
constexpr std::size_t MAX_PATH_CHARS = 79;

// Handler for read_settings_file: key and value are NUL-terminated and valid
// only during the call.
using SettingsHandler = void (*)(const char* key, const char* value);

// Reads key=value pairs from the current position to the end of the stream.
void read_settings_file(std::FILE* file, SettingsHandler handler);

// Field names are the configuration keys.
struct ServerSettings {
  int MAX_NUMBER_OF_PLAYERS = 0;  // no default: kept across loads
  int GAME_TYPE = 1;
  float WORLD_WIDTH = 10.0f;
  int GAME_PORT = 12346;
  int SHOT_KEEP_ALIVE = 0;  // no default: kept across loads
  int SHIP_DEAD_TIME = 0;   // no default: kept across loads
  int START_LIVES = 3;
  int MAX_KILLS = 20;
  int GAME_SLEEP = 10;
  int MAX_SHIELD = 300;
  int START_SHIELD = 300;
  int MAX_ARMOR = 1000;
  int START_ARMOR = 1000;
  int ASTEROID_SCORE = 1;
  int SHIP_SCORE = 10;
  int NEW_ASTEROID_TIME = 10000;
  int ASTEROID_TIME_SPEEDUP = 10;
  int MIN_ASTEROID_TIME = 1000;
  int START_ASTEROIDS = 3;
  int PACKET_SIZE = 1024;
  int NET_SLEEP_TIME = 50;
  float DECELERATION_CONSTANT = 0.9f;
  float ACCELERATION_CONSTANT = 0.35f;
  float SHIP_SIZE = 0.2f;
  int SHOT_DAMAGE = 50;
  int NUKE_DAMAGE = 350;
  int NUKE_SHIELD_DRAIN = 50;
  int COLLISION_DAMAGE = 75;
  float SHOT_SPEED = 0.14f;
  float NUKE_SPEED = 0.14f;
  int POWERUP_ALIVE_TIME = 500;
  int NUKE_ALIVE_TIME = 35;
  int NUKE_EXPLOSION_ALIVE_TIME = 40;
  float NUKE_EXPLOSTION_GROWTH_SPEED = 0.03f;
  int SHOT_ALIVE_TIME = 50;
  float MAX_TOTAL_ASTEROID_SIZE = 10.0f;
  int NUM_BOTS = 0;
  float START_BOT_RATIO = 0.25f;
  float MAX_BOT_RATIO = 1.0f;
  float BOT_RATIO_INCREASE = 0.002f;
  int BOT_FIRE_TIME = 20;
  int BOT_NUKE_ODDS = 5000;
  int BOT_SHIELD_TIME = 60;
  int START_WARPS = 2;
  int START_NUKES = 2;
  int PRIZE_ODDS = 512;
  int SHIELD_POWERUP_VALUE = 50;
  int ARMOR_POWERUP_VALUE = 50;
  float ROTATION_SPEED = 1.2f;
  // Not 0: a new client gets snapshots only once it has sent a datagram after
  // its join, and is dropped after 2 silent seconds until then (servers open
  // to the internet: a join with a forged source earns its victim one reply).
  int VERIFY_NEW_CLIENTS = 0;
  // Not 0: clients that ask for it get the compact snapshot stream.
  int COMPACT_SNAPSHOTS = 1;
  // Text settings (one word each, as the reader gives them); kept after the
  // numbers so the key table above stays one entry per four bytes.
  char SERVER_NAME[SETTINGS_BUFFER_SIZE] = "Zorbix";  // shown by status queries
  // Master servers told about this server, "host:port" separated by commas;
  // empty: none.
  char MASTER_SERVERS[SETTINGS_BUFFER_SIZE] = "";
};

struct KeyBindings {
  char SCORE_KEY = 0, FIRE_KEY = 0, SHIELD_KEY = 0, WARP_KEY = 0, NUKE_KEY = 0, QUIT_KEY = 0,
       Z_FORWARD_KEY = 0, Z_BACKWARD_KEY = 0, X_FORWARD_ROTATE_KEY = 0, X_BACKWARD_ROTATE_KEY = 0,
       Y_FORWARD_ROTATE_KEY = 0, Y_BACKWARD_ROTATE_KEY = 0, Z_FORWARD_ROTATE_KEY = 0,
       Z_BACKWARD_ROTATE_KEY = 0, REVERSE_VIEW_KEY = 0;
};

// A gamepad button's SDL name ("a", "leftshoulder", ...); empty: none.
inline constexpr std::size_t PAD_BUTTON_NAME_SIZE = 16;

// Which gamepad button does what in a game (SDL game-controller names).
struct PadButtons {
  char PAD_FIRE_BUTTON[PAD_BUTTON_NAME_SIZE] = "a";
  char PAD_SHIELD_BUTTON[PAD_BUTTON_NAME_SIZE] = "b";
  char PAD_NUKE_BUTTON[PAD_BUTTON_NAME_SIZE] = "x";
  char PAD_WARP_BUTTON[PAD_BUTTON_NAME_SIZE] = "y";
  char PAD_SCORE_BUTTON[PAD_BUTTON_NAME_SIZE] = "back";
  char PAD_REVERSE_VIEW_BUTTON[PAD_BUTTON_NAME_SIZE] = "leftstick";
  char PAD_QUIT_BUTTON[PAD_BUTTON_NAME_SIZE] = "start";
  char PAD_ROLL_LEFT_BUTTON[PAD_BUTTON_NAME_SIZE] = "leftshoulder";
  char PAD_ROLL_RIGHT_BUTTON[PAD_BUTTON_NAME_SIZE] = "rightshoulder";
};

struct ClientSettings {
  int SCREEN_WIDTH = 640;
  int SCREEN_HEIGHT = 480;
  char SERVER_IP[16] = "127.0.0.1";
  int SERVER_PORT = 12345;
  char PLAYER_NAME[20] = "UnNamedPlayer";
  int VOLUME = 9;
  KeyBindings keys;
  // Not 0: objects drawn between snapshots and the own view predicted. A
  // file without the key draws the newest snapshot, as games always did.
  int SMOOTH_MOTION = 0;
  // Not 0: ask servers that offer it for the compact snapshot stream.
  int COMPACT_SNAPSHOTS = 1;
  // Where "Find Servers" looks for servers on the local network.
  char BROADCAST_ADDRESS[16] = "255.255.255.255";
  // Master servers "Find Servers" asks, "host:port" separated by commas.
  char MASTER_SERVERS[SETTINGS_BUFFER_SIZE] = "";
  int GAMEPAD = 1;             // 0: gamepads are not used
  int GAMEPAD_DEAD_ZONE = 20;  // percent of a stick's or trigger's travel
  PadButtons pad;
};

extern ServerSettings g_server_settings;
extern ClientSettings g_client_settings;

// Defaults, then the file at path if it opens. Values outside safe ranges are
// brought into range (see README, "Server settings").
void load_server_settings(const char* path);
// Stores one server key into g_server_settings; unknown keys are ignored.
void server_settings_handler(const char* key, const char* value);
// Brings values that would crash, stall or poison a server into a safe range.
void sanitize_server_settings(ServerSettings& settings);

// Defaults (bindings excepted), then the client settings path if it opens.
void load_client_settings();
// Stores one client key into g_client_settings; unknown keys are ignored.
void client_settings_handler(const char* key, const char* value);
// Writes the 21 lines (and the later keys) to the client settings path, whole
// or not at all; a failure is said on standard error.
void save_client_settings();

// Integer text as atoi reads it, saturated to the int range.
int settings_int(const char* text);
// Float text as strtod reads it, rounded to float (out of range: infinity).
float settings_float(const char* text);

// The four per-user paths (at most 79 characters each), the file of the
// servers joined lately (not installed: the first multi-player join makes
// it), and the gamepad mappings a player may add there (never created by the
// game).
struct UserPaths {
  std::string highScores;       // "%s/scores.dat"
  std::string clientSettings;   // "%s/ZBXConfig"
  std::string serverSettings;   // "%s/ZBXServerConfig"
  std::string singleSettings;   // "%s/ZBXServerSingleConfig"
  std::string recentServers;    // "%s/ZBXServers"
  std::string gamepadMappings;  // "%s/gamecontrollerdb.txt"
};
extern UserPaths g_paths;

// Creates "$HOME/.zbx3d" with the default files on a first run (filled as
// "$HOME/.zbx3d.new" and renamed once complete, so a failed first run leaves
// none) and sets g_paths; on failure prints one line and ends the process
// with status 1.
void prepare_user_files();
// The testable core of prepare_user_files: 0 on success, else the exit status
// with the line to print in message.
int prepare_user_dir(const char* home, UserPaths& paths, std::string& message);
// Copies the shared default file name into directory; 1 on success, 0 if not.
int install_default_file(const char* directory, const char* name);

// Data prefix: $ZBX3D_DATA_PREFIX if set and not empty; else the first of
// data_prefix_candidates that holds a zbx3d/ folder (the compiled-in prefix
// when none does).
const char* data_prefix();
// Where the data tree is looked for without $ZBX3D_DATA_PREFIX: the
// compiled-in prefix, then places relative to the program's folder exe_dir.
std::vector<std::string> data_prefix_candidates(const std::string& exe_dir);
// False, with one line naming every place looked at, when no data tree exists.
bool check_data_tree(std::string& message);

// Flush standard output and end the process at once with the status, without
// running static destructors (other threads may still run).
[[noreturn]] void fatal_exit(int status);

}  // namespace zbx
