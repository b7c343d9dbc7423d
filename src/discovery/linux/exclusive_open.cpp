// The exclusive test open on Linux, the same way the station's serial port opens a tty:
// open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC), then flock(LOCK_EX|LOCK_NB). A tty held by the
// station's own port fails one of the two (TIOCEXCL refuses the open, the lock refuses root).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "discovery/port_enumeration.h"

namespace vornex {

bool TestOpenTty(const std::string& ttyPath) {
  if (ttyPath.empty()) return false;
  const int fd = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // releases the lock too
  return locked;
}

}  // namespace vornex
