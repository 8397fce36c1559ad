// Stand-in server start until the server library defines ServerThread. It is
// linked from a library placed after the server's, so a real definition is
// always preferred; weak as well, in case both ever meet in one link.
#include "server/server.h"

namespace zbx {

__attribute__((weak)) void ServerThread(int) {}

}  // namespace zbx
