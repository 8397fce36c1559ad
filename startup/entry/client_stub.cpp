// Stand-in client mode until the game client exists; delete with its arrival.
#include <cstdio>

#include "startup/entry/client_main.h"
#include "startup/settings.h"

namespace zbx {

int run_client(int, char**) {
  load_client_settings();
  std::printf("Zorbix client: not built yet\n");
  return 1;
}

}  // namespace zbx
