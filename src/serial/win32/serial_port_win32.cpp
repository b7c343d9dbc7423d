// TSerialPort on Windows: "\\.\COMn" (or the port's device path) opened without sharing and in
// overlapped mode, DCB 115200 8N1 without flow control, 4096-byte driver queues.
//
// Reads: the port's read time limits are {MAXDWORD, 0, 0}, so a ReadFile returns at once with
// what is queued, and the wait for the first byte is an overlapped WaitCommEvent(EV_RXCHAR) that
// the port keeps armed. A read arms the wait (unless it is still armed from an earlier read),
// then looks at the input queue, and only when the queue is empty waits for the event up to the
// read limit. Arming before looking means that a byte arriving between the two is never missed.
// A driver-level read limit ({MAXDWORD, MAXDWORD, T}) would be simpler, but some serial stacks
// hold such a read for the whole T even when the reply is already there, which would cost the
// full limit on every exchange.
//
// Outstanding operations: an expired write is cancelled and waited for before Write returns, so
// that nothing refers to the caller's bytes afterwards. The armed event wait refers only to the
// port's own record (TOsPort), which stays where it is until Close has cancelled the wait and
// seen it end.
//
// System codes: GetLastError() of the failing call; WAIT_TIMEOUT for an expired limit,
// ERROR_INVALID_PARAMETER for a COM number that needs a device path or an empty read,
// ERROR_INVALID_HANDLE for a write on a closed port.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>

#include "foundation/pacing.h"
#include "foundation/win32/wide_text.h"
#include "serial/serial_port.h"

namespace vornex {
namespace {

constexpr DWORD kDriverQueueBytes = 4096;
constexpr DWORD kWriteTimeoutMultiplierMs = 1;
constexpr DWORD kWriteTimeoutConstantMs = 50;

DWORD WaitMs(const pacing::TDeadline& deadline) {
  return static_cast<DWORD>(std::max(deadline.RemainingMs(), 0));
}

}  // namespace

struct TSerialPort::TOsPort {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE writeEvent = nullptr;
  HANDLE readEvent = nullptr;
  HANDLE commEvent = nullptr;
  OVERLAPPED commOverlapped{};  // the armed WaitCommEvent; valid while commPending
  DWORD commMask = 0;
  bool commPending = false;

  bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }

  // Cancels an operation of this handle and waits until the system has let go of it.
  void CancelAndWait(OVERLAPPED* overlapped) const {
    ::CancelIoEx(handle, overlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(handle, overlapped, &ignored, TRUE);
  }

  // Waits for an operation of this handle until the deadline. When the wait times out or fails,
  // the operation is cancelled and seen to end, and the code is returned (WAIT_TIMEOUT for an
  // expired deadline); 0 when the operation completed in time.
  DWORD AwaitOrCancel(OVERLAPPED* overlapped, const pacing::TDeadline& deadline) const {
    const DWORD wait = ::WaitForSingleObject(overlapped->hEvent, WaitMs(deadline));
    if (wait == WAIT_OBJECT_0) return 0;
    const DWORD error = wait == WAIT_TIMEOUT ? WAIT_TIMEOUT : ::GetLastError();
    CancelAndWait(overlapped);
    return error;
  }

  // Arms the wait for the next received byte unless it is armed already. False when the
  // system refuses (the device has gone); the error stays in GetLastError().
  bool ArmCommWait() {
    if (commPending) return true;
    ::ResetEvent(commEvent);
    commOverlapped = OVERLAPPED{};
    commOverlapped.hEvent = commEvent;
    commMask = 0;
    if (::WaitCommEvent(handle, &commMask, &commOverlapped)) return true;  // happened already
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    commPending = true;
    return true;
  }

  void Release() {
    if (IsOpen()) {
      if (commPending) {
        ::SetCommMask(handle, 0);  // ends the armed wait
        CancelAndWait(&commOverlapped);
        commPending = false;
      }
      ::CloseHandle(handle);
    }
    for (HANDLE* event : {&writeEvent, &readEvent, &commEvent}) {
      if (*event != nullptr) ::CloseHandle(*event);
      *event = nullptr;
    }
    handle = INVALID_HANDLE_VALUE;
  }
};

TSerialPort::TSerialPort(std::int32_t comNumber)
    : comNumber_(comNumber), os_(std::make_unique<TOsPort>()) {}

TSerialPort::~TSerialPort() {
  Close();
}

bool TSerialPort::Open() {
  // Opening an open port starts afresh, so that its handle and events never leak.
  Close();
  // COM1 and COM2 are refused unless a device path is set.
  if (comNumber_ <= 2 && devicePath_.empty()) {
    return Fail(serial_error::kInvalidPort, ERROR_INVALID_PARAMETER);
  }
  const std::string name = devicePath_.empty() ? ComDevicePath(comNumber_) : devicePath_.str();

  TOsPort& os = *os_;
  os.handle = ::CreateFileW(win32::Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (!os.IsOpen()) return Fail(serial_error::kOpen, static_cast<int>(::GetLastError()));
  const auto failClosing = [this](const char* message) {
    return FailClosing(message, static_cast<int>(::GetLastError()));
  };

  if (!::SetupComm(os.handle, kDriverQueueBytes, kDriverQueueBytes)) {
    return failClosing(serial_error::kBufferSize);
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(os.handle, &dcb)) return failClosing(serial_error::kGetState);
  static_assert(kBaudRate == CBR_115200, "the line speed below is CBR_115200");
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = dcb.XoffChar = dcb.ErrorChar = dcb.EofChar = dcb.EvtChar = 0;
  dcb.XonLim = dcb.XoffLim = 0;
  // Raw bytes both ways: no flow control, no replaced or dropped bytes, and no error that
  // stops all further reads until it is cleared.
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = dcb.fInX = FALSE;
  dcb.fErrorChar = dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!::SetCommState(os.handle, &dcb)) return failClosing(serial_error::kSetState);

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;  // with both totals 0: return what is queued, now
  timeouts.WriteTotalTimeoutMultiplier = kWriteTimeoutMultiplierMs;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
  if (!::SetCommTimeouts(os.handle, &timeouts)) return failClosing(serial_error::kTimeouts);
  if (!::SetCommMask(os.handle, EV_RXCHAR)) return failClosing(serial_error::kSetState);

  for (HANDLE* event : {&os.writeEvent, &os.readEvent, &os.commEvent}) {
    *event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (*event == nullptr) return failClosing(serial_error::kCreateEvent);
  }
  if (!::PurgeComm(os.handle, PURGE_RXABORT | PURGE_RXCLEAR)) {
    return failClosing(serial_error::kFlush);
  }
  opened_ = true;
  return true;
}

void TSerialPort::Close() {
  os_->Release();
  opened_ = false;
}

bool TSerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
  TOsPort& os = *os_;
  // A closed port fails like a purge on a handle that is not there.
  if (!os.IsOpen()) return Fail(serial_error::kFlush, ERROR_INVALID_HANDLE);
  if (count > MAXDWORD) return Fail(serial_error::kWriteIncomplete, ERROR_INVALID_PARAMETER);
  // Every write starts clean: whatever was queued for reading is thrown away, and so is output
  // when the previous write did not complete (see the POSIX port for why only then).
  const DWORD purge = PURGE_RXCLEAR | (outputDirty_ ? PURGE_TXABORT | PURGE_TXCLEAR : 0);
  if (!::PurgeComm(os.handle, purge)) {
    return FailClosing(serial_error::kFlush, static_cast<int>(::GetLastError()));
  }
  outputDirty_ = true;

  const pacing::TDeadline deadline(writeLimitMs_);
  OVERLAPPED overlapped{};
  overlapped.hEvent = os.writeEvent;
  ::ResetEvent(os.writeEvent);
  DWORD written = 0;
  if (!::WriteFile(os.handle, bytes, static_cast<DWORD>(count), &written, &overlapped)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return Fail(serial_error::kNotPending, static_cast<int>(error));
    if (const DWORD waitError = os.AwaitOrCancel(&overlapped, deadline); waitError != 0) {
      return Fail(
          waitError == WAIT_TIMEOUT ? serial_error::kWriteTimeout : serial_error::kWaitFailed,
          static_cast<int>(waitError));
    }
    if (!::GetOverlappedResult(os.handle, &overlapped, &written, FALSE)) {
      return Fail(serial_error::kWriteIncomplete, static_cast<int>(::GetLastError()));
    }
  }
  if (written != count) return Fail(serial_error::kWriteIncomplete, ERROR_WRITE_FAULT);
  outputDirty_ = false;
  return true;
}

bool TSerialPort::Read(std::uint8_t* buffer, std::size_t count, std::size_t* got) {
  *got = 0;
  if (!opened_) return false;
  if (count == 0) return Fail(serial_error::kReadFailed, ERROR_INVALID_PARAMETER);
  TOsPort& os = *os_;
  const auto failLast = [this](const char* message) {
    return Fail(message, static_cast<int>(::GetLastError()));
  };

  const pacing::TDeadline deadline(readLimitMs_);
  for (;;) {
    if (!os.ArmCommWait()) return failLast(serial_error::kReadFailed);
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(os.handle, &errors, &status)) return failLast(serial_error::kCommStat);

    if (status.cbInQue > 0) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, status.cbInQue));
      OVERLAPPED overlapped{};
      overlapped.hEvent = os.readEvent;
      ::ResetEvent(os.readEvent);
      DWORD n = 0;
      if (!::ReadFile(os.handle, buffer, want, &n, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) return failLast(serial_error::kNotPending);
        // Queued bytes make this read complete at once; the limit only guards a broken driver.
        if (const DWORD waitError = os.AwaitOrCancel(&overlapped, deadline); waitError != 0) {
          return Fail(
              waitError == WAIT_TIMEOUT ? serial_error::kReadTimeout : serial_error::kWaitFailed,
              static_cast<int>(waitError));
        }
        if (!::GetOverlappedResult(os.handle, &overlapped, &n, FALSE)) {
          return failLast(serial_error::kReadFailed);
        }
      }
      if (n > 0) {
        if (notify_ != nullptr) notify_(notifyUser_, portId_, buffer, static_cast<std::int32_t>(n));
        *got = n;
        return true;
      }
    }

    if (deadline.Expired()) return Fail(serial_error::kReadTimeout, WAIT_TIMEOUT);
    // The event fired for bytes that an earlier read already took: arm again and look again.
    if (!os.commPending) continue;
    const DWORD wait = ::WaitForSingleObject(os.commEvent, WaitMs(deadline));
    // On a timeout the wait stays armed for the next read.
    if (wait == WAIT_TIMEOUT) return Fail(serial_error::kReadTimeout, WAIT_TIMEOUT);
    if (wait != WAIT_OBJECT_0) return failLast(serial_error::kWaitFailed);
    DWORD ignored = 0;
    os.commPending = false;
    if (!::GetOverlappedResult(os.handle, &os.commOverlapped, &ignored, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_OPERATION_ABORTED && error != ERROR_IO_INCOMPLETE) {
        return Fail(serial_error::kReadFailed, static_cast<int>(error));
      }
    }
    // The wait ended without an event. Nothing of ours cancels it while the port is open, but
    // some serial stacks end every wait so after a moment (Wine on a pseudo-terminal does, after
    // about 2 ms). Its record may even still read "incomplete": the event is set only when the
    // wait ends, but Wine can end a wait before it has recorded the wait as pending, and that
    // late record then stays. Either way, look at the queue again and arm afresh; a device that
    // has gone fails there.
  }
}

}  // namespace vornex
