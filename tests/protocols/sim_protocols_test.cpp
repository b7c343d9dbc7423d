// The diagnostic commands, the device connection and the AT channel of the station, driven
// through the real device object over real pseudo-terminals: against simulated devices found by
// the station's own discovery (the AT channel in every reply style of the simulated modems), and
// against a scripted peer where a reply is needed that no simulated device gives (a byte-exact
// capture, an NV status of the peer's choosing, a refused switch).
#include <gtest/gtest.h>

#include <atomic>

#include "sim/nv_catalog.h"
#include "sim_protocols_fixture.h"

namespace vornex::simtest {
namespace {

using testing::Bytes;
using testing::ScriptedPeer;

// Time scale of the test that races the simulator's re-enumeration against the station's pause.
constexpr double kReenumerationTimeScale = 0.5;

constexpr const char* kNoPortMessage =
    "Fail to connect usb port. Please check usb connection, and whether installed usb driver.";

// CRC-16/X-25 computed bit by bit: the reference the captured frames are checked against.
std::uint16_t BitwiseX25(const TByteVector& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408)
                      : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return static_cast<std::uint16_t>(~crc);
}

// 128 bytes of NV data that hold both special bytes of the framing.
std::array<std::uint8_t, 128> NvPattern(std::uint8_t salt) {
  std::array<std::uint8_t, 128> data{};
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(salt + i * 29);
  data[0] = 0x7E;
  data[1] = 0x7D;
  data[127] = 0x7E;
  return data;
}

TByteVector NvReply(std::uint16_t item, const std::array<std::uint8_t, 128>& data,
                    std::uint16_t status) {
  TByteVector payload(2 + data.size() + 2);
  payload[0] = static_cast<std::uint8_t>(item & 0xFF);
  payload[1] = static_cast<std::uint8_t>(item >> 8);
  std::copy(data.begin(), data.end(), payload.begin() + 2);
  payload[130] = static_cast<std::uint8_t>(status & 0xFF);
  payload[131] = static_cast<std::uint8_t>(status >> 8);
  return Frame(0x26, PROTOCOL_DIAG, payload);
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.TimeScale(kTimeScale);
    recorder_.Attach(device_);
  }

  testing::RunScope run_;
  TUsbDevice device_{181};
  Recorder recorder_;
  PeerPort port_{device_, run_};
};

TEST_F(PeerTest, NvReadSendsTheExactFrameAndTakesDataOnlyWithStatusZero) {
  const std::array<std::uint8_t, 128> stored = NvPattern(3);
  std::atomic<std::uint16_t> status{0};
  ScriptedPeer peer(port_.Pty(), 0x7E, [&](const Bytes&) {
    std::array<std::uint8_t, 128> other{};
    other.fill(0x55);
    return status == 0 ? NvReply(0x0359, stored, 0) : NvReply(0x0359, other, status);
  });

  // 0x26, item 0x0359 low byte first, 128 zero bytes, status 0 (none of them needs stuffing),
  // then the CRC low byte first, stuffed like the payload, and the flag.
  TByteVector plain{0x26, 0x59, 0x03};
  plain.resize(3 + 128 + 2, 0x00);
  const std::uint16_t crc = BitwiseX25(plain);
  TByteVector expected = plain;
  for (const std::uint8_t byte :
       {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)}) {
    if (byte == 0x7E || byte == 0x7D) {
      expected.push_back(0x7D);
      expected.push_back(static_cast<std::uint8_t>(byte ^ 0x20));
    } else {
      expected.push_back(byte);
    }
  }
  expected.push_back(0x7E);

  std::array<std::uint8_t, 128> data{};
  ASSERT_EQ(device_.ReadNvItem(0x0359, data.data()), 1);
  EXPECT_EQ(data, stored);  // stuffed 0x7E and 0x7D in the reply come back as themselves

  // Status 1 with a good CRC: refused, and the caller's buffer keeps what it held.
  status = 1;
  EXPECT_EQ(device_.ReadNvItem(0x0359, data.data()), 0);
  EXPECT_EQ(data, stored);
  EXPECT_TRUE(device_.DiagPort()->IsOpen());

  const std::vector<Bytes> requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], expected);
  EXPECT_EQ(requests[1], expected);
  EXPECT_EQ(recorder_.attempts, 2);
}

TEST_F(PeerTest, RefusedSwitchEndsDownloadModeWithoutProbingFurther) {
  ScriptedPeer peer(port_.Pty(), 0x7E, [](const Bytes& request) {
    const TByteVector plain = Unstuff(request);
    if (CommandOf(plain) == 0x00) return Frame(0x00, PROTOCOL_DIAG, Text("VX730"));
    // The firmware's "bad command" answer, the refused request after it.
    return Frame(0x13, PROTOCOL_DIAG, TByteVector{CommandOf(plain)});
  });
  std::uint8_t mode = 0x42;
  EXPECT_EQ(device_.EnterDownloadMode(mode), 0);
  EXPECT_EQ(mode, 0xFF);
  std::vector<std::uint8_t> commands;
  for (const Bytes& request : peer.Requests()) commands.push_back(CommandOf(Unstuff(request)));
  EXPECT_EQ(commands, (std::vector<std::uint8_t>{0x00, 0x3A}));
  EXPECT_TRUE(device_.DiagPort()->IsOpen());
}

class DiagCommandsTest : public SimProtocolTest {};

TEST_F(DiagCommandsTest, NvItemsRoundTripAndRefusedReadsLeaveTheBufferAlone) {
  sim::TDeviceConfig failing;
  failing.faults.nvReadsFail = true;
  sim::TSimBench& bench = Start({sim::TDeviceConfig{}, failing});
  Recorder recorder;
  auto device = Connect(0, 11, recorder, 0x03);
  ASSERT_NE(device->DiagPort(), nullptr);

  const std::uint16_t active = sim::FactoryNvItems().front();
  std::array<std::uint8_t, 128> data{};
  ASSERT_EQ(device->ReadNvItem(active, data.data()), 1);
  EXPECT_EQ(data, bench.NvItem(0, active).value());

  const std::array<std::uint8_t, 128> written = NvPattern(9);
  ASSERT_EQ(device->WriteNvItem(active, written.data()), 1);
  EXPECT_EQ(bench.NvItem(0, active).value(), written);
  data.fill(0);
  ASSERT_EQ(device->ReadNvItem(active, data.data()), 1);
  EXPECT_EQ(data, written);

  // An inactive item answers a non-zero status: 0, buffer untouched, port still usable.
  ASSERT_FALSE(sim::InactiveNvItems().empty());
  std::array<std::uint8_t, 128> untouched{};
  untouched.fill(0xA5);
  data = untouched;
  EXPECT_EQ(device->ReadNvItem(sim::InactiveNvItems().front(), data.data()), 0);
  EXPECT_EQ(data, untouched);
  EXPECT_TRUE(device->DiagPort()->IsOpen());
  device->ClosePorts();

  // A device whose reads all answer status 1 still takes writes.
  Recorder other;
  auto failingDevice = Connect(1, 12, other, 0x03);
  EXPECT_EQ(failingDevice->ReadNvItem(active, data.data()), 0);
  EXPECT_EQ(data, untouched);
  EXPECT_EQ(failingDevice->WriteNvItem(active, written.data()), 1);
  EXPECT_EQ(bench.NvItem(1, active).value(), written);
  failingDevice->ClosePorts();

  // Without a diagnostic port nothing is sent and the mode is left alone.
  TUsbDevice idle(13);
  std::uint8_t mode = 0x42;
  EXPECT_EQ(idle.ReadNvItem(active, data.data()), 0);
  EXPECT_EQ(idle.WriteNvItem(active, written.data()), 0);
  EXPECT_EQ(idle.EnterDownloadMode(mode), 0);
  EXPECT_EQ(mode, 0x42);
}

TEST_F(DiagCommandsTest, DownloadModeFromFirmwareKeepsThePortObject) {
  sim::TSimBench& bench = Start(1);
  Recorder recorder;
  auto device = Connect(0, 14, recorder, 0x03);
  TSerialPort* port = device->DiagPort();
  ASSERT_NE(port, nullptr);

  std::uint8_t mode = 0;
  ASSERT_EQ(device->EnterDownloadMode(mode), 1);
  // The streaming hello went to the boot downloader, which refused it.
  EXPECT_EQ(mode, 0xFF);
  EXPECT_EQ(device->DiagPort(), port);
  EXPECT_TRUE(port->IsOpen());
  EXPECT_EQ(bench.Report(0).layer, "download");
  EXPECT_EQ(Count(bench, 0, "firmware:3A"), 1u);
  EXPECT_EQ(Count(bench, 0, "download:01"), 1u);
  EXPECT_EQ(device->SayHelloToDownloadLayer(port), 1);
}

TEST_F(DiagCommandsTest, DownloadModeReopensAReenumeratedPortUnderTheSameNumber) {
  // The station reopens the port a fixed pause after the switch, by which time the device must
  // have left: at the suite's time scale the simulator has under 0.1 s for that, which a busy
  // machine can overrun. At this scale it has about a second, the read limits grow alike, and
  // the reopen may wait as long as it takes for the port to come back.
  run_.TimeScale(kReenumerationTimeScale);
  sim::TDeviceConfig reenumerating;
  reenumerating.reenumerateOnDownloadMode = true;
  sim::TSimBench& bench = Start({reenumerating});
  Recorder recorder;
  auto device = Connect(0, 15, recorder, 0x03, kLongMs);
  ASSERT_NE(device->DiagPort(), nullptr);
  const std::int32_t com = device->DiagPort()->ComNumber();

  std::uint8_t mode = 0;
  ASSERT_EQ(device->EnterDownloadMode(mode), 1);
  EXPECT_EQ(mode, 0xFF);
  ASSERT_TRUE(device->DiagPort()->IsOpen());
  EXPECT_EQ(device->DiagPort()->ComNumber(), com);
  EXPECT_EQ(bench.Report(0).diagCom, com);
  // The device left the bus and came back as its boot downloader: the diagnostic port alone.
  EXPECT_EQ(PortsOf(bench.Folder(), bench.Key(0)).size(), 1u);
  EXPECT_EQ(device->SayHelloToDownloadLayer(device->DiagPort()), 1);
}

TEST_F(DiagCommandsTest, DownloadModeOnARunningProgrammerSkipsTheSwitch) {
  sim::TSimBench& bench = Start(1);
  Recorder recorder;
  auto device = Connect(0, 16, recorder, 0x03);
  ASSERT_TRUE(RawIntoProgrammer(*device, TestProgrammer()));

  std::uint8_t mode = 0;
  ASSERT_EQ(device->EnterDownloadMode(mode), 1);
  EXPECT_EQ(mode, 1);
  // The firmware probe reached the programmer (and was not accepted); no second switch.
  EXPECT_EQ(Count(bench, 0, "programmer:00"), 1u);
  EXPECT_EQ(Count(bench, 0, "firmware:3A"), 1u);
  EXPECT_TRUE(device->DiagPort()->IsOpen());
}

TEST_F(DiagCommandsTest, DownloadModeOnASilentDeviceGivesUpAndClosesThePort) {
  sim::TDeviceConfig silent;
  silent.faults.silentDiag = true;
  sim::TSimBench& bench = Start({silent});
  Recorder recorder;
  auto device = MakeDevice(17, recorder);
  for (const bench::TBenchPort& port : PortsOf(bench.Folder(), bench.Key(0))) {
    if (port.info.com != bench.Report(0).diagCom) continue;
    run_.ComTty(port.info.com, port.ttyPath);
    auto serial = std::make_unique<TSerialPort>(port.info.com);
    serial->SetTimeLimits(kPortWriteLimitMs, kDiagReadLimitMs);
    ASSERT_TRUE(serial->Open()) << serial->LastError();
    device->SetDiagPort(std::move(serial));
  }
  ASSERT_NE(device->DiagPort(), nullptr);

  std::uint8_t mode = 0;
  EXPECT_EQ(device->EnterDownloadMode(mode), 0);
  EXPECT_EQ(mode, 0xFF);
  EXPECT_EQ(recorder.attempts, kExchangeAttempts);
  EXPECT_FALSE(device->DiagPort()->IsOpen());
}

class ConnectionTest : public SimProtocolTest {};

TEST_F(ConnectionTest, FirmwareDeviceOpensBothPortsAndClosesThemAgain) {
  sim::TSimBench& bench = Start(1);
  Recorder recorder;
  auto device = Connect(0, 21, recorder, 0x03);
  const sim::TDeviceReport report = bench.Report(0);
  ASSERT_NE(device->ModemPort(), nullptr);
  ASSERT_NE(device->DiagPort(), nullptr);
  EXPECT_EQ(device->ModemPort()->ComNumber(), report.modemCom);
  EXPECT_EQ(device->DiagPort()->ComNumber(), report.diagCom);
  EXPECT_TRUE(report.diagInterfaceOn);
  EXPECT_EQ(device->Group().key.str(), bench.Key(0));
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_GT(recorder.received, 0);  // the receive relay reports the replies

  EXPECT_EQ(device->ClosePorts(), 0x03);
  EXPECT_EQ(device->ModemPort(), nullptr);
  EXPECT_EQ(device->DiagPort(), nullptr);
  EXPECT_EQ(device->Group().portCount, 0);
  EXPECT_TRUE(device->Group().key.empty());
  EXPECT_EQ(device->ClosePorts(), 0);
  device.reset();

  const std::string log = ReadLogText(LogPath(21));
  EXPECT_TRUE(LinesInOrder(
      log, {"ConnectUSB in", "ConnectUSB Open Modem Port",
            "ConnectUSB Modem COM" + std::to_string(report.modemCom),
            "ConnectUSB connect Modem Port OK", "Open diag port OK", "ConnectUSB Open Diag Port.",
            "ConnectUSB Diag COM" + std::to_string(report.diagCom), "ConnectUSB connect diag OK",
            "ConnectUSB diag Say Hello(1)"}))
      << log;

  TUsbDevice idle(22);
  EXPECT_EQ(idle.ClosePorts(), 0);
}

TEST_F(ConnectionTest, ProgrammerAndBootDownloaderAnswerAsTheDownloadLayers) {
  sim::TDeviceConfig reenumerating;
  reenumerating.reenumerateOnDownloadMode = true;
  sim::TSimBench& bench = Start({sim::TDeviceConfig{}, reenumerating});
  {
    Recorder recorder;
    auto setup = Connect(0, 23, recorder, 0x03);
    ASSERT_TRUE(RawIntoProgrammer(*setup, TestProgrammer()));
    auto boot = Connect(1, 24, recorder, 0x03);
    ASSERT_EQ(Raw(*boot, 0x3A, PROTOCOL_DIAG), 1);
  }
  // Device 1 comes back with its diagnostic port alone.
  const pacing::TDeadline limit(kLifeLimitMs);
  while (PortsOf(bench.Folder(), bench.Key(1)).size() != 1 || !bench.Report(1).present) {
    ASSERT_FALSE(limit.Expired());
    pacing::Sleep(20);
  }

  // In the programmer the modem port still opens (its AT channel is silent there).
  Recorder programmer;
  auto inProgrammer = Connect(0, 25, programmer, 0x05);
  EXPECT_EQ(Count(bench, 0, "programmer:00"), 1u);
  EXPECT_TRUE(programmer.messages.empty());
  EXPECT_EQ(inProgrammer->ClosePorts(), 0x03);
  inProgrammer.reset();
  const std::string log = ReadLogText(LogPath(25));
  EXPECT_TRUE(
      LinesInOrder(log, {"Open diag port FAILED", "ConnectUSB diag SayHelloToFirmwareLayer FAILED",
                         "ConnectUSB diag Say Hello(1)"}))
      << log;

  Recorder boot;
  auto inBoot = Connect(1, 26, boot, 0x04);
  EXPECT_EQ(inBoot->ModemPort(), nullptr);
  EXPECT_EQ(Count(bench, 1, "download:0C"), 1u);
  EXPECT_EQ(inBoot->ClosePorts(), 0x02);
}

TEST_F(ConnectionTest, GroupWithoutDiagnosticPortOpensTheModemOnly) {
  sim::TSimBench& bench = Start(1);
  TUsbGroup group = Find(0);
  ASSERT_EQ(group.portCount, 2);
  for (int p = 0; p < group.portCount; ++p) {
    TPortInfo& port = group.ports[static_cast<std::size_t>(p)];
    if (port.portClass == kPortClassSerial) port.description = "Vornex USB Serial 9004";
  }
  Recorder recorder;
  auto device = MakeDevice(27, recorder);
  EXPECT_EQ(device->ConnectUSB(group, kConnectOpenMs), 0x01);
  EXPECT_EQ(device->DiagPort(), nullptr);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(Count(bench, 0, "firmware:00"), 0u);
  EXPECT_EQ(device->Group().key.str(), bench.Key(0));
  EXPECT_EQ(device->ClosePorts(), 0x01);
}

TEST_F(ConnectionTest, NothingOpenedIsReportedToTheOwner) {
  sim::TSimBench& bench = Start(1);
  const TUsbGroup group = Find(0);
  ASSERT_EQ(group.portCount, 2);
  bench.Unplug(0);
  ASSERT_TRUE(WaitPresent(0, false));

  Recorder recorder;
  auto device = MakeDevice(28, recorder);
  EXPECT_EQ(device->ConnectUSB(group, kConnectOpenMs), 0);
  EXPECT_EQ(recorder.messages, std::vector<std::string>{kNoPortMessage});
  EXPECT_EQ(device->Group().portCount, 0);
  EXPECT_TRUE(device->Group().key.empty());
  EXPECT_EQ(device->ClosePorts(), 0);
}

TEST_F(ConnectionTest, BusyDiagnosticPortIsRetriedForTheOpenTimeOutThenSkipped) {
  sim::TDeviceConfig busy;
  busy.faults.diagBusy = true;
  sim::TSimBench& bench = Start({busy});
  const TUsbGroup group = Find(0);
  ASSERT_EQ(group.portCount, 2);

  Recorder recorder;
  auto device = MakeDevice(29, recorder);
  const auto started = pacing::TClock::now();
  EXPECT_EQ(device->ConnectUSB(group, kConnectOpenMs), 0x01);
  // Given up only once the whole (scaled) open time-out has passed.
  EXPECT_GE(pacing::TClock::now() - started, pacing::Scaled(kConnectOpenMs));
  EXPECT_EQ(device->DiagPort(), nullptr);
  EXPECT_TRUE(recorder.messages.empty());
  EXPECT_EQ(device->ClosePorts(), 0x01);
  device.reset();

  const std::string log = ReadLogText(LogPath(29));
  EXPECT_TRUE(LinesInOrder(log, {"ConnectUSB Diag COM" + std::to_string(bench.Report(0).diagCom)}));
  EXPECT_EQ(log.find("ConnectUSB connect diag OK"), std::string::npos) << log;
}

class AtReplyStyleTest : public SimProtocolTest {};

TEST_F(AtReplyStyleTest, EveryStyleIsReadAndAnErrorResultCostsOneExchange) {
  using enum sim::TAtReplyStyle;
  std::vector<sim::TDeviceConfig> devices;
  for (const auto style : {kPlain, kCmeErrors, kUnsolicitedAfterOk, kCrOnly, kBlankAfterOk}) {
    devices.emplace_back().faults.atReplyStyle = style;
    devices.back().faults.atRefused = {"AT+NEWMEID"};
  }
  sim::TSimBench& bench = Start(devices);
  for (int i = 0; i < static_cast<int>(devices.size()); ++i) {
    SCOPED_TRACE("style " + std::to_string(i));
    Recorder recorder;
    auto device = Connect(i, 40 + i, recorder, 0x03);
    char reply[kAtBufferBytes] = {};
    EXPECT_EQ(device->SendAtCommand(reply, "AT+NEWSN", sizeof reply), 1);
    EXPECT_EQ(reply, bench.Report(i).identity.serialNumber);

    // The error result fails the command at once: one exchange for ATE1, one for the command.
    recorder.Clear();
    EXPECT_EQ(device->SendAtCommand(reply, "AT+NEWMEID", sizeof reply), 0);
    EXPECT_EQ(recorder.attempts, 2);
    EXPECT_TRUE(device->ModemPort()->IsOpen());
    EXPECT_EQ(device->SendAtCommand(reply, "AT+MDTFLAG", sizeof reply), 1);
    EXPECT_EQ(reply, bench.Report(i).identity.testFlag);
  }
}

}  // namespace
}  // namespace vornex::simtest
