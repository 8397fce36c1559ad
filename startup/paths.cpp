// The per-user directory, its four paths, the data prefix and the fatal exit.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "startup/safe_file.h"
#include "startup/settings.h"

#ifndef ZBX3D_DATA_PREFIX
#define ZBX3D_DATA_PREFIX "/usr/local/share"
#endif
#ifndef ZBX3D_RELATIVE_DATADIR
#define ZBX3D_RELATIVE_DATADIR "../share"
#endif

namespace zbx {

UserPaths g_paths;

namespace {

constexpr std::array<const char*, 4> DEFAULT_FILES = {"scores.dat", "ZBXConfig", "ZBXServerConfig",
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

bool is_directory(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (d != nullptr) closedir(d);
  return d != nullptr;
}

// First run: the folder is filled under a name of its own and renamed into
// place only with every default file complete, so a run killed half-way or
// stopped by a full disk leaves no folder and the next run starts afresh.
bool make_user_dir(const std::string& home, const std::string& dir, std::string& message) {
  message = "Error opening zbx directory";
  // A file or a dangling link where the folder belongs is the user's: left alone.
  if (struct stat st{}; lstat(dir.c_str(), &st) == 0) return false;
  const std::string building = dir + ".new";
  std::error_code ignored;
  std::filesystem::remove_all(building, ignored);  // half-made by a run that did not finish
  if (mkdir(building.c_str(), 0755) != 0) return false;
  for (const char* name : DEFAULT_FILES) {
    if (!install_default_file(building.c_str(), name)) {
      message = std::string("Error creating ") + name + " file";
      std::filesystem::remove_all(building, ignored);
      return false;
    }
  }
  sync_folder(building);
  if (rename(building.c_str(), dir.c_str()) != 0) {
    std::filesystem::remove_all(building, ignored);
    // A first run started at the same moment got there first: use its folder.
    return is_directory(dir);
  }
  sync_folder(home);
  return true;
}

}  // namespace

const char* data_prefix_override() {
  const char* env = std::getenv("ZBX3D_DATA_PREFIX");
  return env != nullptr && env[0] != '\0' ? env : nullptr;
}

std::vector<std::string> data_prefix_candidates(const std::string& exe_dir) {
  std::vector<std::string> places{ZBX3D_DATA_PREFIX};
  if (!exe_dir.empty()) {
    // This install's own layout first, then the other one of the two we make.
    for (const char* relative : {ZBX3D_RELATIVE_DATADIR, "../share", "../share/games"}) {
      std::string place = (std::filesystem::path(exe_dir) / relative).lexically_normal().string();
      if (place.size() > 1 && place.back() == '/') place.pop_back();
      bool seen = false;
      for (const std::string& p : places) seen = seen || p == place;
      if (!seen) places.push_back(place);
    }
  }
  return places;
}

bool holds_data_tree(const std::string& prefix) {
  std::error_code error;
  return std::filesystem::is_directory(std::filesystem::path(prefix) / "zbx3d", error);
}

std::string executable_dir() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.parent_path().string();
}

const char* data_prefix() {
  if (const char* env = data_prefix_override()) return env;
  // Looked up once: the install does not move while the game runs.
  static const std::string found = [] {
    const std::vector<std::string> places = data_prefix_candidates(executable_dir());
    for (const std::string& place : places) {
      if (holds_data_tree(place)) return place;
    }
    return places.front();
  }();
  return found.c_str();
}

bool check_data_tree(std::string& message) {
  std::vector<std::string> places;
  if (const char* env = data_prefix_override()) {
    places.push_back(env);
  } else {
    places = data_prefix_candidates(executable_dir());
  }
  for (const std::string& place : places) {
    if (holds_data_tree(place)) return true;
  }
  message = "Cannot find the game data: no zbx3d folder in";
  for (std::size_t i = 0; i < places.size(); ++i) message += (i == 0 ? " " : ", ") + places[i];
  return false;
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
  // A full disk shows up at the final flush: that copy failed too. The copy
  // reaches the disk before the folder holding it takes its name.
  if (std::fflush(out) != 0 || fsync(fileno(out)) != 0) ok = false;
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
  if (!is_directory(dir) && !make_user_dir(home, dir, message)) return 1;
  paths.highScores = dir + "/scores.dat";
  paths.clientSettings = dir + "/ZBXConfig";
  paths.serverSettings = dir + "/ZBXServerConfig";
  paths.singleSettings = dir + "/ZBXServerSingleConfig";
  paths.recentServers = dir + "/ZBXServers";
  paths.gamepadMappings = dir + "/gamecontrollerdb.txt";
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
