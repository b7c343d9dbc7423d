// Injected faults, each as the station meets it, and line noise on the diagnostic port: garbage,
// truncated and overlong frames never wedge a device, which answers again at the next frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <tuple>

#include "download/reset_rediscovery.h"
#include "sim/sha256.h"
#include "sim_station.h"

namespace vornex::simtest {
namespace {

std::string AsText(const TByteVector& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

sim::TDeviceConfig With(void (*set)(sim::TDeviceConfig&)) {
  sim::TDeviceConfig config;
  set(config);
  return config;
}

std::uint64_t Count(const sim::TDeviceReport& report, const std::string& name) {
  const auto it = report.commandCounts.find(name);
  return it == report.commandCounts.end() ? 0 : it->second;
}

class SimFaultTest : public BenchFixture {
 protected:
  // Takes a device to its running programmer.
  void ToProgrammer(StationLink& link) {
    ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
    ASSERT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  }
};

TEST_F(SimFaultTest, SilentPortsAnswerNothingWhileTheOtherPortWorks) {
  sim::TSimBench& bench = Start({With([](auto& c) {
                                   c.faults.silentDiag = true;
                                   c.firmwareVersion = "VX730-R9.9.9";  // newer than any image
                                 }),
                                 With([](auto& c) { c.faults.silentModem = true; })});
  StationLink silentDiag(bench, 0);
  ASSERT_EQ(silentDiag.Open(), 0x03);
  silentDiag.DiagPort()->SetTimeLimits(kShortMs, kShortMs);
  EXPECT_EQ(silentDiag.Diag(0x00, PROTOCOL_DIAG), 0);
  EXPECT_EQ(silentDiag.Attempts(), kExchangeAttempts);
  EXPECT_FALSE(silentDiag.DiagPort()->IsOpen());
  std::string version;
  EXPECT_EQ(silentDiag.At("AT+MDVER", &version), 1);
  EXPECT_EQ(version, "VX730-R9.9.9");

  StationLink silentModem(bench, 1);
  ASSERT_EQ(silentModem.Open(), 0x03);
  silentModem.Device().ModemPort()->SetTimeLimits(kShortMs, kShortMs);
  EXPECT_EQ(silentModem.At("ATE1"), 0);
  EXPECT_EQ(silentModem.Diag(0x00, PROTOCOL_DIAG), 1);
  EXPECT_EQ(Count(bench.Report(1), "ATE1"), 0u);
}

TEST_F(SimFaultTest, BadCrcOnlyOnTheNthReply) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.badCrcReply = 2; })});
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 1);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 0);  // a reply came, its CRC is wrong
  EXPECT_EQ(link.Attempts(), 1);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 1);
  EXPECT_EQ(Count(bench.Report(0), "firmware:00"), 3u);
}

TEST_F(SimFaultTest, RefusedBlocksCarryTheirReason) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.refuseBlocks = true; })});
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  EXPECT_EQ(link.Diag(0x06, PROTOCOL_DOWNLOAD), 1);
  TByteVector reply;
  TByteVector block = Be32(kProgrammerAddress);
  block.insert(block.end(), {0x00, 0x01, 0xAA});
  EXPECT_EQ(link.Diag(0x0F, PROTOCOL_DOWNLOAD, block, &reply), 0);
  EXPECT_EQ(AsText(reply), std::string("Reason Codes:write block refused") + '\0');
  EXPECT_EQ(link.LoadProgrammer(TestProgrammer()), 0);
  EXPECT_EQ(bench.Report(0).layer, "download");
}

// The station takes 0x0D/0x0E text reports as accepted; the simulator's flash shows whether the
// data was written.
TEST_F(SimFaultTest, TextReportsInsteadOfStreamAcknowledges) {
  sim::TSimBench& bench =
      Start({With([](auto& c) { c.faults.streamReplies = sim::TStreamReplies::kLogReport; }),
             With([](auto& c) { c.faults.streamReplies = sim::TStreamReplies::kErrorReport; })});
  const TByteVector image = MakeImage(3000, "VX730-R3.0.0", 5);
  const std::string factoryFlash = bench.Report(1).flashSha256;
  for (int index : {0, 1}) {
    StationLink link(bench, index);
    ASSERT_EQ(link.Open() & 0x02, 0x02);
    ToProgrammer(link);
    TByteVector payload(4 + 1024, 0);
    std::copy_n(image.begin(), 1024, payload.begin() + 4);
    TByteVector reply;
    EXPECT_EQ(link.Diag(0x07, PROTOCOL_STREAMING, payload, &reply), 1);
    EXPECT_EQ(AsText(reply).rfind("Reason Codes:", 0), 0u) << AsText(reply);
    EXPECT_EQ(link.StreamImage(image), 1);
  }
  EXPECT_EQ(bench.Report(0).flashSha256, sim::Sha256Hex(image.data(), image.size()));
  EXPECT_EQ(bench.Report(0).firmwareVersion, "VX730-R3.0.0");
  EXPECT_EQ(bench.Report(1).flashSha256, factoryFlash);
  EXPECT_EQ(bench.Report(1).flashCount, 0u);
}

TEST_F(SimFaultTest, FailingNvReadsStillLetWritesThrough) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.nvReadsFail = true; })});
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  TByteVector reply;
  ASSERT_EQ(link.Diag(0x26, PROTOCOL_DIAG, NvRequest(524), &reply), 1);
  ASSERT_EQ(reply.size(), 132u);
  EXPECT_EQ(reply[130] | (reply[131] << 8), sim::kNvStatusFailed);
  EXPECT_EQ(TByteVector(reply.begin() + 2, reply.begin() + 130), TByteVector(128, 0));
  const TByteVector data = PatternBytes(128, 9);
  ASSERT_EQ(link.Diag(0x27, PROTOCOL_DIAG, NvRequest(524, data.data()), &reply), 1);
  EXPECT_EQ(reply[130] | (reply[131] << 8), 0);
  const std::optional<sim::TNvData> stored = bench.NvItem(0, 524);
  ASSERT_TRUE(stored.has_value());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), stored->begin()));
}

// Identity faults, one device each, under the same writes; after a reset the fault's serial.
TEST_F(SimFaultTest, IdentityWritesAnsweredAndTakenAsTheFaultSays) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.nvWriteFailItems = {524}; }),
                                 With([](auto& c) { c.faults.nvStuckItems = {524}; }),
                                 With([](auto& c) { c.faults.atWritesFail = true; }),
                                 With([](auto& c) { c.faults.serialAfterReset = "VX01"; })});
  // NV status of a write of item 524 and whether it took effect (525 always does), whether the
  // serial number, MEID and test flag writes took effect.
  const std::tuple<std::uint8_t, bool, bool> cases[] = {
      {sim::kNvStatusFailed, false, true}, {0, false, true}, {0, true, false}, {0, true, true}};
  const TByteVector data = PatternBytes(128, 11);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const auto [nvStatus, nvTaken, atTaken] = cases[i];
    StationLink link(bench, i);
    ASSERT_EQ(link.Open(), 0x03);
    const sim::TIdentity old = bench.Report(i).identity;
    TByteVector reply;
    for (const std::uint16_t item : {524, 525}) {
      ASSERT_EQ(link.Diag(0x27, PROTOCOL_DIAG, NvRequest(item, data.data()), &reply), 1);
      EXPECT_EQ(reply[130], item == 524 ? nvStatus : 0);
      EXPECT_EQ(std::equal(data.begin(), data.end(), bench.NvItem(i, item)->begin()),
                item == 525 || nvTaken);
    }
    for (const char* write : {"AT+NEWSN=42", "AT+NEWMEID=42", "AT+MDTFLAG=42"}) {
      EXPECT_EQ(link.At(write), atTaken ? 1 : 0) << write;
    }
    std::string serial;
    EXPECT_EQ(link.At("AT+NEWSN", &serial), 1);
    const sim::TIdentity now = bench.Report(i).identity;
    EXPECT_EQ(serial + now.meid + now.testFlag,
              atTaken ? "424242" : old.serialNumber + old.meid + old.testFlag);
  }
  StationLink link(bench, 3);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ToProgrammer(link);
  ASSERT_EQ(link.Diag(0x0B, PROTOCOL_STREAMING), 1);
  ASSERT_TRUE(WaitPresent(3, false));
  ASSERT_TRUE(WaitPresent(3, true));
  EXPECT_EQ(bench.Report(3).identity.serialNumber, "VX01");
}

TEST_F(SimFaultTest, SlowRebootAndNoReturn) {
  sim::TSimBench& bench =
      Start({sim::TDeviceConfig{}, With([](auto& c) { c.bootDelayMs = sim::kSlowBootDelayMs; }),
             With([](auto& c) { c.faults.noReturn = true; })});
  std::vector<std::unique_ptr<StationLink>> links;
  for (int index : {2, 1, 0}) {
    links.push_back(std::make_unique<StationLink>(bench, index));
    ASSERT_EQ(links.back()->Open() & 0x02, 0x02);
    ToProgrammer(*links.back());
    ASSERT_EQ(links.back()->Diag(0x0B, PROTOCOL_STREAMING), 1);
  }
  for (int index : {0, 1, 2}) ASSERT_TRUE(WaitPresent(index, false)) << index;
  ASSERT_TRUE(WaitPresent(0, true));
  EXPECT_FALSE(bench.Report(1).present);  // reset before device 0, back after it
  ASSERT_TRUE(WaitPresent(1, true));
  EXPECT_EQ(bench.Report(1).bootCount, 1u);
  // The device without return stays away well past the slow reboot.
  EXPECT_FALSE(bench.WaitUntil(
      2, [](const sim::TDeviceReport& r) { return r.present; }, 2 * sim::kSlowBootDelayMs));
  EXPECT_TRUE(PortsOf(bench.Folder(), bench.Key(2)).empty());
}

// A programmer that refuses the reset stays where it is: the station's reset step ends at once
// with the refusal, waits for no reboot, and its owner hears the device's reason.
TEST_F(SimFaultTest, RefusedResetEndsTheResetStepAtOnce) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.errorReportOnReset = true; })});
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ToProgrammer(link);
  struct : TStepReporter {
    void StepReport(std::int32_t, const std::string& text) override { last = text; }
    std::string last;
  } reporter;
  TDeviceTextCatch told(link.Device(), nullptr, nullptr);
  TUsbGroup group;
  const TResetOutcome outcome = ResetAndReopen(link.Device(), group, reporter);
  EXPECT_EQ(outcome.command, TResetCommand::kRefused);
  EXPECT_FALSE(outcome.found);
  EXPECT_EQ(told.Last(), "Reason Codes:reset refused");
  EXPECT_EQ(reporter.last, "Reset Device refused");
  EXPECT_TRUE(link.DiagPort()->IsOpen());
  EXPECT_EQ(bench.Report(0).layer, "programmer");
}

// The held port is refused, the other one opens and answers.
TEST_F(SimFaultTest, BusyPortRefusesTheStationsOpen) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.diagBusy = true; }),
                                 With([](auto& c) { c.faults.modemBusy = true; })});
  for (int i = 0; i < 2; ++i) {
    StationLink link(bench, i);
    EXPECT_EQ(link.Open(), i == 0 ? 0x01 : 0x02);
    EXPECT_EQ(link.LastOpenError(),
              std::string(serial_error::kOpen) + ",System Code:" + std::to_string(EWOULDBLOCK));
    EXPECT_EQ(i == 0 ? link.At("AT+MDVER") : link.Diag(0x00, PROTOCOL_DIAG), 1);
  }
}

// The reset's acknowledge arrives with a broken CRC, yet the device reboots as after a good one.
TEST_F(SimFaultTest, DamagedResetReplyStillReboots) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.damagedResetReply = true; })});
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ToProgrammer(link);
  EXPECT_EQ(link.Diag(0x0B, PROTOCOL_STREAMING), 0);
  ASSERT_TRUE(WaitPresent(0, false));
  ASSERT_TRUE(WaitPresent(0, true));
  EXPECT_EQ(bench.Report(0).bootCount, 1u);
}

TEST_F(SimFaultTest, UnplugInTheMiddleOfTheStreamIsForGood) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.faults.unplugAfterBytes = 2048; })});
  const std::string factoryFlash = bench.Report(0).flashSha256;
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ToProgrammer(link);
  EXPECT_EQ(link.StreamImage(MakeImage(8192, "VX730-R4", 1)), 0);
  ASSERT_TRUE(WaitPresent(0, false));
  EXPECT_FALSE(link.DiagPort()->IsOpen());  // hung up, then closed after its attempts
  EXPECT_TRUE(PortsOf(bench.Folder(), bench.Key(0)).empty());
  EXPECT_FALSE(bench.WaitUntil(
      0, [](const sim::TDeviceReport& r) { return r.present; }, 2 * sim::kBootDelayMs));
  EXPECT_EQ(bench.Report(0).flashSha256, factoryFlash);
}

// With re-enumeration on entering download mode, the station's own switch closes the port,
// and reopens the same COM number once the boot downloader's port is back.
TEST_F(SimFaultTest, DownloadModeReenumerationKeepsTheComNumber) {
  sim::TSimBench& bench = Start({With([](auto& c) { c.reenumerateOnDownloadMode = true; })});
  const int diagCom = bench.Report(0).diagCom;
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  link.DiagPort()->SetOpenBudget(4500);
  std::uint8_t mode = 0;
  ASSERT_EQ(link.Device().EnterDownloadMode(mode), 1);
  EXPECT_EQ(mode, 0xFF);
  ASSERT_TRUE(link.DiagPort()->IsOpen());
  EXPECT_EQ(link.DiagPort()->ComNumber(), diagCom);
  EXPECT_EQ(link.Device().SayHelloToDownloadLayer(link.DiagPort()), 1);

  const std::vector<bench::TBenchPort> ports = PortsOf(bench.Folder(), bench.Key(0));
  ASSERT_EQ(ports.size(), 1u);  // the boot downloader shows its diagnostic port alone
  EXPECT_EQ(ports[0].info.com, diagCom);
  const sim::TDeviceReport report = bench.Report(0);
  EXPECT_EQ(report.layer, "download");
  EXPECT_EQ(report.bootCount, 0u);
}

TEST_F(SimFaultTest, ProgrammerStartReenumerationFoundAgainByKey) {
  sim::TSimBench& bench = Start({With([](auto& c) {
    c.reenumerateOnProgrammerStart = true;
    c.renumberOnReset = true;
  })});
  const sim::TDeviceReport before = bench.Report(0);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ToProgrammer(link);
  ASSERT_TRUE(WaitPresent(0, false));
  ASSERT_TRUE(WaitPresent(0, true));
  const std::vector<bench::TBenchPort> ports = PortsOf(bench.Folder(), before.key);
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_NE(ports[0].info.com, before.diagCom);
  ASSERT_EQ(link.Open(), 0x02);
  TByteVector reply;
  EXPECT_EQ(link.Diag(0x01, PROTOCOL_STREAMING, HostHello(), &reply), 1);
  EXPECT_EQ(bench.Report(0).layer, "programmer");
  // The reset brings every port back.
  ASSERT_EQ(link.Diag(0x0B, PROTOCOL_STREAMING), 1);
  ASSERT_TRUE(WaitPresent(0, false));
  ASSERT_TRUE(WaitPresent(0, true));
  EXPECT_EQ(PortsOf(bench.Folder(), before.key).size(), 2u);
}

// Raw writes through the station's port: noise and a valid frame in one write, the way they
// arrive on a bad line.
class SimNoiseTest : public SimFaultTest {
 protected:
  // Writes the bytes, reads the reply as an exchange does and judges it against `request`.
  std::int32_t WriteAndJudge(StationLink& link, TByteVector bytes, std::uint8_t command,
                             std::int32_t protocol, const TByteVector& payload = {}) {
    TPacket request = TPacket::Build(command, payload.empty() ? nullptr : &payload, protocol);
    request.Escape();
    bytes.insert(bytes.end(), request.Bytes().begin(), request.Bytes().end());
    link.DiagPort()->SetEndByte(0x7E);
    std::array<std::uint8_t, 2048> received{};
    std::size_t got = 0;
    if (!link.DiagPort()->WriteThenRead(bytes.data(), bytes.size(), 1, received.data(),
                                        received.size(), &got)) {
      return -1;  // nothing came back
    }
    std::int32_t accepted = 0;
    TByteVector reply;
    DecodeReply(request, received.data(), got, &reply, &accepted);
    return accepted;
  }
};

TEST_F(SimNoiseTest, FirmwareRecoversAfterNoiseTruncatedAndOverlongFrames) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  TByteVector noise = {0x7E, 0x7E, 0x12, 0x34, 0x56, 0x7E, 0x0C, 0x7E, 0x26, 0x7D, 0x7E};
  noise.insert(noise.end(), 5000, 0x55);
  noise.push_back(0x7E);
  EXPECT_EQ(WriteAndJudge(link, noise, 0x00, PROTOCOL_DIAG), 1);
  const sim::TDeviceReport report = bench.Report(0);
  EXPECT_EQ(Count(report, "frame:bad-crc"), 1u);
  EXPECT_EQ(Count(report, "frame:too-short"), 1u);
  EXPECT_EQ(Count(report, "frame:aborted"), 1u);
  EXPECT_EQ(Count(report, "frame:overlong"), 1u);

  // A frame cut short runs into the next one: both are lost together, the next is answered.
  link.DiagPort()->SetTimeLimits(kLongMs, kShortMs);
  const TByteVector truncated = {0x26, 0x0C, 0x02, 0x00, 0x00};
  EXPECT_EQ(WriteAndJudge(link, truncated, 0x00, PROTOCOL_DIAG), -1);
  link.DiagPort()->SetTimeLimits(kLongMs, kLongMs);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 1);
  EXPECT_EQ(link.Attempts(), 1);
  EXPECT_EQ(Count(bench.Report(0), "frame:bad-crc"), 2u);
}

TEST_F(SimNoiseTest, DownloadAndProgrammerLayersRecoverAfterNoise) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  // An opened frame cut after its command, then the whole frame: the second flag ends the
  // fragment, the frame after it is answered.
  EXPECT_EQ(WriteAndJudge(link, {0x7E, 0x0C}, 0x0C, PROTOCOL_DOWNLOAD), 1);

  ASSERT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  const sim::TDeviceReport before = bench.Report(0);
  TByteVector noise = PatternBytes(3000, 77);
  noise.push_back(0x7E);
  EXPECT_EQ(WriteAndJudge(link, noise, 0x01, PROTOCOL_STREAMING, HostHello()), 1);
  const sim::TDeviceReport after = bench.Report(0);
  EXPECT_EQ(after.layer, "programmer");
  EXPECT_EQ(after.flashSha256, before.flashSha256);
  EXPECT_TRUE(after.present);
}

}  // namespace
}  // namespace vornex::simtest
