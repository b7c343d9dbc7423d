// What the line records need from a POSIX system.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "line/line_os.h"

namespace vornex::line {

bool WaitReadable(int socket, int ms) {
  pollfd fd{socket, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&fd, 1, ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace vornex::line
