// Pseudo-terminal pairs on Linux.
#include "sim/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vornex::sim {
namespace {

bool MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string Reason(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<TPty> TPty::Open(std::string* error) {
  auto pty = std::make_unique<TPty>(TPasskey{});
  pty->master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty->master_ < 0) {
    if (error != nullptr) *error = Reason("posix_openpt");
    return nullptr;
  }
  char name[128] = {};
  if (::grantpt(pty->master_) != 0 || ::unlockpt(pty->master_) != 0 ||
      ::ptsname_r(pty->master_, name, sizeof name) != 0) {
    if (error != nullptr) *error = Reason("pseudo-terminal set-up");
    return nullptr;
  }
  pty->slavePath_ = name;
  pty->slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (pty->slave_ < 0) {
    if (error != nullptr) *error = Reason("open pseudo-terminal slave");
    return nullptr;
  }
  // Raw before anyone else opens it: a cooked slave would echo our replies back to us.
  if (!MakeRaw(pty->slave_) || !MakeRaw(pty->master_)) {
    if (error != nullptr) *error = Reason("raw line settings");
    return nullptr;
  }
  return pty;
}

TPty::~TPty() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

std::size_t TPty::UnreadBytes() const {
  int queued = 0;
  // The slave's input queue belongs to the terminal, so the kept descriptor sees what the
  // station's descriptor has still to read.
  if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

bool TPty::HoldBusy() {
  return slave_ >= 0 && ::flock(slave_, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace vornex::sim
