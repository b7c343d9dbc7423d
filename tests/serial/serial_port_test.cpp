// The serial port on real pseudo-terminals: opening through COM numbers with exclusive access
// and raw line settings, the end conditions of ReadUntil, purging writes, time limits and
// hang-ups. Limits are long where an answer is expected (only a lost answer waits them out)
// and short where the test waits for a limit to pass.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "foundation/pacing.h"
#include "serial/com_resolver.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::Bytes;
using testing::ToBytes;

constexpr std::uint32_t kLongMs = 60000;  // an answer is expected well within this
constexpr std::uint32_t kShortMs = 2000;  // the test waits for this limit to pass

std::string Error(const char* message, int code) {
  return std::string(message) + ",System Code:" + std::to_string(code);
}

// What another program finds on the path: whether it may lock it, whether TIOCEXCL is set.
struct Holder {
  bool canLock = false;
  bool exclusive = true;
};
Holder Probe(const std::string& path) {
  Holder holder;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return holder;
  int exclusive = 1;
  holder.exclusive = ::ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive != 0;
  holder.canLock = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return holder;
}

struct Trace {
  std::int32_t portId = 0;
  Bytes bytes;
};
void Record(void* user, std::int32_t portId, const std::uint8_t* bytes, std::int32_t count) {
  auto* trace = static_cast<Trace*>(user);
  trace->portId = portId;
  trace->bytes.insert(trace->bytes.end(), bytes, bytes + count);
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.TimeScale(0.05).NoComTtys();
    port_.SetDevicePath(pty_.slavePath());
    port_.SetTimeLimits(kLongMs, kLongMs);
  }

  // ReadUntil into `capacity` bytes; the bytes received go to *text whatever the result.
  bool ReadText(std::string* text, std::size_t capacity = 128) {
    std::vector<std::uint8_t> buffer(capacity);
    std::size_t total = 0;
    const bool ok = port_.ReadUntil(buffer.data(), capacity, &total);
    text->assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(total));
    return ok;
  }

  testing::RunScope run_;
  testing::PtyPair pty_;
  TSerialPort port_{0};  // opens the device path
};

TEST_F(SerialPortTest, OpenRefusesBadNumbersUnknownPortsAndNonTerminals) {
  for (const int com : {1, 2}) {
    TSerialPort port(com);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.LastError(), Error(serial_error::kInvalidPort, EINVAL));
  }
  TSerialPort unknown(7);
  EXPECT_FALSE(unknown.Open());
  EXPECT_EQ(unknown.LastError(), Error(serial_error::kOpen, ENOENT));

  testing::TempDir dir;
  testing::WriteFile(dir.File("plain"), "x");
  port_.SetDevicePath(dir.File("plain"));
  EXPECT_FALSE(port_.Open());
  EXPECT_EQ(port_.LastError(), Error(serial_error::kGetState, ENOTTY));
  EXPECT_TRUE(Probe(dir.File("plain")).canLock);  // the failed open let its descriptor go
}

TEST_F(SerialPortTest, OpensComNumberAsRawLine115200N8N1) {
  // Cook the line first; the master side reaches the slave's settings.
  termios tio{};
  ASSERT_EQ(::tcgetattr(pty_.master(), &tio), 0);
  tio.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
  tio.c_lflag = ICANON | ECHO | ISIG;
  tio.c_iflag = IXON | IXOFF | ICRNL;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_cc[VMIN] = 1;
  ::cfsetspeed(&tio, B9600);
  ASSERT_EQ(::tcsetattr(pty_.master(), TCSANOW, &tio), 0);

  run_.ComTty(3, pty_.slavePath());
  TSerialPort port(3);
  ASSERT_TRUE(port.Open()) << port.LastError();
  ASSERT_EQ(::tcgetattr(pty_.master(), &tio), 0);
  EXPECT_EQ(::cfgetispeed(&tio), B115200);
  EXPECT_EQ(::cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
            static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN] + tio.c_cc[VTIME], 0);
}

TEST_F(SerialPortTest, APortHeldElsewhereIsBusyUntilReleased) {
  ASSERT_TRUE(port_.Open());
  ASSERT_TRUE(port_.Open()) << "opening an open port starts afresh";
  TSerialPort second(0);
  second.SetDevicePath(pty_.slavePath());
  EXPECT_FALSE(second.Open());
  EXPECT_EQ(second.LastError().rfind(serial_error::kOpen, 0), 0u) << second.LastError();
  EXPECT_FALSE(Probe(pty_.slavePath()).canLock);
  EXPECT_TRUE(Probe(pty_.slavePath()).exclusive);
  port_.Close();
  ASSERT_TRUE(second.Open()) << second.LastError();
  second.Close();
  EXPECT_FALSE(Probe(pty_.slavePath()).exclusive);  // a pty would keep it past the close

  // Another program that locks the tty keeps it, even from a privileged station.
  const int other = ::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(port_.Open());
  EXPECT_EQ(port_.LastError(), Error(serial_error::kOpen, EWOULDBLOCK));
  ::close(other);
  EXPECT_TRUE(port_.Open()) << port_.LastError();
}

TEST_F(SerialPortTest, OpenRetryWaitsForALatePortAndGivesUpOnAMissingOne) {
  TSerialPort late(9);
  late.SetOpenBudget(kLongMs);
  std::thread discovery([this] {
    pacing::Sleep(200);
    com_resolver::Register(9, pty_.slavePath());
  });
  EXPECT_TRUE(late.OpenRetry()) << late.LastError();
  discovery.join();

  TSerialPort missing(10);
  missing.SetOpenBudget(kShortMs);
  const auto start = pacing::TClock::now();
  EXPECT_FALSE(missing.OpenRetry());
  EXPECT_GE(pacing::TClock::now() - start, pacing::Scaled(kShortMs));  // tried the whole budget
  EXPECT_EQ(missing.LastError(), Error(serial_error::kOpen, ENOENT));
}

TEST_F(SerialPortTest, EndByteEndsTheReadAndASilentDeviceReportsWhatCame) {
  Trace trace;
  port_.SetReceiveNotify(&Record, &trace, 42);
  ASSERT_TRUE(port_.Open());
  port_.SetEndByte(0x7E);
  pty_.Send(ToBytes("ab~"));
  std::string text;
  EXPECT_TRUE(ReadText(&text)) << port_.LastError();
  EXPECT_EQ(text, "ab~");

  // Without the end byte the same reply waits for more, then fails with the bytes reported.
  port_.ClearEnd();
  port_.SetTimeLimits(kLongMs, kShortMs);
  pty_.Send(ToBytes("ab~"));
  EXPECT_FALSE(ReadText(&text));
  EXPECT_EQ(text, "ab~");
  EXPECT_EQ(port_.LastError(), Error(serial_error::kReadTimeout, ETIMEDOUT));

  EXPECT_EQ(trace.bytes, ToBytes("ab~ab~"));  // the notification saw every byte read
  EXPECT_EQ(trace.portId, 42);
}

TEST_F(SerialPortTest, AtRepliesEndOnOkOrErrorButNotOnAnEchoAlone) {
  testing::ReadLog reads;
  port_.SetReceiveNotify(&testing::ReadLog::Note, &reads, 0);
  testing::ScriptedPeer modem(pty_, '\r', [&](const Bytes& request) {
    const std::string line(request.begin(), request.end());
    if (line == "AT+ECHO\r") return request;
    if (line == "AT+BARE\r") return ToBytes("OK");  // only "K" lies beyond the offset
    if (line == "AT+SPLIT\r") {                     // "OK" over two reads
      EXPECT_TRUE(reads.SendPiece(pty_, ToBytes(line + "\r\nO")));
      return ToBytes("K\r\n");
    }
    return ToBytes(line + (line == "AT+BAD\r" ? "\r\nERROR\r\n" : "\r\n+V:1\r\nOK\r\n"));
  });
  ASSERT_TRUE(port_.Open());
  port_.SetEndTexts({"OK", "ERROR"}, 1);
  auto ask = [this](const std::string& command, std::string* reply) {
    const Bytes line = ToBytes(command + "\r");
    std::uint8_t buffer[128];
    std::size_t got = 0;
    const bool ok = port_.WriteThenRead(line.data(), line.size(), 1, buffer, sizeof buffer, &got);
    reply->assign(reinterpret_cast<char*>(buffer), got);
    return ok;
  };
  std::string reply;
  EXPECT_TRUE(ask("ATE1", &reply));
  EXPECT_EQ(reply, "ATE1\r\r\n+V:1\r\nOK\r\n");
  EXPECT_TRUE(ask("AT+BAD", &reply));
  EXPECT_EQ(reply, "AT+BAD\r\r\nERROR\r\n");
  EXPECT_TRUE(ask("AT+SPLIT", &reply));
  EXPECT_EQ(reply, "AT+SPLIT\r\r\nOK\r\n");
  EXPECT_EQ(reads.PiecesReadApart(), 1u);

  port_.SetTimeLimits(kLongMs, kShortMs);
  EXPECT_FALSE(ask("AT+ECHO", &reply));
  EXPECT_EQ(reply, "AT+ECHO\r");
  EXPECT_FALSE(ask("AT+BARE", &reply));
  EXPECT_EQ(reply, "OK");
}

TEST_F(SerialPortTest, AFullBufferEndsTheReadWithoutATerminator) {
  ASSERT_TRUE(port_.Open());
  port_.SetEndTexts({"ZZ"}, 1);  // never found: the search must stay inside the data
  pty_.Send(ToBytes("0123456789abcdef"));
  std::string text;
  EXPECT_TRUE(ReadText(&text, 8));  // a buffer of exactly 8 bytes
  EXPECT_EQ(text, "01234567");

  Bytes guarded(9, 0xAA);
  std::size_t total = 0;
  EXPECT_TRUE(port_.ReadUntil(guarded.data(), 8, &total));
  EXPECT_EQ(guarded, ToBytes("89abcdef\xAA"));
}

TEST_F(SerialPortTest, WritePurgesUnreadInputAndTimesOutWhenNobodyReads) {
  // The kernel hands bytes to the tty's input a little after they were sent; a second
  // descriptor, opened before the port takes the tty exclusively, shows when they are there.
  const int watcher = ::open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(watcher, 0);
  ASSERT_TRUE(port_.Open());
  pty_.Send(ToBytes("stale"));
  const pacing::TDeadline limit(kLongMs);
  int queued = 0;
  while (::ioctl(watcher, FIONREAD, &queued) == 0 && queued < 5 && !limit.Expired()) {
    pacing::Sleep(20);
  }
  ::close(watcher);
  ASSERT_EQ(queued, 5);
  ASSERT_TRUE(port_.Write(ToBytes("AT\r").data(), 3)) << port_.LastError();
  EXPECT_EQ(pty_.Receive(), ToBytes("AT\r"));
  pty_.Send(ToBytes("fresh"));
  port_.SetTimeLimits(kShortMs, kShortMs);
  std::string text;
  EXPECT_FALSE(ReadText(&text));  // no end condition: ends on the late chunk
  EXPECT_EQ(text, "fresh");

  const Bytes flood(1 << 20, 0x55);
  EXPECT_FALSE(port_.Write(flood.data(), flood.size()));
  EXPECT_EQ(port_.LastError(), Error(serial_error::kWriteTimeout, ETIMEDOUT));
  EXPECT_TRUE(port_.IsOpen());
}

TEST_F(SerialPortTest, AHungUpDeviceFailsReadsAndItsNextWriteClosesThePort) {
  ASSERT_TRUE(port_.Open());
  pty_.CloseMaster();
  std::string text;
  EXPECT_FALSE(ReadText(&text));  // fails at once instead of waiting out the long limit
  EXPECT_EQ(port_.LastError(), Error(serial_error::kReadFailed, EIO));
  EXPECT_FALSE(port_.Write(ToBytes("AT\r").data(), 3));
  EXPECT_EQ(port_.LastError(), Error(serial_error::kFlush, EIO));
  EXPECT_FALSE(port_.IsOpen());

  std::uint8_t byte = 0;
  std::size_t got = 9;
  EXPECT_FALSE(port_.WriteThenRead(&byte, 1, 0, &byte, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(port_.Write(&byte, 1));
  EXPECT_EQ(port_.LastError(), Error(serial_error::kFlush, EBADF));
}

}  // namespace
}  // namespace vornex
