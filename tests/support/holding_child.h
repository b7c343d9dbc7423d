// A process that holds files open: a "sleep" child that inherits the given descriptors, killed
// and reaped when it goes. For the tests of who holds a port.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vornex::testing {

class HoldingChild {
 public:
  explicit HoldingChild(const std::vector<int>& fds) {
    std::vector<int> inherited;
    for (const int fd : fds) inherited.push_back(::dup(fd));  // a duplicate survives the exec
    char name[] = "sleep";
    char seconds[] = "600";
    char* argv[] = {name, seconds, nullptr};
    if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    for (const int fd : inherited) ::close(fd);
  }
  ~HoldingChild() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  HoldingChild(const HoldingChild&) = delete;
  HoldingChild& operator=(const HoldingChild&) = delete;

  // How the port listing names it: "sleep (pid 4711)".
  std::string Text() const { return "sleep (pid " + std::to_string(pid_) + ")"; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace vornex::testing
