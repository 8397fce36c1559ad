// Start-up loading of the game's models, with the fatal failure handling.
#include <cstdio>

#include "render/core/model.h"
#include "startup/settings.h"

namespace zbx {

void load_model_file(const std::string& directory, const char* name) {
  std::string error;
  if (!read_model_file(directory, name, g_models, error)) {
    std::fputs(error.c_str(), stdout);
    fatal_exit(1);
  }
}

void load_model_set() {
  std::string directory = std::string(data_prefix()) + "/zbx3d/models/";
  std::string error;
  if (!read_model_set(directory, g_models, error)) {
    std::fputs(error.c_str(), stdout);
    fatal_exit(1);
  }
}

}  // namespace zbx
