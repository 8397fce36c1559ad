// A server under load: the real ServerThread (as "zbx3d -ds" runs it) serves 31
// zbx3d-botclient processes that fly, turn and fire, for ZBX_LOAD_SECONDS
// (default 60) seconds. Reports world steps per second and missed steps
// (against 50 a second), the CPU use of the server (this process; the clients
// are children and not counted), and bytes and snapshots per second per client,
// for 31 clients of the full stream and for 31 of the compact stream. Then
// the two streams side by side in one server run, one client of each among
// the others: in that game, and in a full world of 512 objects and 32 ships.
//
// Steps are counted with a marker object (a small explosion, which takes part
// in no collision) whose lifetime the simulation lowers by one every step.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/server.h"
#include "startup/settings.h"
#include "testing/loopback.h"
#include "world.h"

extern char** environ;

namespace {

constexpr int CLIENTS = 31;
constexpr int MARKER_LIFETIME = 1'000'000'000;

using zbx::test::free_udp_port;

std::string botclient_path() {
  if (const char* p = std::getenv("ZBX_BOTCLIENT")) return p;
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));  // <build>/bench
  dir = dir.substr(0, dir.rfind('/'));  // <build>
  return dir + "/server/botclient/zbx3d-botclient";
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of its stdout
};

Child spawn_client(const std::string& path, int port, int index, double seconds,
                   bool compact = false) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string port_text = std::to_string(port);
  const std::string name = "load" + std::to_string(index);
  const std::string duration = std::to_string(seconds);
  const char* argv[] = {path.c_str(),
                        "-p",
                        port_text.c_str(),
                        "-n",
                        name.c_str(),
                        "-t",
                        duration.c_str(),
                        "-w",
                        "3",
                        "-P",
                        "-q",
                        compact ? "-C" : nullptr,
                        nullptr};
  Child c;
  if (posix_spawn(&c.pid, path.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) !=
      0) {
    c.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  c.out = fds[0];
  return c;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[1024];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

double field(const std::string& text, const char* key) {
  const std::string needle = std::string(" ") + key + "=";
  const std::size_t at = text.find(needle);
  return at == std::string::npos ? -1.0 : std::atof(text.c_str() + at + needle.size());
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int human_count() {
  std::lock_guard<std::mutex> lock(zbx::world_lock());
  return zbx::g_world.humanCount;
}

// Places the marker; returns its slot or -1.
int place_marker() {
  std::lock_guard<std::mutex> lock(zbx::world_lock());
  const int slot = zbx::find_free_object_slot();
  if (slot < 0) return -1;
  auto marker = std::make_unique<zbx::WorldObject>();
  zbx::init_object(*marker, zbx::KIND_SMALL_EXPLOSION, 0, {}, {}, {}, 0.01f, 0.0f);
  marker->lifetime = MARKER_LIFETIME;
  zbx::g_world.objects[slot] = std::move(marker);
  return slot;
}

int marker_lifetime(int slot) {
  std::lock_guard<std::mutex> lock(zbx::world_lock());
  const auto& o = zbx::g_world.objects[slot];
  return (o && o->kind == zbx::KIND_SMALL_EXPLOSION) ? o->lifetime : -1;
}

// Rocks in every free object slot, drifting and turning: the largest world
// a snapshot can carry.
void fill_objects() {
  std::lock_guard<std::mutex> lock(zbx::world_lock());
  for (int slot = zbx::find_free_object_slot(); slot >= 0; slot = zbx::find_free_object_slot()) {
    auto rock = std::make_unique<zbx::WorldObject>();
    const auto random = [] { return static_cast<float>(std::rand() % 2000) / 1000.0f - 1.0f; };
    zbx::init_object(*rock, zbx::KIND_ASTEROID, 0,
                     {9.9f * random(), 9.9f * random(), 9.9f * random()},
                     {0.01f * random(), 0.01f * random(), 0.01f * random()},
                     {2 * random(), 2 * random(), 2 * random()}, 0.2f, 0.2f * 0.2f * 0.2f * 400);
    zbx::g_world.objects[slot] = std::move(rock);
  }
}

// What one run of the server gives.
struct Run {
  int joined = 0;
  double stepsPerSecond = 0, missedSteps = 0, cpuPercent = 0;
  // Per client, averaged over the clients of each stream.
  double fullBytes = 0, fullSnapshots = 0, compactBytes = 0, compactSnapshots = 0;
};

// A server run: `full` and `compact` clients of each stream (all of them
// flying), `bots` of the server's own, `fill` for a full object table.
Run serve(int full, int compact, int bots, bool fill) {
  const char* env_seconds = std::getenv("ZBX_LOAD_SECONDS");
  const double seconds = env_seconds ? std::atof(env_seconds) : 60.0;
  zbx::g_server_settings = zbx::ServerSettings{};
  zbx::g_server_settings.MAX_NUMBER_OF_PLAYERS = 32;
  zbx::g_server_settings.NUM_BOTS = bots;
  zbx::g_server_settings.GAME_PORT = free_udp_port();
  const int port = zbx::g_server_settings.GAME_PORT;
  const std::string client = botclient_path();

  zbx::ServerControl control;
  auto server = std::async(std::launch::async, [&control] { zbx::ServerThread(1, control); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  if (fill) fill_objects();
  std::vector<Child> children;
  for (int i = 0; i < full + compact; ++i) {
    children.push_back(spawn_client(client, port, i, seconds + 4, i >= full));
  }
  const auto join_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (human_count() < full + compact && std::chrono::steady_clock::now() < join_deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Run r;
  r.joined = human_count();
  const int slot = fill ? -1 : place_marker();
  const double cpu0 = cpu_seconds();
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const int lifetime = slot >= 0 ? marker_lifetime(slot) : -1;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpu_seconds() - cpu0;

  double reports[2] = {0, 0};
  for (std::size_t i = 0; i < children.size(); ++i) {
    Child& c = children[i];
    const std::string out = c.out >= 0 ? read_all(c.out) : std::string();
    if (c.pid > 0) waitpid(c.pid, nullptr, 0);
    if (field(out, "bytes_per_sec") < 0) continue;
    const bool isCompact = out.find("stream=compact") != std::string::npos;
    (isCompact ? r.compactBytes : r.fullBytes) += field(out, "bytes_per_sec");
    (isCompact ? r.compactSnapshots : r.fullSnapshots) += field(out, "snapshots_per_sec");
    reports[isCompact] += 1;
  }
  if (reports[0] > 0) r.fullBytes /= reports[0], r.fullSnapshots /= reports[0];
  if (reports[1] > 0) r.compactBytes /= reports[1], r.compactSnapshots /= reports[1];
  control.stop.store(1);
  const int waker = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in to = zbx::test::loopback_address(port);
  while (server.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    sendto(waker, "xx", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  close(waker);
  server.get();
  const double steps = lifetime >= 0 ? static_cast<double>(MARKER_LIFETIME - lifetime) : 0.0;
  r.stepsPerSecond = steps / wall;
  r.missedSteps = 50.0 * wall - steps;
  r.cpuPercent = 100.0 * cpu / wall;
  return r;
}

void report(benchmark::State& state, const Run& r, bool steps) {
  state.counters["clients_joined"] = r.joined;
  if (steps) {
    state.counters["steps_per_sec"] = r.stepsPerSecond;
    state.counters["missed_steps"] = r.missedSteps;
  }
  state.counters["server_cpu_pct"] = r.cpuPercent;
  if (r.fullSnapshots > 0) {
    state.counters["full_bytes_per_sec_per_client"] = r.fullBytes;
    state.counters["full_snapshots_per_sec"] = r.fullSnapshots;
  }
  if (r.compactSnapshots > 0) {
    state.counters["compact_bytes_per_sec_per_client"] = r.compactBytes;
    state.counters["compact_snapshots_per_sec"] = r.compactSnapshots;
  }
}

void BM_ServeThirtyOneClients(benchmark::State& state) {
  for (auto _ : state) report(state, serve(CLIENTS, 0, 0, false), true);
}
void BM_ServeThirtyOneCompactClients(benchmark::State& state) {
  for (auto _ : state) report(state, serve(0, CLIENTS, 0, false), true);
}
// One client of each stream in the load game (the others of the full one).
void BM_LoadGameBothStreams(benchmark::State& state) {
  for (auto _ : state) report(state, serve(CLIENTS - 1, 1, 0, false), true);
}
// One client of each stream, 30 bots, and every object slot taken.
void BM_FullWorldBothStreams(benchmark::State& state) {
  for (auto _ : state) report(state, serve(1, 1, 30, true), false);
}
BENCHMARK(BM_ServeThirtyOneClients)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ServeThirtyOneCompactClients)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_LoadGameBothStreams)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_FullWorldBothStreams)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
