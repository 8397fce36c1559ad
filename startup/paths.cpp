// The per-user directory, its four paths, the data prefix and the fatal exit.
#include <dirent.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "startup/settings.h"

#ifndef ZBX3D_DATA_PREFIX
#define ZBX3D_DATA_PREFIX "/usr/local/share"
#endif

namespace zbx {

UserPaths g_paths;

namespace {

constexpr std::array<const char*, 4> kDefaultFiles = {"scores.dat", "ZBXConfig", "ZBXServerConfig",
                                                      "ZBXServerSingleConfig"};

// Copies every byte; false on any read or write error.
bool copy_stream(std::FILE* from, std::FILE* to) {
  std::array<char, 4096> buf;
  for (;;) {
    std::size_t n = std::fread(buf.data(), 1, buf.size(), from);
    if (n > 0 && std::fwrite(buf.data(), 1, n, to) != n) return false;
    if (n < buf.size()) return std::ferror(from) == 0;
  }
}

}  // namespace

const char* data_prefix() {
  const char* env = std::getenv("ZBX3D_DATA_PREFIX");
  if (env != nullptr && env[0] != '\0') return env;
  return ZBX3D_DATA_PREFIX;
}

void fatal_exit(int status) {
  std::fflush(stdout);
  std::_Exit(status);
}

int install_default_file(const char* directory, const char* name) {
  std::string from = std::string(data_prefix()) + "/zbx3d/conf/" + name;
  std::string to = std::string(directory) + "/" + name;
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) return 0;
  std::FILE* out = std::fopen(to.c_str(), "wb");
  if (out == nullptr) {
    std::fclose(in);
    return 0;
  }
  bool ok = copy_stream(in, out);
  std::fclose(in);
  // A full disk shows up at the final flush: that copy failed too.
  if (std::fclose(out) != 0) ok = false;
  return ok ? 1 : 0;
}

int prepare_user_dir(const char* home, UserPaths& paths, std::string& message) {
  if (home == nullptr || home[0] == '\0') {
    message = "Error opening zbx directory: HOME is not set";
    return 1;
  }
  const std::string dir = std::string(home) + "/.zbx3d";
  // The longest of the four paths decides; refuse rather than cut a path.
  const std::string longest = dir + "/ZBXServerSingleConfig";
  if (longest.size() > MAX_PATH_CHARS) {
    message = "Error opening zbx directory: path longer than 79 characters: " + longest;
    return 1;
  }
  if (DIR* d = opendir(dir.c_str())) {
    closedir(d);
  } else {
    if (mkdir(dir.c_str(), 0755) != 0) {
      message = "Error opening zbx directory";
      return 1;
    }
    for (const char* name : kDefaultFiles) {
      if (!install_default_file(dir.c_str(), name)) {
        message = std::string("Error creating ") + name + " file";
        return 1;
      }
    }
  }
  paths.high_scores = dir + "/scores.dat";
  paths.client_settings = dir + "/ZBXConfig";
  paths.server_settings = dir + "/ZBXServerConfig";
  paths.single_settings = dir + "/ZBXServerSingleConfig";
  return 0;
}

void prepare_user_files() {
  std::string message;
  int status = prepare_user_dir(std::getenv("HOME"), g_paths, message);
  if (status != 0) {
    std::printf("%s\n", message.c_str());
    fatal_exit(status);
  }
}

}  // namespace zbx
