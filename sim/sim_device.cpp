// Behaviour and timeline of one simulated device.
#include "sim/sim_device.h"

#include <algorithm>
#include <cstdio>

#include "foundation/text.h"

namespace vornex::sim {
namespace {

constexpr const char* kSerialInterfaceGuid = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr const char* kModemInterfaceGuid = "{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}";
constexpr const char* kDiagDescription = "Vornex USB Diagnostics 9004";
constexpr const char* kModemDescription = "Vornex USB Modem 9004";
constexpr const char* kExtraDescriptions[] = {"Vornex USB NMEA 9004", "Vornex USB Serial 9004"};

const char* FrameFaultName(TFrameFault fault) {
  switch (fault) {
    case TFrameFault::kBadCrc:
      return "frame:bad-crc";
    case TFrameFault::kTooShort:
      return "frame:too-short";
    case TFrameFault::kOverlong:
      return "frame:overlong";
    case TFrameFault::kAborted:
      return "frame:aborted";
    case TFrameFault::kNone:
      break;
  }
  return "frame:ok";
}

}  // namespace

std::string SocketKey(int index) {
  // An odd multiplier and the murmur finaliser are both one-to-one on 32 bits, so every socket
  // gets its own key.
  std::uint32_t x = static_cast<std::uint32_t>(index + 1) * 0x9E3779B1u;
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  char key[9];
  std::snprintf(key, sizeof key, "%08X", x);
  return key;
}

TSimDevice::TSimDevice(int index, int generation, const TNewcomer& device,
                       const TProgrammerImage* programmer)
    : index_(index),
      key_(SocketKey(index)),
      config_(device.config),
      model_(MakeFactoryDevice(
          key_, config_.firmwareVersion.empty() ? kDefaultFirmwareVersion : config_.firmwareVersion,
          generation)),
      modem_(model_, &config_.faults),
      engine_(model_, config_.faults, programmer, std::uint64_t{config_.flashMiB} << 20) {
  if (device.blankIdentity) {
    model_.identity.serialNumber.clear();
    model_.identity.meid.clear();
  }
  if (device.firmwareErased) {
    model_.EraseFirmware();
    engine_.Reboot();
  }
  auto addPort = [this](TSimPortRole role, int interfaceNumber) {
    TSimPort& port = ports_.emplace_back();
    port.role = role;
    port.interfaceNumber = interfaceNumber;
  };
  addPort(TSimPortRole::kDiag, 0);
  addPort(TSimPortRole::kModem, 1);
  const int extras = std::clamp(config_.extraPorts, 0, kMaxExtraPorts);
  for (int i = 0; i < extras; ++i) addPort(TSimPortRole::kExtra, 2 + i);
}

bench::TBenchPort TSimDevice::PortRecord(const TSimPort& port, const std::string& ttyPath) const {
  bench::TBenchPort record;
  TPortInfo& info = record.info;
  info.com = static_cast<std::uint8_t>(port.com);
  const bool modem = port.role == TSimPortRole::kModem;
  info.portClass = modem ? kPortClassModem : kPortClassSerial;
  info.path = FormatBounded(decltype(info.path)::kCapacity,
                            "\\\\?\\USB#VID_05C6&PID_9004&MI_%02d#6&%s&0&%04d#%s",
                            port.interfaceNumber, key_.c_str(), port.interfaceNumber,
                            modem ? kModemInterfaceGuid : kSerialInterfaceGuid);
  switch (port.role) {
    case TSimPortRole::kDiag:
      info.description = kDiagDescription;
      break;
    case TSimPortRole::kModem:
      info.description = kModemDescription;
      break;
    case TSimPortRole::kExtra:
      info.description = kExtraDescriptions[(port.interfaceNumber - 2) % kMaxExtraPorts];
      break;
  }
  info.hardwareId = FormatBounded(decltype(info.hardwareId)::kCapacity,
                                  "USB\\VID_05C6&PID_9004&REV_0000&MI_%02d", port.interfaceNumber);
  info.usb = 1;
  info.openable = 1;
  record.ttyPath = ttyPath;
  return record;
}

void TSimDevice::OnInput(TSimPort& port, const std::uint8_t* bytes, std::size_t length) {
  if (!present_ || halted_) return;
  TByteVector out;
  switch (port.role) {
    case TSimPortRole::kExtra:
      return;
    case TSimPortRole::kModem:
      // The AT interpreter is part of the running firmware.
      if (config_.faults.silentModem || engine_.CurrentLayer() != TLayer::kFirmware) return;
      out = modem_.Feed(bytes, length);
      ++revision_;
      break;
    case TSimPortRole::kDiag:
      if (config_.faults.silentDiag) return;
      OnDiagInput(port, bytes, length);
      ++revision_;
      return;
  }
  Queue(port, out);
}

void TSimDevice::Queue(TSimPort& port, const TByteVector& bytes) {
  if (port.pendingOutput.size() + bytes.size() > kMaxPendingOutputBytes) {
    port.pendingOutput.clear();
    model_.Count("overrun");
  }
  port.pendingOutput.insert(port.pendingOutput.end(), bytes.begin(), bytes.end());
}

void TSimDevice::OnDiagInput(TSimPort& port, const std::uint8_t* bytes, std::size_t length) {
  for (const TFrameEvent& frame : framer_.Feed(bytes, length)) {
    if (halted_) break;  // leaving the bus: the rest is lost
    if (frame.fault != TFrameFault::kNone) {
      model_.Count(FrameFaultName(frame.fault));
      continue;
    }
    const TLayer layerBefore = engine_.CurrentLayer();
    const std::uint32_t flashesBefore = model_.flashCount;
    const std::uint64_t streamBefore = engine_.OpenStreamBytes();
    const TEngineResult result = engine_.Handle(frame);
    if (result.reply) {
      ++diagReplies_;
      const bool corrupt = diagReplies_ == config_.faults.badCrcReply ||
                           (result.event == TLifeEvent::kReset && config_.faults.damagedResetReply);
      Queue(port, EncodeReply(*result.reply, corrupt));
    }
    if (engine_.CurrentLayer() != layerBefore || model_.flashCount != flashesBefore ||
        engine_.OpenStreamBytes() != streamBefore) {
      ++revision_;
    }
    OnLifeEvent(result.event);
  }
}

void TSimDevice::OnLifeEvent(TLifeEvent event) {
  switch (event) {
    case TLifeEvent::kNone:
      break;
    case TLifeEvent::kEnteredDownload:
      if (config_.reenumerateOnDownloadMode) {
        // The boot downloader keeps the COM number: the station reopens it by number.
        ScheduleVanish(kDownloadReenumerateMs, TEnumeration{false, false, false});
      }
      break;
    case TLifeEvent::kProgrammerStarted:
      if (config_.reenumerateOnProgrammerStart) {
        ScheduleVanish(kProgrammerReenumerateMs,
                       TEnumeration{false, config_.renumberOnReset, false});
      }
      break;
    case TLifeEvent::kReset:
      if (config_.faults.noReturn) {
        ScheduleVanish(0, std::nullopt);
      } else {
        const std::uint32_t bootMs = std::min(config_.bootDelayMs, 0xFFFFFFFFu - kVanishDelayMs);
        ScheduleVanish(kVanishDelayMs + bootMs,
                       TEnumeration{AllPortsAtPowerOn(), config_.renumberOnReset, true, true});
      }
      break;
    case TLifeEvent::kUnplugged:
      Unplug();
      break;
  }
}

void TSimDevice::ScheduleVanish(std::uint32_t backAfterMs, std::optional<TEnumeration> comeBack) {
  halted_ = true;
  detachAt_.emplace(kVanishDelayMs);
  readerLimit_.emplace(kVanishLimitMs);
  attachAt_.reset();
  if (comeBack) {
    attachAt_.emplace(std::max(backAfterMs, kVanishDelayMs));
    nextEnumeration_ = *comeBack;
  }
}

std::optional<pacing::TClock::time_point> TSimDevice::NextStepAt() const {
  std::optional<pacing::TClock::time_point> next;
  if (detachAt_) next = detachAt_->At();
  if (attachAt_ && (!next || attachAt_->At() < *next)) next = attachAt_->At();
  return next;
}

bool TSimDevice::RepliesTaken() const {
  return std::all_of(ports_.begin(), ports_.end(), [](const TSimPort& port) {
    return !port.pty || (port.pendingOutput.empty() && port.pty->UnreadBytes() == 0);
  });
}

bool TSimDevice::DueDetach() {
  if (!detachAt_ || !detachAt_->Expired()) return false;
  if (present_ && readerLimit_ && !readerLimit_->Expired() && !RepliesTaken()) {
    detachAt_.emplace(kVanishRecheckMs);  // the station is still to read the last reply
    return false;
  }
  detachAt_.reset();
  readerLimit_.reset();
  return present_;
}

bool TSimDevice::DueAttach(TEnumeration* how) {
  if (!attachAt_ || !attachAt_->Expired() || present_ || detachAt_) return false;
  attachAt_.reset();
  *how = nextEnumeration_;
  return true;
}

void TSimDevice::Detached() {
  present_ = false;
  framer_.Reset();
  for (TSimPort& port : ports_) {
    port.pendingOutput.clear();
    port.stalled = false;
  }
  ++revision_;
}

void TSimDevice::Attached(const TEnumeration& how) {
  present_ = true;
  halted_ = false;
  framer_.Reset();
  if (how.reboot) {
    engine_.Reboot();
    modem_.Reboot();
    model_.diagInterfaceOn = false;
    ++model_.bootCount;
    if (how.afterReset && !config_.faults.serialAfterReset.empty()) {
      model_.identity.serialNumber = config_.faults.serialAfterReset;
    }
  }
  ++revision_;
}

void TSimDevice::Unplug() {
  halted_ = true;
  detachAt_.emplace(0);
  readerLimit_.reset();  // pulled out: nothing waits for the station
  attachAt_.reset();
}

void TSimDevice::Replug() {
  if (present_ && !detachAt_) return;
  attachAt_.emplace(0);
  nextEnumeration_ = TEnumeration{AllPortsAtPowerOn(), false, true};
}

void TSimDevice::TakenOut() {
  halted_ = true;
  detachAt_.reset();
  readerLimit_.reset();
  attachAt_.reset();
}

TDeviceReport TSimDevice::Report(bool nvDigest) const {
  TDeviceReport report;
  report.index = index_;
  report.key = key_;
  report.present = present_;
  report.layer = LayerName(engine_.CurrentLayer());
  report.firmwareVersion = model_.firmwareVersion;
  report.flashLength = model_.flash.size();
  report.flashSha256 = model_.flashSha256;
  report.streamedBytes = engine_.OpenStreamBytes();
  report.identity = model_.identity;
  report.nvItemCount = model_.nvItems.size();
  if (nvDigest) report.nvDigest = model_.NvDigest();
  report.diagInterfaceOn = model_.diagInterfaceOn;
  report.echoOn = modem_.EchoOn();
  for (const TSimPort& port : ports_) {
    if (port.role == TSimPortRole::kDiag) report.diagCom = port.com;
    if (port.role == TSimPortRole::kModem) report.modemCom = port.com;
    if (port.role == TSimPortRole::kExtra) report.extraComs.push_back(port.com);
  }
  report.flashCount = model_.flashCount;
  report.bootCount = model_.bootCount;
  report.commandCounts = model_.commandCounts;
  return report;
}

std::optional<TNvData> TSimDevice::NvItem(std::uint16_t item) const {
  const auto it = model_.nvItems.find(item);
  if (it == model_.nvItems.end()) return std::nullopt;
  return it->second;
}

}  // namespace vornex::sim
