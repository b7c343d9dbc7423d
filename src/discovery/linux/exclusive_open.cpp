// The exclusive test open on Linux, the same way the station's serial port opens a tty:
// open(O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC), then flock(LOCK_EX|LOCK_NB). A tty held by the
// station's own port fails one of the two (TIOCEXCL refuses the open, the lock refuses root).
// The failing call's errno says which way it failed: no permission, no node, or in use.
// Linux has no COM names of its own: a COM number's tty is the one its listing gave.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "discovery/port_enumeration.h"

namespace vornex {
namespace {

TTtyOpen OpenFailure(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return TTtyOpen::kDenied;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      return TTtyOpen::kMissing;
    default:
      return TTtyOpen::kBusy;
  }
}

}  // namespace

std::string ComTtyPath(int) {
  return {};
}

TTtyTest TestOpenTty(const std::string& ttyPath) {
  if (ttyPath.empty()) return {TTtyOpen::kMissing, ENOENT};
  const int fd = ::open(ttyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return {OpenFailure(error), error};
  }
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const int error = locked ? 0 : errno;
  ::close(fd);  // releases the lock too
  return locked ? TTtyTest{TTtyOpen::kOpened, 0} : TTtyTest{TTtyOpen::kBusy, error};
}

}  // namespace vornex
