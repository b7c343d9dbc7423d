// TSerialPort on Linux: a tty opened non-blocking with termios line settings, poll() for every
// time limit, tcflush() for purges and FIONREAD for the number of queued input bytes.
//
// Exclusive access: the port takes flock(LOCK_EX|LOCK_NB) on its descriptor, so a second
// opener that does the same (another port object, another station, a terminal program that
// locks) is refused even as root and the port shows as busy; TIOCEXCL on top refuses plain
// opens by unprivileged programs. The port clears TIOCEXCL again when it closes, since a
// pseudo-terminal keeps that flag for as long as its master side is open.
//
// Waits: Write waits for room in the output queue up to the write limit, Read for the first
// byte up to the read limit, OpenRetry repeats Open for the open budget; all on the pacing
// clock. A wait that expires leaves nothing pending: a POSIX write copies its bytes into the
// kernel at once (bytes already taken stay queued for sending, the rest are never sent) and a
// read that did not happen has no buffer of ours in hand, so nothing refers to the caller's
// memory after an operation returns.
//
// Which tty: the device path when the owner set one (the tty of the record the port was listed
// with), so that a later listing that no longer shows the port, or shows its number elsewhere,
// cannot change what an open port object reopens; the COM number stays the port's name in texts
// and logs. Without a device path the COM number is looked up in the resolver, for ports
// opened by number alone.
//
// System codes: errno of the failing call; where there is none, EINVAL for a COM number that
// needs a device path, ENOENT for a COM number without a tty, ETIMEDOUT for an expired limit,
// EIO for a hang-up, EBADF for a write on a closed port.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "foundation/pacing.h"
#include "serial/com_resolver.h"
#include "serial/serial_port.h"

namespace vornex {
namespace {

static_assert(kBaudRate == 115200, "the line speed below is B115200");
constexpr speed_t kLineSpeed = B115200;

// Raw 115200 8N1: no echo, no line editing, no translation, no flow control; a read returns
// what is queued and never waits inside the driver (the port's own waits use poll()).
void MakeLineSettings(termios* tio) {
  ::cfmakeraw(tio);
  tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio->c_cflag |= CS8 | CLOCAL | CREAD;
  tio->c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
}

}  // namespace

// The open tty: its descriptor, and whether this port set TIOCEXCL on it (to be cleared again on
// Close).
struct TSerialPort::TOsPort {
  int fd = -1;
  bool exclusive = false;
};

TSerialPort::TSerialPort(std::int32_t comNumber)
    : comNumber_(comNumber), os_(std::make_unique<TOsPort>()) {}

TSerialPort::~TSerialPort() {
  Close();
}

bool TSerialPort::Open() {
  // Opening an open port starts afresh, so that its descriptor and lock never leak.
  Close();
  // COM1 and COM2 are refused unless a device path is set.
  if (comNumber_ <= 2 && devicePath_.empty()) return Fail(serial_error::kInvalidPort, EINVAL);

  std::string name = devicePath_.str();
  if (name.empty()) {
    std::optional<std::string> tty = com_resolver::Resolve(comNumber_);
    if (!tty) return Fail(serial_error::kOpen, ENOENT);
    name = std::move(*tty);
  }

  os_->fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (os_->fd < 0) return Fail(serial_error::kOpen, errno);
  // Lock first: a port that someone else holds must not get its exclusive flag from us.
  if (::flock(os_->fd, LOCK_EX | LOCK_NB) != 0) return FailClosing(serial_error::kOpen, errno);
  // Best effort: on something that is not a tty the next step reports the real cause.
  os_->exclusive = ::ioctl(os_->fd, TIOCEXCL) == 0;

  termios tio{};
  if (::tcgetattr(os_->fd, &tio) != 0) return FailClosing(serial_error::kGetState, errno);
  MakeLineSettings(&tio);
  if (::cfsetispeed(&tio, kLineSpeed) != 0 || ::cfsetospeed(&tio, kLineSpeed) != 0 ||
      ::tcsetattr(os_->fd, TCSANOW, &tio) != 0) {
    return FailClosing(serial_error::kSetState, errno);
  }
  if (::tcflush(os_->fd, TCIFLUSH) != 0) return FailClosing(serial_error::kFlush, errno);

  opened_ = true;
  return true;
}

void TSerialPort::Close() {
  if (os_->fd >= 0) {
    if (os_->exclusive) ::ioctl(os_->fd, TIOCNXCL);
    ::close(os_->fd);  // releases the lock too
  }
  os_->fd = -1;
  os_->exclusive = false;
  opened_ = false;
}

bool TSerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
  // A closed port fails like a purge on a descriptor that is not there.
  if (os_->fd < 0) return Fail(serial_error::kFlush, EBADF);
  // Every write starts clean: whatever was queued for reading is thrown away. Output is
  // thrown away too when the previous write did not complete, so that no rest of an abandoned
  // request follows a new one (a complete write leaves nothing of ours to discard, and sparing
  // the output purge keeps the streaming loop fast).
  const int purge = outputDirty_ ? TCIOFLUSH : TCIFLUSH;
  if (::tcflush(os_->fd, purge) != 0) return FailClosing(serial_error::kFlush, errno);
  outputDirty_ = true;

  const pacing::TDeadline deadline(writeLimitMs_);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(os_->fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return Fail(serial_error::kWriteIncomplete, EIO);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return Fail(serial_error::kWriteIncomplete, errno);
    }
    // The output queue is full: wait for room until the write limit has passed.
    pollfd pfd{os_->fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, deadline.RemainingMs());
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(serial_error::kWriteIncomplete, errno);
    }
    if (ready == 0) return Fail(serial_error::kWriteTimeout, ETIMEDOUT);
    if ((pfd.revents & POLLOUT) == 0) {
      return Fail(serial_error::kWriteIncomplete, (pfd.revents & POLLNVAL) ? EBADF : EIO);
    }
  }
  outputDirty_ = false;
  return true;
}

bool TSerialPort::Read(std::uint8_t* buffer, std::size_t count, std::size_t* got) {
  *got = 0;
  if (!opened_) return false;
  if (count == 0) return Fail(serial_error::kReadFailed, EINVAL);

  const pacing::TDeadline deadline(readLimitMs_);
  for (;;) {
    pollfd pfd{os_->fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, deadline.RemainingMs());
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Fail(serial_error::kReadFailed, errno);
    }
    if (ready == 0) return Fail(serial_error::kReadTimeout, ETIMEDOUT);
    if ((pfd.revents & POLLIN) == 0) {
      // Hung up or in error, with nothing left to read.
      return Fail(serial_error::kReadFailed, (pfd.revents & POLLNVAL) ? EBADF : EIO);
    }
    const ssize_t n = ::read(os_->fd, buffer, count);
    if (n > 0) {
      if (notify_ != nullptr) notify_(notifyUser_, portId_, buffer, static_cast<std::int32_t>(n));
      *got = static_cast<std::size_t>(n);
      return true;
    }
    // Reported readable but nothing came: the other end has gone (end of file on a tty).
    if (n == 0) return Fail(serial_error::kReadFailed, EIO);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    return Fail(serial_error::kReadFailed, errno);
  }
}

}  // namespace vornex
