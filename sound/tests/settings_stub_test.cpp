// Stand-ins for the start-up library's settings until it has code of its
// own: the client settings record and the data prefix.
#include <cstdlib>

#include "startup/settings.h"

namespace zbx {

ClientSettings g_client_settings;

const char* data_prefix() {
  const char* prefix = std::getenv("ZBX3D_DATA_PREFIX");
  return prefix != nullptr ? prefix : "/usr/local/share";
}

}  // namespace zbx
