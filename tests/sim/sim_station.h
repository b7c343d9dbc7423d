// The station's side of the simulator tests: a device's ports found in the bench registry by
// the device's grouping key, opened through the COM resolver with the station's TSerialPort,
// and driven with TUsbDevice::Exchange and SendAtCommand, plus the request payloads of the
// device protocols and the whole programmer and image transfers built from them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "discovery/bench_registry.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "protocols/protocol_limits.h"
#include "protocols/usb_device.h"
#include "serial/com_resolver.h"
#include "sim/sim_bench.h"
#include "support/image_files.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex::simtest {

using testing::MakeImage;
using testing::PatternBytes;

// Time scale of every simulator test: a 6000 ms reboot takes 300 ms.
constexpr double kTimeScale = 0.05;
// Limits where an answer is expected (only a lost answer waits them out) and where the test
// waits for silence.
constexpr std::uint32_t kLongMs = 60000;
constexpr std::uint32_t kShortMs = 200;
// Bound on waits for a device to leave or come back: catches hangs only.
constexpr std::uint32_t kLifeLimitMs = 200000;

constexpr std::uint32_t kProgrammerAddress = 0x00100000;
constexpr std::size_t kHexBlockBytes = 1017;
constexpr std::size_t kStreamBlockBytes = 1024;

// The grouping key of a port path: the second '&'-field of its third '#'-field.
inline std::string KeyOfPath(const std::string& path) {
  const auto first = path.find('#');
  if (first == std::string::npos) return {};
  const auto second = path.find('#', first + 1);
  if (second == std::string::npos) return {};
  const auto amp = path.find('&', second + 1);
  if (amp == std::string::npos) return {};
  const auto end = path.find('&', amp + 1);
  if (end == std::string::npos) return {};
  return path.substr(amp + 1, end - amp - 1);
}

// The registered ports of the device with this key, in COM order.
inline std::vector<bench::TBenchPort> PortsOf(const std::string& folder, const std::string& key) {
  std::vector<bench::TBenchPort> ports;
  for (bench::TBenchPort& port : bench::ReadPorts(folder)) {
    if (EqualsNoCase(KeyOfPath(port.info.path.str()), key)) ports.push_back(std::move(port));
  }
  return ports;
}

inline TByteVector Text(std::string_view text) {
  return TByteVector(text.begin(), text.end());
}

inline TByteVector NvRequest(std::uint16_t item, const std::uint8_t* data = nullptr) {
  TByteVector payload(132, 0);
  payload[0] = static_cast<std::uint8_t>(item & 0xFF);
  payload[1] = static_cast<std::uint8_t>(item >> 8);
  if (data != nullptr) std::memcpy(payload.data() + 2, data, 128);
  return payload;
}

inline TByteVector HostHello() {
  // The host magic, then version 3, compatible version 2 and features 1.
  return Text(std::string_view("QCOM fast download protocol host\x03\x02\x01", 35));
}

inline TByteVector Be32(std::uint32_t value) {
  TByteVector bytes;
  AppendU32(bytes, value, true);
  return bytes;
}

inline sim::TProgrammerImage TestProgrammer() {
  return sim::TProgrammerImage{PatternBytes(2 * kHexBlockBytes + 66, 7), kProgrammerAddress};
}
// It as the text of a programmer file.
inline std::string TestProgrammerHex() {
  return testing::IntelHexText(TestProgrammer().data, kProgrammerAddress);
}

// A bench in a fresh folder, with the test time scale.
class BenchFixture : public ::testing::Test {
 protected:
  // The ports that StationLink and the tests register, as an enumeration would, are forgotten
  // at the end.
  void SetUp() override { run_.TimeScale(kTimeScale).SaveComTtys(); }
  void TearDown() override { bench_.reset(); }

  sim::TSimBench& Start(std::vector<sim::TDeviceConfig> devices, bool withProgrammer = true) {
    sim::TBenchConfig config;
    config.folder = folder_.path();
    config.devices = std::move(devices);
    if (withProgrammer) config.programmer = TestProgrammer();
    std::string error;
    bench_ = sim::TSimBench::Create(std::move(config), &error);
    if (!bench_) ADD_FAILURE() << error;
    return *bench_;
  }
  sim::TSimBench& Start(int count) { return Start(std::vector<sim::TDeviceConfig>(count)); }

  bool WaitPresent(int index, bool present) {
    return bench_->WaitUntil(
        index, [present](const sim::TDeviceReport& r) { return r.present == present; },
        kLifeLimitMs);
  }

  testing::RunScope run_;
  testing::TempDir folder_;
  std::unique_ptr<sim::TSimBench> bench_;
};

// One device seen from the station: its ports opened the way a worker's device object holds
// them, with the station's exchange and AT operations.
class StationLink {
 public:
  StationLink(const sim::TSimBench& bench, int index)
      : StationLink(bench.Folder(), bench.Key(index), 100 + index) {}
  StationLink(std::string folder, std::string key, int deviceNumber = 150)
      : folder_(std::move(folder)), key_(std::move(key)), device_(deviceNumber) {
    device_.SetCallback(&CountAttempt, this);
  }
  ~StationLink() { Close(); }

  // Registers and opens the device's ports found in the registry now. Flags as the station's
  // connection reports them: 0x01 modem opened, 0x02 diagnostic port opened.
  int Open(std::uint32_t readLimitMs = kLongMs) {
    Close();
    int opened = 0;
    for (const bench::TBenchPort& port : PortsOf(folder_, key_)) {
      com_resolver::Register(port.info.com, port.ttyPath);
      const bool modem = port.info.portClass == kPortClassModem;
      const bool diag = !modem && ContainsNoCase(port.info.description.str(), "Diagnostic");
      if (!modem && !diag) continue;
      auto serial = std::make_unique<TSerialPort>(port.info.com);
      serial->SetTimeLimits(kLongMs, readLimitMs);
      if (!serial->Open()) {
        lastOpenError_ = serial->LastError();
        continue;
      }
      if (modem) {
        modemCom_ = port.info.com;
        device_.SetModemPort(std::move(serial));
        opened |= 0x01;
      } else {
        diagCom_ = port.info.com;
        device_.SetDiagPort(std::move(serial));
        opened |= 0x02;
      }
    }
    return opened;
  }
  void Close() {
    device_.TakeModemPort().reset();
    device_.TakeDiagPort().reset();
  }

  // One framed command on the diagnostic port; 1 when the reply was accepted.
  std::int32_t Diag(std::uint8_t command, std::int32_t protocol, const TByteVector& payload = {},
                    TByteVector* reply = nullptr) {
    TPacket request = TPacket::Build(command, payload.empty() ? nullptr : &payload, protocol);
    request.Escape();
    TByteVector scratch;
    attempts_ = 0;
    return device_.Exchange(device_.DiagPort(), std::move(request), 1,
                            reply != nullptr ? reply : &scratch);
  }
  // One AT command; 1 on success with its value.
  std::int32_t At(const std::string& command, std::string* value = nullptr) {
    char reply[256] = {};
    const std::int32_t ok = device_.SendAtCommand(reply, command.c_str(), sizeof reply);
    if (value != nullptr) *value = reply;
    return ok;
  }

  // Writes the programmer into RAM block by block and starts it; 1 when every step was accepted.
  std::int32_t LoadProgrammer(const sim::TProgrammerImage& programmer) {
    if (Diag(0x06, PROTOCOL_DOWNLOAD) != 1) return 0;
    for (std::size_t offset = 0; offset < programmer.data.size(); offset += kHexBlockBytes) {
      const std::size_t length = std::min(kHexBlockBytes, programmer.data.size() - offset);
      TByteVector payload = Be32(programmer.startAddress + static_cast<std::uint32_t>(offset));
      payload.push_back(static_cast<std::uint8_t>(length >> 8));
      payload.push_back(static_cast<std::uint8_t>(length & 0xFF));
      payload.insert(payload.end(), programmer.data.begin() + offset,
                     programmer.data.begin() + offset + length);
      if (Diag(0x0F, PROTOCOL_DOWNLOAD, payload) != 1) return 0;
    }
    return Diag(0x05, PROTOCOL_DOWNLOAD, Be32(programmer.startAddress));
  }
  // Streams the image in 1024-byte writes, then closes; 1 when everything was accepted.
  std::int32_t StreamImage(const TByteVector& image) {
    std::size_t offset = 0;
    do {
      const std::size_t length = std::min(kStreamBlockBytes, image.size() - offset);
      TByteVector payload;
      AppendU32(payload, static_cast<std::uint32_t>(offset), false);
      payload.insert(payload.end(), image.begin() + offset, image.begin() + offset + length);
      if (Diag(0x07, PROTOCOL_STREAMING, payload) != 1) return 0;
      offset += kStreamBlockBytes;
    } while (offset < image.size());
    return Diag(0x15, PROTOCOL_STREAMING);
  }

  TUsbDevice& Device() { return device_; }
  TSerialPort* DiagPort() { return device_.DiagPort(); }
  int DiagCom() const { return diagCom_; }
  int ModemCom() const { return modemCom_; }
  int Attempts() const { return attempts_; }
  const std::string& LastOpenError() const { return lastOpenError_; }

 private:
  static void CountAttempt(void* user, std::int32_t status, const void*) {
    if (status == CB_ATTEMPT) ++static_cast<StationLink*>(user)->attempts_;
  }

  std::string folder_;
  std::string key_;
  TUsbDevice device_;
  int diagCom_ = 0;
  int modemCom_ = 0;
  int attempts_ = 0;
  std::string lastOpenError_;
};

}  // namespace vornex::simtest
