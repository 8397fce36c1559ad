// Command-line scanning for zbx3d.
#include "startup/command_line.h"

#include <cstring>

#ifndef ZBX_VERSION
#define ZBX_VERSION "unknown"
#endif

namespace zbx {

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i] != nullptr ? argv[i] : "";
    std::optional<std::string>* target = nullptr;
    if (std::strcmp(word, "-cf") == 0) {
      target = &line.clientSettings;
    } else if (std::strcmp(word, "-scf") == 0) {
      target = &line.serverSettings;
    } else if (std::strcmp(word, "-record") == 0) {
      target = &line.record;
    } else if (std::strcmp(word, "-play") == 0) {
      target = &line.play;
    } else if (std::strcmp(word, "-ds") == 0) {
      line.dedicated = true;
      continue;
    } else {
      const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "zbx3d";
      line.status = 1;
      line.message = std::string("\nUsage: ") + program + " -cf Configuration_Filename";
      return line;
    }
    // An option without its file as the last word does nothing.
    if (i + 1 >= argc) break;
    const char* file = argv[++i] != nullptr ? argv[i] : "";
    // Only the settings paths live in fixed 80-byte fields.
    const bool settings = target == &line.clientSettings || target == &line.serverSettings;
    if (settings && std::strlen(file) > MAX_PATH_CHARS) {
      line.status = 1;
      line.message =
          std::string("Path given with ") + word + " is longer than 79 characters: " + file;
      return line;
    }
    *target = file;
  }
  return line;
}

std::string info_text(int argc, const char* const* argv) {
  if (argc != 2 || argv[1] == nullptr) return {};
  if (std::strcmp(argv[1], "--version") == 0) return "zbx3d " ZBX_VERSION;
  if (std::strcmp(argv[1], "--help") != 0) return {};
  return "Usage: zbx3d [-cf FILE] [-scf FILE] [-ds] [-record FILE] [-play FILE]\n"
         "       zbx3d --help | --version\n"
         "Zorbix, a three-dimensional asteroids game. Without -ds it opens the game\n"
         "window on the main menu.\n"
         "\n"
         "  -cf FILE    client settings, read at start and written by \"Save Settings\n"
         "              As Defaults\" (default ~/.zbx3d/ZBXConfig)\n"
         "  -scf FILE   server settings (default ~/.zbx3d/ZBXServerConfig)\n"
         "  -ds         run a dedicated server: no window, no sound\n"
         "  -record FILE  record every game of this run: the first to FILE, later\n"
         "              ones to FILE.2, FILE.3, ...\n"
         "  -play FILE  replay a recorded game (Space pauses, + and - change the\n"
         "              speed, Escape ends), then show the main menu\n"
         "  --help      print this help and exit\n"
         "  --version   print the version and exit\n"
         "\n"
         "A later option overrides an earlier one; paths hold at most 79 characters.\n"
         "ZBX3D_DATA_PREFIX names the folder holding the zbx3d/ data tree.\n"
         "See zbx3d(6).";
}

void apply_command_line(const CommandLine& line, UserPaths& paths) {
  if (line.clientSettings) paths.clientSettings = *line.clientSettings;
  if (line.serverSettings) paths.serverSettings = *line.serverSettings;
}

}  // namespace zbx
