// A private Xvfb for GUI tests: it picks a free display number itself and
// tells it through a pipe, so parallel test processes never collide.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zbx::test {

struct XvfbOptions {
  const char* screen = "1024x768x24";
  // The server goes when this process does, without anyone stopping it.
  bool endWithParent = false;
  // Its start-up chatter about busy display numbers is of no interest.
  bool quiet = false;
};

// Starts the server and points DISPLAY at it; child receives its process id.
inline bool start_xvfb(pid_t& child, const XvfbOptions& options) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  child = fork();
  if (child == 0) {
    close(fds[0]);
    if (options.endWithParent) prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (options.quiet) std::freopen("/dev/null", "w", stderr);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", options.screen, "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) return false;
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

}  // namespace zbx::test
