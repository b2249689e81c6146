// A private PulseAudio server for a test, with one null sink ("kmrnull")
// whose monitor can be recorded: no sound card needed. Its socket lies in
// a folder of its own, given to clients as XDG_RUNTIME_DIR.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "shared/testing/wait.h"

namespace kmr::testing {

class PulseServer {
 public:
  // runtime_dir: an empty folder the server may use. Ready() is false when
  // pulseaudio cannot be started.
  explicit PulseServer(const std::string& runtime_dir) : dir_(runtime_dir) {
    std::filesystem::create_directories(dir_);
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
      }
      setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      execlp("pulseaudio", "pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
             "--load=module-null-sink sink_name=kmrnull", "--load=module-native-protocol-unix",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return;
    // Ready once a client gets an answer (the server needs a second or two).
    const std::string check = "XDG_RUNTIME_DIR='" + dir_ + "' HOME='" + dir_ + "' pactl info >/dev/null 2>&1";
    ready_ = WaitUntil([&] {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;  // it ended: not ready
      }
      return std::system(check.c_str()) == 0;
    }) && pid_ > 0;
  }
  ~PulseServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& RuntimeDir() const { return dir_; }
  // Points this process (and the programs it starts) at the server.
  void UseFromHere() const {
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("HOME", dir_.c_str(), 1);
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace kmr::testing
