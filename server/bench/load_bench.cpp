// A server under load: the real ServerThread (as "zbx3d -ds" runs it) serves 31
// zbx3d-botclient processes that fly, turn and fire, for ZBX_LOAD_SECONDS
// (default 60) seconds. Reports world steps per second and missed steps
// (against 50 a second), the CPU use of the server (this process; the clients
// are children and not counted), and bytes and snapshots per second per client.
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

Child spawn_client(const std::string& path, int port, int index, double seconds) {
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

void BM_ServeThirtyOneClients(benchmark::State& state) {
  const char* env_seconds = std::getenv("ZBX_LOAD_SECONDS");
  const double seconds = env_seconds ? std::atof(env_seconds) : 60.0;
  zbx::g_server_settings = zbx::ServerSettings{};
  zbx::g_server_settings.MAX_NUMBER_OF_PLAYERS = 32;
  zbx::g_server_settings.GAME_PORT = free_udp_port();
  const int port = zbx::g_server_settings.GAME_PORT;
  const std::string client = botclient_path();

  for (auto _ : state) {
    zbx::ServerControl control;
    auto server = std::async(std::launch::async, [&control] { zbx::ServerThread(1, control); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<Child> children;
    for (int i = 0; i < CLIENTS; ++i)
      children.push_back(spawn_client(client, port, i, seconds + 4));

    const auto join_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (human_count() < CLIENTS && std::chrono::steady_clock::now() < join_deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int joined = human_count();
    const int slot = place_marker();
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const int lifetime = slot >= 0 ? marker_lifetime(slot) : -1;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds() - cpu0;

    double bytes = 0, snapshots = 0, reports = 0;
    for (Child& c : children) {
      const std::string out = c.out >= 0 ? read_all(c.out) : std::string();
      if (c.pid > 0) waitpid(c.pid, nullptr, 0);
      if (field(out, "bytes_per_sec") >= 0) {
        bytes += field(out, "bytes_per_sec");
        snapshots += field(out, "snapshots_per_sec");
        reports += 1;
      }
    }
    control.stop.store(1);
    const int waker = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = zbx::test::loopback_address(port);
    while (server.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      sendto(waker, "xx", 2, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    close(waker);
    server.get();

    const double steps = lifetime >= 0 ? static_cast<double>(MARKER_LIFETIME - lifetime) : 0.0;
    state.counters["clients_joined"] = joined;
    state.counters["steps_per_sec"] = steps / wall;
    state.counters["missed_steps"] = 50.0 * wall - steps;
    state.counters["server_cpu_pct"] = 100.0 * cpu / wall;
    state.counters["bytes_per_sec_per_client"] = reports > 0 ? bytes / reports : 0;
    state.counters["snapshots_per_sec_per_client"] = reports > 0 ? snapshots / reports : 0;
    if (slot < 0 || lifetime < 0) state.SkipWithError("marker object lost");
  }
}
BENCHMARK(BM_ServeThirtyOneClients)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
