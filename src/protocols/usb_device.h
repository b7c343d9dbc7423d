// TUsbDevice, the connection object through which one thread talks to one physical device:
// its port group, its modem and diagnostic ports, its own log ("ROrUdi_<n>.txt") and the
// notification function through which it tells its owner about progress, received bytes,
// attempts and error texts. The coordinator keeps one (number 200) for discovery; each worker
// creates one per job, numbered with its slot.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "discovery/port_info.h"
#include "foundation/logger.h"
#include "protocols/packet.h"
#include "serial/serial_port.h"

namespace vornex {

// Notification statuses.
constexpr std::int32_t CB_PROGRESS = 0;  // data: const TProgressInfo*
constexpr std::int32_t CB_RECEIVED = 1;  // data: const TReceivedBytes*
constexpr std::int32_t CB_ATTEMPT = 2;   // data: nothing
constexpr std::int32_t CB_MESSAGE = 3;   // data: const char* (UTF-8, zero-terminated)

// The owner's notification function: (user data, status, data).
using TDeviceCallback = void (*)(void* user, std::int32_t status, const void* data);

struct TProgressInfo {
  const char* text = nullptr;   // stays valid for the whole process
  std::int32_t textLength = 0;  // characters, without terminator
  std::uint8_t phase = 0;       // 0 programmer download, 30 image download
  std::uint8_t percent = 0;     // 0..100
};

struct TReceivedBytes {
  std::int32_t portId = 0;  // 1 modem, 2 diagnostic
  const std::uint8_t* bytes = nullptr;
  std::int32_t count = 0;
};

class TUsbDevice {
 public:
  // Creates the object with its own log "ROrUdi_<deviceNumber>.txt" (written only when that
  // file exists).
  explicit TUsbDevice(std::int32_t deviceNumber);
  // Pauses 200 ms (pacing clock), then stops the log after its end banner. Open ports are
  // closed with their objects.
  ~TUsbDevice();
  TUsbDevice(const TUsbDevice&) = delete;
  TUsbDevice& operator=(const TUsbDevice&) = delete;

  // Installs the owner's notification function and its user data.
  void SetCallback(TDeviceCallback callback, void* user) {
    callback_ = callback;
    user_ = user;
  }
  // Calls the owner's notification function, if one is set.
  void Notify(std::int32_t status, const void* data) const;
  // Sends an error text to the owner as CB_MESSAGE.
  void NotifyMessage(const std::string& text) const { Notify(CB_MESSAGE, text.c_str()); }
  // The serial ports' receive notification: raises CB_RECEIVED with the bytes of one read.
  static void ReceiveRelay(void* user, std::int32_t portId, const std::uint8_t* bytes,
                           std::int32_t count);

  // Writes one line to the device's log; nothing when the log is off or missing.
  void Trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  // One framed request/reply on the diagnostic port, with up to 17 attempts (CB_ATTEMPT before
  // each). The request is built and stuffed; pauseMs separates write and read. Returns 1 when
  // a reply came and was accepted, with its payload; 0 otherwise. After the 17th failed attempt
  // the diagnostic port is closed.
  std::int32_t Exchange(TSerialPort* port, TPacket request, std::uint32_t pauseMs,
                        ByteVector* payload);

  // Sends "ATE1" and then the command on the modem port, checking echo and "OK" of each.
  // Returns 1 on success and copies the reply value (zero-terminated, at most 127 characters)
  // into the first min(size, 128) bytes of reply, when reply is given and size is non-zero.
  std::int32_t SendAtCommand(char* reply, const char* command, std::int32_t size);

  // Enumerates the serial ports and gathers them per physical device by grouping key, tracing
  // the result in the device's log. On entry count is the capacity (at most kMaxGroups); on
  // return it is the number of groups filled. Groups beyond it are left as they were.
  void SearchAllUSB(std::array<TUsbGroup, kMaxGroups>& groups, std::uint8_t& count);

  std::int32_t DeviceNumber() const { return deviceNumber_; }
  TFsLogExist* Log() const { return log_.get(); }

  TUsbGroup& Group() { return group_; }
  TSerialPort* ModemPort() const { return modemPort_.get(); }
  TSerialPort* DiagPort() const { return diagPort_.get(); }
  void SetModemPort(std::unique_ptr<TSerialPort> port) { modemPort_ = std::move(port); }
  void SetDiagPort(std::unique_ptr<TSerialPort> port) { diagPort_ = std::move(port); }
  std::unique_ptr<TSerialPort> TakeModemPort() { return std::move(modemPort_); }
  std::unique_ptr<TSerialPort> TakeDiagPort() { return std::move(diagPort_); }

 private:
  bool AtExchange(const ByteVector& line, std::uint8_t* received);

  TDeviceCallback callback_ = nullptr;
  void* user_ = nullptr;
  std::int32_t deviceNumber_;
  std::unique_ptr<TFsLogExist> log_;
  TUsbGroup group_;
  std::unique_ptr<TSerialPort> modemPort_;
  std::unique_ptr<TSerialPort> diagPort_;
};

}  // namespace vornex
