// zbx3d: a dedicated game server with "-ds", the game client otherwise.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "server/server.h"
#include "startup/command_line.h"
#include "startup/entry/client_main.h"
#include "startup/settings.h"

int main(int argc, char** argv) {
  // Server lines such as "Adding Player 1" must reach a pipe at once.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  zbx::prepare_user_files();

  zbx::CommandLine line;
  if (argc > 1) line = zbx::parse_command_line(argc, argv);
  if (line.status != 0) {
    std::printf("%s\n", line.message.c_str());
    zbx::fatal_exit(line.status);
  }
  zbx::apply_command_line(line, zbx::g_paths);

  zbx::load_server_settings(zbx::g_paths.server_settings.c_str());

  if (line.dedicated) {
    zbx::ServerThread(1);
    // Every server thread has ended; skip static destructors all the same.
    zbx::fatal_exit(0);
  }
  zbx::fatal_exit(zbx::run_client(argc, argv));
}
