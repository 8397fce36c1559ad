// The command line of zbx3d: "-cf" file, "-scf" file, "-ds", "-record" file
// and "-play" file. Parsing is pure; the caller prints the message and exits
// with the status.
#pragma once

#include <optional>
#include <string>

#include "startup/settings.h"

namespace zbx {

struct CommandLine {
  bool dedicated = false;                     // "-ds" seen
  std::optional<std::string> clientSettings;  // "-cf" argument
  std::optional<std::string> serverSettings;  // "-scf" argument
  std::optional<std::string> record;          // "-record" argument
  std::optional<std::string> play;            // "-play" argument
  int status = 0;                             // nonzero: print message, exit with it
  std::string message;                        // printed with a final newline
};

// Scans argv[1..argc-1]; later options override earlier ones.
CommandLine parse_command_line(int argc, const char* const* argv);

// What "--version" or "--help" prints when it is the only word (status 0);
// empty for every other command line.
std::string info_text(int argc, const char* const* argv);

// Replaces the client and server settings paths that the command line named.
void apply_command_line(const CommandLine& line, UserPaths& paths);

}  // namespace zbx
