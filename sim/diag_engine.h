// The diagnostic port of a simulated device: three software layers that answer in turn, as on
// the real device.
//
//  firmware (diagnostic frames, replies echo the command byte, no opening flag):
//    0x00 hello -> 0x00 + model and version; 0x26/0x27 NV read/write with the 132-byte request
//    (item LE16, 128 data bytes, status LE16) -> same layout, status 0 done, 5 inactive item,
//    1 read failure; 0x3A -> 0x3A, then the boot downloader runs. Anything else -> 0x13 (bad
//    command) followed by the start of the request; an NV request of the wrong size -> 0x15.
//  boot downloader (download-mode frames, replies open with a flag):
//    0x06 wake-up and 0x0C hello -> acknowledge 0x02; 0x0F write block (BE32 address, BE16
//    length, data) into RAM -> 0x02; 0x05 go (BE32 address) -> 0x02 and the programmer runs, when
//    RAM holds the expected programmer there. Refusals are 0x03 with a zero-terminated reason.
//    Anything else, diagnostic probes included, is refused the same way.
//  programmer (streaming frames, replies carry command + 1 and no opening flag):
//    0x01 hello with the host magic -> 0x02 starting with the target magic; 0x07 stream write
//    (LE32 offset, data) -> 0x08; 0x15 close -> 0x16, and what was streamed since the last close
//    becomes the firmware; 0x0B reset -> 0x0C, then the device reboots. Anything else (the
//    firmware and download-mode probes included) gets a 0x0E error text report, which opens
//    with a flag like every text report.
//
// Injected faults: NV writes of listed items fail (status 1) or are answered done without
// taking effect; the close and the reset may be answered with an error report instead, and
// then nothing is installed (the stream stays open) or nobody reboots.
//
// So a station that probes firmware, then programmer, then boot downloader gets exactly one
// accepted answer and a prompt, non-accepted answer from the other two layers, and never has
// to wait out a silent port. Pure: frames in, reply frames and life events out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "protocols/packet.h"
#include "sim/device_model.h"
#include "sim/diag_framer.h"
#include "sim/sim_config.h"

namespace vornex::sim {

enum class TLayer { kFirmware, kDownload, kProgrammer };

// "firmware", "download" or "programmer".
const char* LayerName(TLayer layer);

// The greeting both sides of the streaming protocol open with.
constexpr const char* kHostMagic = "QCOM fast download protocol host";
constexpr const char* kTargetMagic = "QCOM fast download protocol targ";
constexpr std::size_t kMagicBytes = 32;

constexpr std::size_t kNvRequestBytes = 132;
constexpr std::uint16_t kNvStatusDone = 0;
constexpr std::uint16_t kNvStatusFailed = 1;
constexpr std::uint16_t kNvStatusInactive = 5;

// RAM the boot downloader can fill (the flash is the device's own, see TDeviceConfig::flashMiB).
constexpr std::uint64_t kRamCapacityBytes = 16u << 20;

// One reply: command or code byte, payload, and whether the frame opens with a flag.
struct TReplyFrame {
  std::uint8_t code = 0;
  TByteVector payload;
  bool leadingFlag = false;
};

// What a handled frame did to the device's life beyond its reply.
enum class TLifeEvent {
  kNone,
  kEnteredDownload,    // 0x3A answered: the boot downloader runs now
  kProgrammerStarted,  // go answered: the programmer runs now
  kReset,              // reset answered: the device reboots
  kUnplugged,          // unplugged in the middle of the stream (injected fault)
};

struct TEngineResult {
  std::optional<TReplyFrame> reply;  // none: the device stays silent
  TLifeEvent event = TLifeEvent::kNone;
};

// The stuffed bytes of a reply; with corruptCrc its CRC is wrong (injected fault).
TByteVector EncodeReply(const TReplyFrame& reply, bool corruptCrc);

// RAM of the boot downloader: written segments, merged where they touch.
class TSparseMemory {
 public:
  // False when the bytes would pass the end of the address space or the capacity.
  bool Write(std::uint32_t address, const std::uint8_t* bytes, std::size_t length);
  // True when [address, address + expected.size()) is written and holds exactly these bytes.
  bool Holds(std::uint32_t address, const TByteVector& expected) const;
  // True when the byte at the address was written.
  bool Written(std::uint32_t address) const;
  std::uint64_t TotalBytes() const { return total_; }
  void Clear();

 private:
  std::map<std::uint64_t, TByteVector> segments_;  // start address -> bytes
  std::uint64_t total_ = 0;
};

class TDiagEngine {
 public:
  // The programmer writes at most flashBytes of flash; a stream write beyond gets an error report.
  TDiagEngine(TDeviceModel& model, const TDeviceFaults& faults, const TProgrammerImage* programmer,
              std::uint64_t flashBytes)
      : model_(model), faults_(faults), programmer_(programmer), flashBytes_(flashBytes) {}

  // Handles one valid frame in the current layer.
  TEngineResult Handle(const TFrameEvent& frame);
  // Power-on: the firmware runs (the boot downloader when the model's firmware is erased); RAM
  // and an unfinished stream are gone.
  void Reboot();
  TLayer CurrentLayer() const { return layer_; }
  // Image bytes the programmer has taken in its current, not yet closed stream; 0 when no
  // stream is open.
  std::uint64_t OpenStreamBytes() const { return openStreamBytes_; }

 private:
  TEngineResult Firmware(const TFrameEvent& frame);
  TEngineResult Download(const TFrameEvent& frame);
  TEngineResult Programmer(const TFrameEvent& frame);
  TEngineResult NvAccess(const TFrameEvent& frame);
  TEngineResult StreamWrite(const TFrameEvent& frame);

  TDeviceModel& model_;
  const TDeviceFaults& faults_;
  const TProgrammerImage* programmer_;
  std::uint64_t flashBytes_;
  TLayer layer_ = TLayer::kFirmware;
  TSparseMemory ram_;
  TByteVector staged_;       // flash content streamed since the last close
  bool streamOpen_ = false;  // a stream write came since the last close
  std::uint64_t openStreamBytes_ = 0;
  std::uint64_t streamedBytes_ = 0;  // since power-on, for the unplug fault
};

}  // namespace vornex::sim
