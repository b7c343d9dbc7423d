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

const char* FrameFaultName(FrameFault fault) {
  switch (fault) {
    case FrameFault::kBadCrc:
      return "frame:bad-crc";
    case FrameFault::kTooShort:
      return "frame:too-short";
    case FrameFault::kOverlong:
      return "frame:overlong";
    case FrameFault::kAborted:
      return "frame:aborted";
    case FrameFault::kNone:
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

SimDevice::SimDevice(int index, const DeviceConfig& config, const ProgrammerImage* programmer)
    : index_(index),
      key_(SocketKey(index)),
      config_(config),
      model_(MakeFactoryDevice(key_, config_.firmwareVersion.empty() ? kDefaultFirmwareVersion
                                                                     : config_.firmwareVersion)),
      modem_(model_, &config_.faults),
      engine_(model_, config_.faults, programmer, std::uint64_t{config_.flashMiB} << 20) {
  auto addPort = [this](PortRole role, int interfaceNumber) {
    SimPort& port = ports_.emplace_back();
    port.role = role;
    port.interfaceNumber = interfaceNumber;
  };
  addPort(PortRole::kDiag, 0);
  addPort(PortRole::kModem, 1);
  const int extras = std::clamp(config_.extraPorts, 0, kMaxExtraPorts);
  for (int i = 0; i < extras; ++i) addPort(PortRole::kExtra, 2 + i);
}

bench::BenchPort SimDevice::PortRecord(const SimPort& port, const std::string& ttyPath) const {
  bench::BenchPort record;
  TPortInfo& info = record.info;
  info.com = static_cast<std::uint8_t>(port.com);
  const bool modem = port.role == PortRole::kModem;
  info.portClass = modem ? kPortClassModem : kPortClassSerial;
  info.path = FormatBounded(decltype(info.path)::kCapacity,
                            "\\\\?\\USB#VID_05C6&PID_9004&MI_%02d#6&%s&0&%04d#%s",
                            port.interfaceNumber, key_.c_str(), port.interfaceNumber,
                            modem ? kModemInterfaceGuid : kSerialInterfaceGuid);
  switch (port.role) {
    case PortRole::kDiag:
      info.description = kDiagDescription;
      break;
    case PortRole::kModem:
      info.description = kModemDescription;
      break;
    case PortRole::kExtra:
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

void SimDevice::OnInput(SimPort& port, const std::uint8_t* bytes, std::size_t length) {
  if (!present_ || halted_) return;
  ByteVector out;
  switch (port.role) {
    case PortRole::kExtra:
      return;
    case PortRole::kModem:
      // The AT interpreter is part of the running firmware.
      if (config_.faults.silentModem || engine_.CurrentLayer() != Layer::kFirmware) return;
      out = modem_.Feed(bytes, length);
      ++revision_;
      break;
    case PortRole::kDiag:
      if (config_.faults.silentDiag) return;
      OnDiagInput(port, bytes, length);
      ++revision_;
      return;
  }
  Queue(port, out);
}

void SimDevice::Queue(SimPort& port, const ByteVector& bytes) {
  if (port.pendingOutput.size() + bytes.size() > kMaxPendingOutputBytes) {
    port.pendingOutput.clear();
    model_.Count("overrun");
  }
  port.pendingOutput.insert(port.pendingOutput.end(), bytes.begin(), bytes.end());
}

void SimDevice::OnDiagInput(SimPort& port, const std::uint8_t* bytes, std::size_t length) {
  for (const FrameEvent& frame : framer_.Feed(bytes, length)) {
    if (halted_) break;  // leaving the bus: the rest is lost
    if (frame.fault != FrameFault::kNone) {
      model_.Count(FrameFaultName(frame.fault));
      continue;
    }
    const Layer layerBefore = engine_.CurrentLayer();
    const std::uint32_t flashesBefore = model_.flashCount;
    const std::uint64_t streamBefore = engine_.OpenStreamBytes();
    const EngineResult result = engine_.Handle(frame);
    if (result.reply) {
      ++diagReplies_;
      const bool corrupt = diagReplies_ == config_.faults.badCrcReply;
      Queue(port, EncodeReply(*result.reply, corrupt));
    }
    if (engine_.CurrentLayer() != layerBefore || model_.flashCount != flashesBefore ||
        engine_.OpenStreamBytes() != streamBefore) {
      ++revision_;
    }
    OnLifeEvent(result.event);
  }
}

void SimDevice::OnLifeEvent(LifeEvent event) {
  switch (event) {
    case LifeEvent::kNone:
      break;
    case LifeEvent::kEnteredDownload:
      if (config_.reenumerateOnDownloadMode) {
        // The boot downloader keeps the COM number: the station reopens it by number.
        ScheduleVanish(kDownloadReenumerateMs, Enumeration{false, false, false});
      }
      break;
    case LifeEvent::kProgrammerStarted:
      if (config_.reenumerateOnProgrammerStart) {
        ScheduleVanish(kProgrammerReenumerateMs,
                       Enumeration{false, config_.renumberOnReset, false});
      }
      break;
    case LifeEvent::kReset:
      if (config_.faults.noReturn) {
        ScheduleVanish(0, std::nullopt);
      } else {
        const std::uint32_t bootMs = std::min(config_.bootDelayMs, 0xFFFFFFFFu - kVanishDelayMs);
        ScheduleVanish(kVanishDelayMs + bootMs,
                       Enumeration{true, config_.renumberOnReset, true, true});
      }
      break;
    case LifeEvent::kUnplugged:
      Unplug();
      break;
  }
}

void SimDevice::ScheduleVanish(std::uint32_t backAfterMs, std::optional<Enumeration> comeBack) {
  halted_ = true;
  detachAt_.emplace(kVanishDelayMs);
  readerLimit_.emplace(kVanishLimitMs);
  attachAt_.reset();
  if (comeBack) {
    attachAt_.emplace(std::max(backAfterMs, kVanishDelayMs));
    nextEnumeration_ = *comeBack;
  }
}

std::optional<pacing::Clock::time_point> SimDevice::NextStepAt() const {
  std::optional<pacing::Clock::time_point> next;
  if (detachAt_) next = detachAt_->At();
  if (attachAt_ && (!next || attachAt_->At() < *next)) next = attachAt_->At();
  return next;
}

bool SimDevice::RepliesTaken() const {
  return std::all_of(ports_.begin(), ports_.end(), [](const SimPort& port) {
    return !port.pty || (port.pendingOutput.empty() && port.pty->UnreadBytes() == 0);
  });
}

bool SimDevice::DueDetach() {
  if (!detachAt_ || !detachAt_->Expired()) return false;
  if (present_ && readerLimit_ && !readerLimit_->Expired() && !RepliesTaken()) {
    detachAt_.emplace(kVanishRecheckMs);  // the station is still to read the last reply
    return false;
  }
  detachAt_.reset();
  readerLimit_.reset();
  return present_;
}

bool SimDevice::DueAttach(Enumeration* how) {
  if (!attachAt_ || !attachAt_->Expired() || present_ || detachAt_) return false;
  attachAt_.reset();
  *how = nextEnumeration_;
  return true;
}

void SimDevice::Detached() {
  present_ = false;
  framer_.Reset();
  for (SimPort& port : ports_) {
    port.pendingOutput.clear();
    port.stalled = false;
  }
  ++revision_;
}

void SimDevice::Attached(const Enumeration& how) {
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

void SimDevice::Unplug() {
  halted_ = true;
  detachAt_.emplace(0);
  readerLimit_.reset();  // pulled out: nothing waits for the station
  attachAt_.reset();
}

void SimDevice::Replug() {
  if (present_ && !detachAt_) return;
  attachAt_.emplace(0);
  nextEnumeration_ = Enumeration{true, false, true};
}

DeviceReport SimDevice::Report() const {
  DeviceReport report;
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
  report.nvDigest = model_.NvDigest();
  report.diagInterfaceOn = model_.diagInterfaceOn;
  report.echoOn = modem_.EchoOn();
  for (const SimPort& port : ports_) {
    if (port.role == PortRole::kDiag) report.diagCom = port.com;
    if (port.role == PortRole::kModem) report.modemCom = port.com;
    if (port.role == PortRole::kExtra) report.extraComs.push_back(port.com);
  }
  report.flashCount = model_.flashCount;
  report.bootCount = model_.bootCount;
  report.commandCounts = model_.commandCounts;
  return report;
}

std::optional<NvData> SimDevice::NvItem(std::uint16_t item) const {
  const auto it = model_.nvItems.find(item);
  if (it == model_.nvItems.end()) return std::nullopt;
  return it->second;
}

}  // namespace vornex::sim
