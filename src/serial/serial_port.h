// TSerialPort, the one way the station talks to a device: every AT exchange on a modem port
// and every framed exchange on a diagnostic port goes through it. It opens a COM port
// exclusively with fixed line settings (raw, 115200 8N1), writes a request within the write
// time limit, and reads a reply in chunks until the end condition that the caller set before
// the exchange (an end byte such as the frame flag, end texts, or a test of the whole reply such
// as the AT channel's final result line after the echo), until the buffer is full, or until
// nothing more arrives within the read time limit.
//
// Who owns which deadline: the port owns only its own waits (the open budget of OpenRetry, the
// write limit per write, the read limit per read). Attempt counts and pauses between write and
// read belong to the protocol layer above it. All of them run on the pacing clock.
//
// Operations return true/false and keep the text of the last failure as
// "<message>,System Code:<code>", with the system's own error number (errno on Linux,
// GetLastError() on Windows). A port is used by one thread at a time; it takes no lock.
//
// The chunked reads, the end conditions and the open retries are the same on every system
// (serial_port.cpp); opening, closing, one write and one read are the system's own
// (posix/serial_port_posix.cpp, win32/serial_port_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/text.h"

namespace vornex {

// Receive notification: called after every successful read with the bytes of that read.
using TReceiveNotify = void (*)(void* user, std::int32_t portId, const std::uint8_t* bytes,
                                std::int32_t count);

// End condition of a whole reply: true once the bytes received so far (all of them, zero bytes
// included) hold a complete reply. It is asked after every chunk, so it must be a pure function
// of those bytes.
using TReplyComplete = std::function<bool(std::string_view received)>;

// Defaults of a new port.
constexpr std::uint32_t kDefaultWriteLimitMs = 200;
constexpr std::uint32_t kDefaultReadLimitMs = 200;
constexpr std::uint32_t kBaudRate = 115200;
// Pause between two attempts of OpenRetry, so that waiting for an absent port costs no core.
constexpr std::uint32_t kOpenRetryPauseMs = 1;

// Failure messages (the part before ",System Code:").
namespace serial_error {
constexpr const char* kInvalidPort = "port number is invalid.";
constexpr const char* kOpen = "fail to open the port.";
constexpr const char* kBufferSize = "fail to set buffer size.";
constexpr const char* kGetState = "fail to get comm state.";
constexpr const char* kSetState = "fail to set comm state.";
constexpr const char* kTimeouts = "fail to set timeout.";
constexpr const char* kFlush = "fail to flush comm port.";
constexpr const char* kCreateEvent = "fail to create write event.";
constexpr const char* kNotPending = "it's not ERROR_IO_PENDING error.";
constexpr const char* kWriteTimeout = "write operation is timeout.";
constexpr const char* kReadTimeout = "read operation is timeout.";
constexpr const char* kWaitFailed =
    "An error has occurred in WaitForSingleObject. \t\t\t\t\tThis usually indicates a problem "
    "with the OVERLAPPED structure's event handle.";
constexpr const char* kWriteIncomplete = "write operation is not completed";
constexpr const char* kReadFailed = "error in read form rs232.";
constexpr const char* kCommStat = "fail to get comm stat.";
}  // namespace serial_error

// "\\.\COM12", the name by which Windows opens COM n (the port's name when it has no device
// path); empty for n <= 0.
std::string ComDevicePath(int com);

class TSerialPort {
 public:
  explicit TSerialPort(std::int32_t comNumber);
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // Opens and configures the port once; false with the last error set on failure.
  bool Open();
  // Open again and again (kOpenRetryPauseMs apart) until it succeeds or the open budget is
  // spent; true once open.
  bool OpenRetry();
  // Closes the port; nothing when it is not open.
  void Close();

  // Discards pending input and output, then writes all bytes within the write time limit.
  bool Write(const std::uint8_t* bytes, std::size_t count);
  // One read: waits up to the read time limit for the first byte, then takes what is queued,
  // at most `count` bytes. True with *got > 0 on success.
  bool Read(std::uint8_t* buffer, std::size_t count, std::size_t* got);
  // One byte, then whatever else is queued (at most capacity - 1 more); a zero byte follows the
  // data when there is room.
  bool ReadChunk(std::uint8_t* buffer, std::size_t capacity, std::size_t* got);
  // Chunks until the end condition, a full buffer, or a chunk that does not come in time.
  // True when no chunk failed and at least one byte arrived; *total counts the bytes received
  // either way (a late chunk after some data gives false with those bytes reported).
  bool ReadUntil(std::uint8_t* buffer, std::size_t capacity, std::size_t* total);
  // Write, pause (pacing clock), ReadUntil.
  bool WriteThenRead(const std::uint8_t* request, std::size_t count, std::uint32_t pauseMs,
                     std::uint8_t* reply, std::size_t capacity, std::size_t* got);

  // End condition, byte mode: this byte ends a read when it arrives anywhere but first.
  void SetEndByte(std::uint8_t byte);
  // End condition, byte mode: any of these bytes at a position from `offset` on ends a read.
  void SetEndBytes(std::vector<std::uint8_t> bytes, std::int32_t offset);
  // End condition, text mode: any of these texts, searched from `offset` on, ends a read.
  void SetEndTexts(std::vector<std::string> texts, std::int32_t offset);
  // End condition, reply mode: a read ends as soon as `complete` holds for all bytes received.
  void SetEndReply(TReplyComplete complete);
  // No end condition: reads end on a full buffer or a late chunk only.
  void ClearEnd();

  // Owner's settings, made after construction.
  void SetOpenBudget(std::uint32_t ms) { openBudgetMs_ = ms; }
  void SetTimeLimits(std::uint32_t writeMs, std::uint32_t readMs) {
    writeLimitMs_ = writeMs;
    readLimitMs_ = readMs;
  }
  void SetDevicePath(std::string_view path) { devicePath_ = path; }
  void SetReceiveNotify(TReceiveNotify notify, void* user, std::int32_t portId) {
    notify_ = notify;
    notifyUser_ = user;
    portId_ = portId;
  }

  std::int32_t ComNumber() const { return comNumber_; }
  bool IsOpen() const { return opened_; }
  std::uint32_t ReadLimitMs() const { return readLimitMs_; }
  // "<message>,System Code:<code>" of the last failure; empty before any failure.
  const std::string& LastError() const { return lastError_.str(); }

 private:
  bool Fail(const char* message, int systemCode);
  // Fail, then close the descriptor: the failures of Open after the open itself.
  bool FailClosing(const char* message, int systemCode);

  enum class TEndMode { kBytes, kTexts, kReply };

  bool EndConditionMet(const std::uint8_t* buffer, std::size_t total, std::size_t chunkStart,
                       std::size_t chunkCount) const;

  std::int32_t comNumber_;
  std::uint32_t openBudgetMs_ = 0;
  std::uint32_t writeLimitMs_ = kDefaultWriteLimitMs;
  std::uint32_t readLimitMs_ = kDefaultReadLimitMs;
  bool opened_ = false;
  TFixedText<260> devicePath_;
  // The open port as the system knows it (descriptor or handle, and what goes with it); null
  // while closed.
  struct TOsPort;
  std::unique_ptr<TOsPort> os_;
  bool outputDirty_ = false;  // the last write did not complete: purge output before the next
  TFixedText<256> lastError_;
  TReceiveNotify notify_ = nullptr;
  std::vector<std::uint8_t> endBytes_;
  std::vector<std::string> endTexts_;
  TReplyComplete endReply_;
  std::int32_t endOffset_ = 0;
  TEndMode endMode_ = TEndMode::kBytes;
  void* notifyUser_ = nullptr;
  std::int32_t portId_ = 0;
};

}  // namespace vornex
