// Until the settings loader is merged: the settings record with its defaults.
// Weak, so the real definition wins once it links in.
#include "startup/settings.h"

namespace zbx {
[[gnu::weak]] ServerSettings g_server_settings;
}  // namespace zbx
