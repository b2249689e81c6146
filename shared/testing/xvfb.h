// A private virtual X server for a test: started with -displayfd so that it
// picks a free display, stopped when the object goes away.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kmr::testing {

class Xvfb {
 public:
  // Empty display() when Xvfb cannot be started.
  explicit Xvfb(const std::string& screen = "640x480x24") {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      // The server ends with the test, and keeps its chatter off the test
      // runner's pipe (a server left holding that pipe would stall the runner).
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    char buf[32] = {};
    size_t got = 0;
    while (got < sizeof(buf) - 1) {
      const ssize_t n = read(fds[0], buf + got, sizeof(buf) - 1 - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      if (buf[got - 1] == '\n') break;
    }
    close(fds[0]);
    if (got > 0 && buf[0] >= '0' && buf[0] <= '9') display_ = ":" + std::string(buf, buf + got - 1);
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  const std::string& display() const { return display_; }
  // The server goes away at once, as at the end of a session.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace kmr::testing
