// TUsbDevice, the connection object through which one thread talks to one physical device:
// its port group, its modem and diagnostic ports, its own log ("ROrUdi_<n>.txt") and the
// notification function through which it tells its owner about progress, received bytes,
// attempts and error texts. The coordinator keeps one (number 200) for discovery; each worker
// creates one per job, numbered with its slot.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "discovery/port_enumeration.h"
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

// How one NV read or write ended.
enum class TNvOutcome {
  kDone,      // read (data filled) or written
  kRefused,   // the device answered with a failure status (an inactive item)
  kNoAnswer,  // no good answer within the attempts: nothing is known about the item
};

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
                        TByteVector* payload);
  // The same exchange with the whole judgement of the reply (see JudgeReply); when no reply
  // came, kRefused with code 0 and no payload.
  TReplyJudgement ExchangeJudged(TSerialPort* port, TPacket request, std::uint32_t pauseMs);

  // Sends "ATE1" and then the command on the modem port, checking echo and "OK" of each.
  // Returns 1 on success and copies the reply value (zero-terminated, at most 127 characters)
  // into the first min(size, 128) bytes of reply, when reply is given and size is non-zero.
  std::int32_t SendAtCommand(char* reply, const char* command, std::int32_t size);

  // Enumerates the serial ports and gathers them per physical device by grouping key, tracing
  // the result in the device's log. On entry count is the capacity (at most kMaxGroups); on
  // return it is the number of groups filled. Groups beyond it are left as they were.
  void SearchAllUSB(std::array<TUsbGroup, kMaxGroups>& groups, std::uint8_t& count);
  // Looks for the one device whose grouping key equals `key` (letter case ignored) among all
  // ports, however many other devices are attached. True with its group when it is there.
  bool FindUSBGroup(const std::string& key, TUsbGroup& group);

  // --- Diagnostic commands (one exchange each, 1 ms between write and read) ---
  // 1 when the running firmware answers its hello on the port.
  std::int32_t SayHelloToFirmwareLayer(TSerialPort* port);
  // 1 when the boot downloader accepts its hello on the port.
  std::int32_t SayHelloToDownloadLayer(TSerialPort* port);
  // 1 when the programmer answers the streaming hello with its target magic (after 500 ms).
  std::int32_t SayHelloToHexLayer(TSerialPort* port);
  // 1 and the item's 128 bytes when the device read the NV item (status 0); data untouched else.
  std::int32_t ReadNvItem(std::uint16_t item, std::uint8_t* data);
  // ReadNvItem telling why an item was not read: the device answered that it has no such item
  // (inactive), or it gave no good answer at all. NV reads and writes change nothing when
  // repeated, so a reply judged bad (checksum, command, length) is asked again like a silent
  // one, up to the exchange's attempt limit.
  TNvOutcome ReadNvItemOutcome(std::uint16_t item, std::uint8_t* data);
  // 1 when the device wrote the 128 bytes of the NV item (status 0).
  std::int32_t WriteNvItem(std::uint16_t item, const std::uint8_t* data);
  // Switches the firmware into download mode (0x3A, then the diagnostic port is reopened) unless
  // it is already past the firmware layer. 1 unless the device never answered or refused; mode
  // is 1 when the programmer already answers, 0xFF otherwise.
  std::int32_t EnterDownloadMode(std::uint8_t& mode);
  // 1 when the programmer accepted the reset command; an error report is a failure, its reason
  // sent to the owner. *refused (when given) tells whether the reply was an error report that
  // arrived intact: only that says the programmer did not reset.
  std::int32_t ResetDevice(bool* refused = nullptr);

  // --- Connection ---
  // Opens the group's modem port (sending "AT+MDPARA=DIAG,ON") and the first diagnostic port
  // whose software layer answers. Flags: 0x01 modem open, 0x02 firmware answered, 0x04
  // programmer or boot downloader answered.
  std::uint8_t ConnectUSB(TUsbGroup group, std::uint32_t openTimeoutMs);
  // Closes and releases both ports and clears the group. Flags: 0x01 modem, 0x02 diagnostic.
  std::uint8_t ClosePorts();

  // --- Downloads (3 ms between write and read) ---
  // Loads the parsed programmer (its data at its start address) into the boot downloader's RAM,
  // starts it and checks that it answers; finds the device again when it re-enumerates. 1 when
  // the programmer runs and accepted the closing command (an error report to it is a failure,
  // its reason sent to the owner).
  std::int32_t DownloadHex(const struct THexImage& image);
  // Streams the flash image to the running programmer in 1024-byte blocks and closes the
  // transfer. 1 when every block and the closing command were accepted; an error report to
  // either is a failure, its reason sent to the owner. With the stop flag set, the stream ends
  // once the block in flight is answered (the first block is always sent): "stream stopped at
  // offset <n>" goes to the log, nothing to the owner, the transfer stays unclosed, 0.
  std::int32_t DownloadAllImage(const std::vector<std::uint8_t>& image);
  // The flag that stops an image stream, read from any thread; null (the default) for none. It
  // must outlive every download that runs while it is installed.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

  std::int32_t DeviceNumber() const { return deviceNumber_; }
  TFsLogExist* Log() const { return log_.get(); }

  TUsbGroup& Group() { return group_; }
  TSerialPort* ModemPort() const { return modemPort_.get(); }
  TSerialPort* DiagPort() const { return diagPort_.get(); }
  void SetModemPort(std::unique_ptr<TSerialPort> port) { modemPort_ = std::move(port); }
  void SetDiagPort(std::unique_ptr<TSerialPort> port) { diagPort_ = std::move(port); }
  // What the last SearchAllUSB refused or found in the way, one line each ("bench records
  // COM12-copy.port and COM12.port both claim COM12 ...", "COM5 held by ..."); empty when nothing.
  const TDiscoveryNotes& LastSearchNotes() const { return searchNotes_; }
  std::unique_ptr<TSerialPort> TakeModemPort() { return std::move(modemPort_); }
  std::unique_ptr<TSerialPort> TakeDiagPort() { return std::move(diagPort_); }

 private:
  bool AtExchange(const TByteVector& line, std::uint8_t* received);
  TNvOutcome NvExchange(std::uint8_t command, const TByteVector& payload, TByteVector* reply);
  std::int32_t EnumerateAndTrace(TPortTable& table);
  std::unique_ptr<TSerialPort> MakePort(const TPortInfo& info, std::uint32_t openTimeoutMs,
                                        std::uint32_t readLimitMs, std::int32_t portId);
  void ReportProgress(const char* text, std::uint8_t phase, std::uint8_t percent);
  std::int32_t FindAndReconnect();
  // An exchange on the diagnostic port for a programmer command that must be carried out
  // (stream block, close, reset): 1 when accepted or answered with a log report. An error report
  // is a failure, and its reason text goes to the owner as CB_MESSAGE.
  std::int32_t ProgrammerCommand(TPacket request, std::uint32_t pauseMs, bool* refused = nullptr);

  TDeviceCallback callback_ = nullptr;
  void* user_ = nullptr;
  std::int32_t deviceNumber_;
  std::unique_ptr<TFsLogExist> log_;
  TUsbGroup group_;
  std::unique_ptr<TSerialPort> modemPort_;
  std::unique_ptr<TSerialPort> diagPort_;
  const std::atomic<bool>* stop_ = nullptr;
  TDiscoveryNotes searchNotes_;
};

}  // namespace vornex
