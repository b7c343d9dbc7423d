// Shared ground of the device-protocol tests against the simulator: a bench found through the
// station's own discovery (bench registry + SearchAllUSB), device objects connected with
// ConnectUSB, a recorder for what a device object tells its owner, the device object's log read
// back as text, raw frames for setting a device up, Intel HEX text of a programmer, and
// scripted peers for the replies that the simulator cannot give.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "discovery/port_enumeration.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "protocols/hex_file.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"
#include "sim/sim_bench.h"
#include "sim/sim_station.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::simtest {

// The open time-out a worker gives its first connection.
constexpr std::uint32_t kConnectOpenMs = 4500;

// Everything a device object reported to its owner, in order.
struct Recorder {
  struct Progress {
    std::string text;
    std::int32_t textLength = 0;
    int phase = 0;
    int percent = 0;
  };
  std::vector<Progress> progress;
  std::vector<std::string> messages;
  int attempts = 0;
  int received = 0;

  static void Record(void* user, std::int32_t status, const void* data) {
    auto* self = static_cast<Recorder*>(user);
    switch (status) {
      case CB_PROGRESS: {
        const auto* info = static_cast<const TProgressInfo*>(data);
        self->progress.push_back({info->text, info->textLength, info->phase, info->percent});
        break;
      }
      case CB_MESSAGE:
        self->messages.emplace_back(static_cast<const char*>(data));
        break;
      case CB_ATTEMPT:
        ++self->attempts;
        break;
      case CB_RECEIVED:
        ++self->received;
        break;
      default:
        ADD_FAILURE() << "unknown notification " << status;
    }
  }
  void Attach(TUsbDevice& device) { device.SetCallback(&Recorder::Record, this); }
  void Clear() { *this = Recorder{}; }

  std::vector<int> Percents() const {
    std::vector<int> percents;
    for (const Progress& p : progress) percents.push_back(p.percent);
    return percents;
  }
};

// The text of a device object's log file: UTF-16LE after its byte-order mark.
inline std::string ReadLogText(const std::string& path) {
  const std::string bytes = testing::ReadFile(path);
  if (bytes.size() < 2) return {};
  std::u16string units((bytes.size() - 2) / 2, u'\0');
  std::memcpy(units.data(), bytes.data() + 2, units.size() * 2);
  return Utf16ToUtf8(units);
}

// True when every line appears in the log text, in the order given.
inline bool LinesInOrder(const std::string& text, const std::vector<std::string>& lines) {
  std::size_t from = 0;
  for (const std::string& line : lines) {
    // Each log line ends with CR LF; matching it keeps "index = 40" from matching "index = 4096".
    const std::size_t at = text.find(" " + line + "\r\n", from);
    if (at == std::string::npos) return false;
    from = at + line.size();
  }
  return true;
}

inline std::map<std::string, std::uint64_t> Counts(const sim::TSimBench& bench, int index) {
  return bench.Report(index).commandCounts;
}
inline std::uint64_t Count(const sim::TSimBench& bench, int index, const std::string& command) {
  const auto counts = Counts(bench, index);
  const auto it = counts.find(command);
  return it == counts.end() ? 0 : it->second;
}
// Diagnostic frames a device answered so far (every frame the simulator handles is answered,
// unless the device is silent or was unplugged by it).
inline std::uint64_t HandledFrames(const sim::TSimBench& bench, int index) {
  std::uint64_t total = 0;
  for (const auto& [name, count] : Counts(bench, index)) {
    if (name.rfind("firmware:", 0) == 0 || name.rfind("download:", 0) == 0 ||
        name.rfind("programmer:", 0) == 0) {
      total += count;
    }
  }
  return total;
}

// One stuffed frame of the protocol.
inline TByteVector Frame(std::uint8_t command, std::int32_t protocol,
                         const TByteVector& payload = {}) {
  TPacket packet = TPacket::Build(command, payload.empty() ? nullptr : &payload, protocol);
  packet.Escape();
  return packet.Bytes();
}

// A simulated bench found through the station's discovery, at the test time scale, with the
// device objects' logs switched on in a folder of the test's own.
class SimProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.TimeScale(kTimeScale);
    paths::OverrideExeFolder(logs_.path());
  }
  void TearDown() override {
    bench_.reset();
    paths::OverrideExeFolder("");
  }

  sim::TSimBench& Start(std::vector<sim::TDeviceConfig> devices,
                        std::optional<sim::TProgrammerImage> programmer = TestProgrammer()) {
    sim::TBenchConfig config;
    config.folder = benchFolder_.path();
    config.devices = std::move(devices);
    config.programmer = std::move(programmer);
    std::string error;
    bench_.reset();  // a bench started again replaces the one before
    bench_ = sim::TSimBench::Create(std::move(config), &error);
    if (!bench_) {
      ADD_FAILURE() << error;
      throw std::runtime_error("no bench");
    }
    run_.BenchDiscovery(benchFolder_.path());
    return *bench_;
  }
  sim::TSimBench& Start(int count) { return Start(std::vector<sim::TDeviceConfig>(count)); }

  // The group that SearchAllUSB finds for the device now; an empty group when none.
  TUsbGroup Find(int index) {
    TUsbDevice search(200);
    std::array<TUsbGroup, kMaxGroups> groups{};
    std::uint8_t count = kMaxGroups;
    search.SearchAllUSB(groups, count);
    for (std::uint8_t g = 0; g < count; ++g) {
      if (EqualsNoCase(groups[g].key.str(), bench_->Key(index))) return groups[g];
    }
    return TUsbGroup{};
  }

  // A device object numbered `number` (its log switched on), with the recorder attached.
  std::unique_ptr<TUsbDevice> MakeDevice(int number, Recorder& recorder) {
    testing::WriteFile(LogPath(number), "");
    auto device = std::make_unique<TUsbDevice>(number);
    recorder.Attach(*device);
    return device;
  }
  std::string LogPath(int number) const {
    return logs_.File("ROrUdi_" + std::to_string(number) + ".txt");
  }

  // Connects a new device object to the device as a worker does (or with another open budget,
  // which later reopens of its ports keep); the flags must be `expected`.
  std::unique_ptr<TUsbDevice> Connect(int index, int number, Recorder& recorder,
                                      std::uint8_t expected,
                                      std::uint32_t openMs = kConnectOpenMs) {
    auto device = MakeDevice(number, recorder);
    const TUsbGroup group = Find(index);
    EXPECT_GT(group.portCount, 0) << "device " << index << " not found";
    EXPECT_EQ(device->ConnectUSB(group, openMs), expected);
    return device;
  }

  bool WaitPresent(int index, bool present) {
    return bench_->WaitUntil(
        index, [present](const sim::TDeviceReport& r) { return r.present == present; },
        kLifeLimitMs);
  }

  testing::RunScope run_;
  testing::TempDir benchFolder_;
  testing::TempDir logs_;
  std::unique_ptr<sim::TSimBench> bench_;
};

// One framed exchange through the device object on its diagnostic port; 1 when accepted.
inline std::int32_t Raw(TUsbDevice& device, std::uint8_t command, std::int32_t protocol,
                        const TByteVector& payload = {}, TByteVector* reply = nullptr) {
  TPacket request = TPacket::Build(command, payload.empty() ? nullptr : &payload, protocol);
  request.Escape();
  TByteVector scratch;
  return device.Exchange(device.DiagPort(), std::move(request), kDiagPauseMs,
                         reply != nullptr ? reply : &scratch);
}

// Takes a connected firmware device into the running programmer with raw frames (switch,
// wake-up, blocks, go, streaming hello), so that the image download can be tested apart from
// the station's programmer download.
inline bool RawIntoProgrammer(TUsbDevice& device, const sim::TProgrammerImage& programmer) {
  if (Raw(device, 0x3A, PROTOCOL_DIAG) != 1 || Raw(device, 0x06, PROTOCOL_DOWNLOAD) != 1) {
    return false;
  }
  for (std::size_t offset = 0; offset < programmer.data.size(); offset += kHexBlockBytes) {
    const std::size_t length = std::min(kHexBlockBytes, programmer.data.size() - offset);
    TByteVector payload = Be32(programmer.startAddress + static_cast<std::uint32_t>(offset));
    payload.push_back(static_cast<std::uint8_t>(length >> 8));
    payload.push_back(static_cast<std::uint8_t>(length & 0xFF));
    payload.insert(payload.end(), programmer.data.begin() + static_cast<std::ptrdiff_t>(offset),
                   programmer.data.begin() + static_cast<std::ptrdiff_t>(offset + length));
    if (Raw(device, 0x0F, PROTOCOL_DOWNLOAD, payload) != 1) return false;
  }
  return Raw(device, 0x05, PROTOCOL_DOWNLOAD, Be32(programmer.startAddress)) == 1 &&
         device.SayHelloToHexLayer(device.DiagPort()) == 1;
}

// Frames handled by RawIntoProgrammer for this programmer (all of them answered).
inline std::uint64_t RawIntoProgrammerFrames(const sim::TProgrammerImage& programmer) {
  const std::uint64_t blocks = (programmer.data.size() + kHexBlockBytes - 1) / kHexBlockBytes;
  return 2 + blocks + 1 + 1;
}

// A byte-level fake of a diagnostic port: a pseudo-terminal under its own COM number, opened
// as ConnectUSB opens a diagnostic port and given to a device object.
class PeerPort {
 public:
  static constexpr std::int32_t kCom = 61;

  PeerPort(TUsbDevice& device, testing::RunScope& run) {
    run.ComTty(kCom, pty_.slavePath());
    auto port = std::make_unique<TSerialPort>(kCom);
    port->SetOpenBudget(kConnectOpenMs);
    port->SetTimeLimits(kPortWriteLimitMs, kDiagReadLimitMs);
    if (!port->Open()) ADD_FAILURE() << port->LastError();
    device.SetDiagPort(std::move(port));
  }
  const testing::PtyPair& Pty() const { return pty_; }

 private:
  testing::PtyPair pty_;
};

// A request as the peer received it, unstuffed (flags kept).
inline TByteVector Unstuff(const TByteVector& stuffed) {
  TByteVector plain;
  for (std::size_t i = 0; i < stuffed.size(); ++i) {
    if (stuffed[i] == 0x7D && i + 1 < stuffed.size()) {
      plain.push_back(static_cast<std::uint8_t>(stuffed[++i] ^ 0x20));
    } else {
      plain.push_back(stuffed[i]);
    }
  }
  return plain;
}

// The command byte of a received request, with or without an opening flag.
inline std::uint8_t CommandOf(const TByteVector& request) {
  if (request.empty()) return 0;
  return request[0] == 0x7E && request.size() > 1 ? request[1] : request[0];
}

}  // namespace vornex::simtest
