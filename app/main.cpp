// zbx3d: a dedicated game server with "-ds", the game client otherwise.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "client/replay.h"
#include "client_main.h"
#include "server/server.h"
#include "startup/command_line.h"
#include "startup/settings.h"

namespace {

// Operators see where a dedicated server listens; standard output keeps the
// server's own lines.
void say_listening(int port) {
  const zbx::ServerSettings& s = zbx::g_server_settings;
  const int type = s.MAX_NUMBER_OF_PLAYERS == 1 ? 0 : s.GAME_TYPE;
  const char* name = type == 0 ? "single player" : type == 2 ? "deathmatch" : "lives and points";
  std::fprintf(stderr,
               "zbx3d: dedicated server listening on UDP port %d (all addresses), "
               "up to %d players, game type %d (%s)\n",
               port, s.MAX_NUMBER_OF_PLAYERS, type, name);
}

}  // namespace

int main(int argc, char** argv) {
  // Server lines such as "Adding Player 1" must reach a pipe at once.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  // Answered before anything is looked at or created.
  if (const std::string info = zbx::info_text(argc, argv); !info.empty()) {
    std::printf("%s\n", info.c_str());
    return 0;
  }
  // Without its data the game cannot run; leave ~/.zbx3d unmade, so a later
  // run with the data in place still installs the default files.
  if (std::string message; !zbx::check_data_tree(message)) {
    std::printf("%s\n", message.c_str());
    return 1;
  }

  zbx::prepare_user_files();

  zbx::CommandLine line;
  if (argc > 1) line = zbx::parse_command_line(argc, argv);
  if (line.status != 0) {
    std::printf("%s\n", line.message.c_str());
    zbx::fatal_exit(line.status);
  }
  zbx::apply_command_line(line, zbx::g_paths);

  zbx::load_server_settings(zbx::g_paths.serverSettings.c_str());

  if (line.dedicated) {
    zbx::ServerControl control;  // nothing stops a dedicated server but its own rules
    zbx::ServerThread(1, control, say_listening);
    // Every server thread has ended; skip static destructors all the same.
    zbx::fatal_exit(0);
  }
  // Both are checked before the window opens; a recording that cannot be
  // written leaves the game as it is, one that cannot be read ends here.
  if (line.record) zbx::start_recording(*line.record);
  if (line.play) {
    if (std::string message; !zbx::open_replay(*line.play, message)) {
      std::fprintf(stderr, "zbx3d: %s\n", message.c_str());
      zbx::fatal_exit(1);
    }
  }
  zbx::fatal_exit(zbx::run_client(argc, argv));
}
