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

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/pacing.h"
#include "foundation/text.h"
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

bool TSerialPort::Fail(const char* message, int systemCode) {
  lastError_ =
      FormatBounded(decltype(lastError_)::kCapacity, "%s,System Code:%d", message, systemCode);
  return false;
}

bool TSerialPort::FailClosing(const char* message, int systemCode) {
  Fail(message, systemCode);
  Close();
  return false;
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

  fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return Fail(serial_error::kOpen, errno);
  // Lock first: a port that someone else holds must not get its exclusive flag from us.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return FailClosing(serial_error::kOpen, errno);
  // Best effort: on something that is not a tty the next step reports the real cause.
  exclusive_ = ::ioctl(fd_, TIOCEXCL) == 0;

  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return FailClosing(serial_error::kGetState, errno);
  MakeLineSettings(&tio);
  if (::cfsetispeed(&tio, kLineSpeed) != 0 || ::cfsetospeed(&tio, kLineSpeed) != 0 ||
      ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
    return FailClosing(serial_error::kSetState, errno);
  }
  if (::tcflush(fd_, TCIFLUSH) != 0) return FailClosing(serial_error::kFlush, errno);

  opened_ = true;
  return true;
}

bool TSerialPort::OpenRetry() {
  const pacing::Deadline budget(openBudgetMs_);
  for (;;) {
    if (Open()) return true;
    if (budget.Expired()) return false;
    pacing::Sleep(kOpenRetryPauseMs);
  }
}

void TSerialPort::Close() {
  if (fd_ >= 0) {
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // releases the lock too
  }
  fd_ = -1;
  exclusive_ = false;
  opened_ = false;
}

bool TSerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
  // A closed port fails like a purge on a descriptor that is not there.
  if (fd_ < 0) return Fail(serial_error::kFlush, EBADF);
  // Every write starts clean: whatever was queued for reading is thrown away. Output is
  // thrown away too when the previous write did not complete, so that no rest of an abandoned
  // request follows a new one (a complete write leaves nothing of ours to discard, and sparing
  // the output purge keeps the streaming loop fast).
  const int purge = outputDirty_ ? TCIOFLUSH : TCIFLUSH;
  if (::tcflush(fd_, purge) != 0) return FailClosing(serial_error::kFlush, errno);
  outputDirty_ = true;

  const pacing::Deadline deadline(writeLimitMs_);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, bytes + done, count - done);
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
    pollfd pfd{fd_, POLLOUT, 0};
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

  const pacing::Deadline deadline(readLimitMs_);
  for (;;) {
    pollfd pfd{fd_, POLLIN, 0};
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
    const ssize_t n = ::read(fd_, buffer, count);
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

bool TSerialPort::ReadChunk(std::uint8_t* buffer, std::size_t capacity, std::size_t* got) {
  *got = 0;
  if (capacity == 0) return false;  // not even the first byte would fit

  // The first byte and whatever else is queued behind it arrive in one read: the same bytes
  // as a one-byte read followed by a read of the queued count, in one system call.
  std::size_t count = 0;
  if (!Read(buffer, capacity, &count) || count == 0) return false;
  if (count < capacity) buffer[count] = 0;
  *got = count;
  return true;
}

bool TSerialPort::EndConditionMet(const std::uint8_t* buffer, std::size_t total,
                                  std::size_t chunkStart, std::size_t chunkCount) const {
  if (endOffset_ >= 0 && total <= static_cast<std::size_t>(endOffset_)) return false;
  if (!textMode_) {
    // Only the chunk that just came is searched, and within it only the positions from the
    // offset on: with offset 1 the opening flag of a frame never ends its own read, also when
    // it arrives together with the first bytes of the frame.
    const std::size_t from = std::max<std::size_t>(chunkStart, endOffset_ > 0 ? endOffset_ : 0);
    const std::uint8_t* chunk = buffer + from;
    const std::uint8_t* chunkEnd = buffer + chunkStart + chunkCount;
    if (chunk >= chunkEnd) return false;
    return std::any_of(endBytes_.begin(), endBytes_.end(), [&](std::uint8_t end) {
      return std::find(chunk, chunkEnd, end) != chunkEnd;
    });
  }
  // The received bytes from the offset on, as a text that ends at the first zero byte. The
  // search never goes past the bytes received, also when a full buffer holds no zero byte.
  const std::size_t from = endOffset_ > 0 ? static_cast<std::size_t>(endOffset_) : 0;
  std::string_view text(reinterpret_cast<const char*>(buffer) + from, total - from);
  text = text.substr(0, text.find('\0'));
  return std::any_of(endTexts_.begin(), endTexts_.end(), [&](const std::string& end) {
    return text.find(end) != std::string_view::npos;
  });
}

bool TSerialPort::ReadUntil(std::uint8_t* buffer, std::size_t capacity, std::size_t* total) {
  const bool endActive = textMode_ ? !endTexts_.empty() : !endBytes_.empty();
  std::size_t received = 0;
  bool ok = true;
  for (;;) {
    std::size_t chunk = 0;
    ok = ReadChunk(buffer + received, capacity - received, &chunk) && ok;
    if (chunk == 0 || !ok) break;  // a failed chunk's bytes are not counted
    const std::size_t chunkStart = received;
    received += chunk;
    if (endActive && EndConditionMet(buffer, received, chunkStart, chunk)) break;
    if (received >= capacity) break;
  }
  *total = received;
  return ok && received > 0;
}

bool TSerialPort::WriteThenRead(const std::uint8_t* request, std::size_t count,
                                std::uint32_t pauseMs, std::uint8_t* reply, std::size_t capacity,
                                std::size_t* got) {
  *got = 0;
  if (!opened_) return false;
  if (!Write(request, count)) return false;
  if (pauseMs > 0) pacing::Sleep(pauseMs);
  return ReadUntil(reply, capacity, got);
}

void TSerialPort::SetEndByte(std::uint8_t byte) {
  SetEndBytes({byte}, 1);
}

void TSerialPort::SetEndBytes(std::vector<std::uint8_t> bytes, std::int32_t offset) {
  endBytes_ = std::move(bytes);
  endTexts_.clear();
  endOffset_ = offset;
  textMode_ = false;
}

void TSerialPort::SetEndTexts(std::vector<std::string> texts, std::int32_t offset) {
  endTexts_ = std::move(texts);
  endBytes_.clear();
  endOffset_ = offset;
  textMode_ = true;
}

void TSerialPort::ClearEnd() {
  endBytes_.clear();
  endTexts_.clear();
  endOffset_ = 0;
  textMode_ = false;
}

}  // namespace vornex
