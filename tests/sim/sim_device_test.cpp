// A simulated device driven by the station's own code: the AT commands of the modem port, the
// three layers of the diagnostic port with their layer switches, a complete rewrite with its
// wipe of identity and NV data, the reset with re-enumeration under the same key, and the
// restore that brings every value back.
#include <gtest/gtest.h>

#include "sim/nv_catalog.h"
#include "sim/sha256.h"
#include "sim_station.h"

namespace vornex::simtest {
namespace {

std::uint16_t NvStatus(const TByteVector& reply) {
  return reply.size() < 132 ? 0xFFFF : static_cast<std::uint16_t>(reply[130] | (reply[131] << 8));
}

class SimDeviceTest : public BenchFixture {};

TEST_F(SimDeviceTest, ModemAnswersEveryAtCommandOfTheStation) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x01, 0x01);
  const sim::TDeviceReport factory = bench.Report(0);

  std::string value;
  EXPECT_EQ(link.At("AT+MDPARA=DIAG,ON"), 1);
  EXPECT_TRUE(bench.Report(0).diagInterfaceOn);
  ASSERT_EQ(link.At("AT+MDVER", &value), 1);
  EXPECT_EQ(value, sim::kDefaultFirmwareVersion);
  ASSERT_EQ(link.At("AT+NEWSN", &value), 1);
  EXPECT_EQ(value, factory.identity.serialNumber);
  ASSERT_EQ(link.At("AT+NEWMEID", &value), 1);
  EXPECT_EQ(value, factory.identity.meid);
  ASSERT_EQ(link.At("AT+MDTFLAG", &value), 1);
  EXPECT_EQ(value, factory.identity.testFlag);

  EXPECT_EQ(link.At("AT+NEWSN=SN 0042"), 1);
  EXPECT_EQ(link.At("AT+NEWMEID=A0000012345678"), 1);
  EXPECT_EQ(link.At("AT+MDTFLAG=7"), 1);
  ASSERT_EQ(link.At("AT+NEWSN", &value), 1);
  EXPECT_EQ(value, "SN 0042");
  const sim::TDeviceReport written = bench.Report(0);
  EXPECT_EQ(written.identity.serialNumber, "SN 0042");
  EXPECT_EQ(written.identity.meid, "A0000012345678");
  EXPECT_EQ(written.identity.testFlag, "7");

  EXPECT_EQ(link.At("AT+MDPARA=DIAG,OFF"), 1);
  EXPECT_EQ(link.At("AT+NOSUCH"), 0);  // ERROR
  const sim::TDeviceReport after = bench.Report(0);
  EXPECT_FALSE(after.diagInterfaceOn);
  EXPECT_EQ(after.commandCounts.at("ATE1"), 11u);  // one before every command
  EXPECT_EQ(after.commandCounts.at("AT+NEWSN"), 2u);
  EXPECT_EQ(after.commandCounts.at("AT+NEWSN="), 1u);
  EXPECT_EQ(after.commandCounts.at("AT+MDPARA="), 2u);
  EXPECT_EQ(after.commandCounts.at("unknown"), 1u);
}

TEST_F(SimDeviceTest, FirmwareLayerAnswersHelloAndNvItems) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  TByteVector reply;
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG, {}, &reply), 1);
  EXPECT_FALSE(reply.empty());

  // An active item comes back with status 0.
  ASSERT_EQ(link.Diag(0x26, PROTOCOL_DIAG, NvRequest(524), &reply), 1);
  ASSERT_EQ(NvStatus(reply), 0);
  const std::optional<sim::TNvData> stored = bench.NvItem(0, 524);
  ASSERT_TRUE(stored.has_value());
  EXPECT_TRUE(std::equal(stored->begin(), stored->end(), reply.begin() + 2));
  EXPECT_EQ(reply[0], 0x0C);  // 524 = 0x020C, low byte first
  EXPECT_EQ(reply[1], 0x02);

  // An inactive item answers status 5 with the request's data untouched.
  const std::uint16_t inactive = sim::InactiveNvItems().front();
  ASSERT_EQ(link.Diag(0x26, PROTOCOL_DIAG, NvRequest(inactive), &reply), 1);
  EXPECT_EQ(NvStatus(reply), sim::kNvStatusInactive);
  EXPECT_EQ(TByteVector(reply.begin() + 2, reply.begin() + 130), TByteVector(128, 0));

  // A write activates and stores the item.
  const TByteVector data = PatternBytes(128, 3);
  ASSERT_EQ(link.Diag(0x27, PROTOCOL_DIAG, NvRequest(inactive, data.data()), &reply), 1);
  EXPECT_EQ(NvStatus(reply), 0);
  ASSERT_EQ(link.Diag(0x26, PROTOCOL_DIAG, NvRequest(inactive), &reply), 1);
  EXPECT_EQ(NvStatus(reply), 0);
  EXPECT_EQ(TByteVector(reply.begin() + 2, reply.begin() + 130), data);

  // Requests the firmware cannot carry out are answered at once, but not accepted.
  EXPECT_EQ(link.Diag(0x26, PROTOCOL_DIAG, TByteVector(20, 0)), 0);
  EXPECT_EQ(link.Attempts(), 1);
  EXPECT_EQ(link.Diag(0x4B, PROTOCOL_DIAG), 0);
  EXPECT_EQ(link.Attempts(), 1);
  EXPECT_TRUE(link.DiagPort()->IsOpen());
  const sim::TDeviceReport report = bench.Report(0);
  EXPECT_EQ(report.commandCounts.at("firmware:26"), 4u);
  EXPECT_EQ(report.commandCounts.at("firmware:27"), 1u);
  EXPECT_EQ(report.layer, "firmware");
}

// The station's connection probes a port with the firmware hello, then the streaming hello,
// then the download hello. In every layer exactly one is accepted, and the others get a prompt
// answer that is not accepted (one attempt each, the port stays open).
TEST_F(SimDeviceTest, EachLayerAcceptsOnlyItsOwnProbe) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  auto probes = [&] {
    std::vector<int> accepted;
    for (const auto& [command, protocol, payload] :
         std::vector<std::tuple<std::uint8_t, std::int32_t, TByteVector>>{
             {0x00, PROTOCOL_DIAG, {}},
             {0x01, PROTOCOL_STREAMING, HostHello()},
             {0x0C, PROTOCOL_DOWNLOAD, {}}}) {
      TByteVector reply;
      accepted.push_back(link.Diag(command, protocol, payload, &reply));
      EXPECT_EQ(link.Attempts(), 1) << int(command);
      EXPECT_TRUE(link.DiagPort()->IsOpen());
      if (command == 0x01 && accepted.back() == 1) {
        EXPECT_EQ(std::string(reply.begin(), reply.begin() + 32),
                  "QCOM fast download protocol targ");
      }
    }
    return accepted;
  };
  EXPECT_EQ(probes(), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(bench.Report(0).layer, "firmware");

  EXPECT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  EXPECT_EQ(bench.Report(0).layer, "download");
  EXPECT_EQ(probes(), (std::vector<int>{0, 0, 1}));
  // The download refusal names its reason.
  TByteVector reply;
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 0);
  EXPECT_EQ(link.Diag(0x01, PROTOCOL_STREAMING, HostHello(), &reply), 0);

  ASSERT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  EXPECT_EQ(bench.Report(0).layer, "programmer");
  EXPECT_EQ(probes(), (std::vector<int>{0, 1, 0}));
  // While the firmware is not running, the modem does not answer.
  link.Device().ModemPort()->SetTimeLimits(kShortMs, kShortMs);
  EXPECT_EQ(link.At("AT+MDVER"), 0);
}

TEST_F(SimDeviceTest, ProgrammerStartsOnlyFromTheExpectedImage) {
  sim::TSimBench& bench = Start(1);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  const sim::TProgrammerImage programmer = TestProgrammer();

  TByteVector reply;
  EXPECT_EQ(link.Diag(0x05, PROTOCOL_DOWNLOAD, Be32(kProgrammerAddress), &reply), 0);
  EXPECT_EQ(std::string(reply.begin(), reply.end()).rfind("Reason Codes:", 0), 0u);

  sim::TProgrammerImage wrong = programmer;
  wrong.data[1500] ^= 0x01;
  EXPECT_EQ(link.LoadProgrammer(wrong), 0);
  sim::TProgrammerImage elsewhere = programmer;
  elsewhere.startAddress += 0x1000;
  EXPECT_EQ(link.LoadProgrammer(elsewhere), 0);
  // A write block whose length field disagrees with its data is refused.
  TByteVector block = Be32(kProgrammerAddress);
  block.insert(block.end(), {0x00, 0x05, 0x01});
  EXPECT_EQ(link.Diag(0x0F, PROTOCOL_DOWNLOAD, block, &reply), 0);
  EXPECT_EQ(bench.Report(0).layer, "download");

  EXPECT_EQ(link.LoadProgrammer(programmer), 1);
  EXPECT_EQ(bench.Report(0).layer, "programmer");
}

TEST_F(SimDeviceTest, WithoutAnExpectedProgrammerAnyWrittenProgramStarts) {
  sim::TSimBench& bench = Start({sim::TDeviceConfig{}}, false);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open() & 0x02, 0x02);
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  EXPECT_EQ(link.Diag(0x05, PROTOCOL_DOWNLOAD, Be32(0x2000)), 0);  // nothing there
  EXPECT_EQ(link.LoadProgrammer(sim::TProgrammerImage{PatternBytes(10, 1), 0x2000}), 1);
}

// The whole rewrite as the station runs it, then the reset, and the restore of identity.
TEST_F(SimDeviceTest, RewriteInstallsTheImageWipesIdentityAndSurvivesTheReset) {
  sim::TSimBench& bench = Start(1);
  const sim::TDeviceReport factory = bench.Report(0);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open(), 0x03);

  // Backup: every factory NV item.
  std::vector<std::pair<std::uint16_t, TByteVector>> backup;
  for (const std::uint16_t item : sim::FactoryNvItems()) {
    TByteVector reply;
    ASSERT_EQ(link.Diag(0x26, PROTOCOL_DIAG, NvRequest(item), &reply), 1);
    ASSERT_EQ(NvStatus(reply), 0);
    backup.emplace_back(item, TByteVector(reply.begin() + 2, reply.begin() + 130));
  }

  // Download mode, programmer, the close that ends the programmer download (nothing streamed:
  // the firmware stays), then the image and its close.
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  ASSERT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  TByteVector reply;
  ASSERT_EQ(link.Diag(0x01, PROTOCOL_STREAMING, HostHello(), &reply), 1);
  ASSERT_EQ(link.Diag(0x15, PROTOCOL_STREAMING), 1);
  EXPECT_EQ(bench.Report(0).flashSha256, factory.flashSha256);
  EXPECT_EQ(bench.Report(0).flashCount, 0u);

  const TByteVector image = MakeImage(5 * 1024 + 1, "VX730-R2.0.0", 11);
  ASSERT_EQ(link.StreamImage(image), 1);
  const sim::TDeviceReport flashed = bench.Report(0);
  EXPECT_EQ(flashed.flashLength, image.size());
  EXPECT_EQ(flashed.flashSha256, sim::Sha256Hex(image.data(), image.size()));
  EXPECT_EQ(flashed.firmwareVersion, "VX730-R2.0.0");
  EXPECT_EQ(flashed.flashCount, 1u);
  EXPECT_EQ(flashed.identity.serialNumber, "");
  EXPECT_EQ(flashed.identity.meid, "");
  EXPECT_EQ(flashed.identity.testFlag, "0");
  EXPECT_EQ(flashed.nvItemCount, factory.nvItemCount);
  EXPECT_EQ(bench.NvItem(0, 524), sim::TNvData{});

  // Reset: the ports vanish (the open ones hang up) and come back under the same key and COM
  // numbers, freshly booted into the new firmware.
  ASSERT_EQ(link.Diag(0x0B, PROTOCOL_STREAMING), 1);
  ASSERT_TRUE(WaitPresent(0, false));
  EXPECT_TRUE(PortsOf(bench.Folder(), bench.Key(0)).empty());
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 0);
  ASSERT_TRUE(WaitPresent(0, true));
  const sim::TDeviceReport back = bench.Report(0);
  EXPECT_EQ(back.key, factory.key);
  EXPECT_EQ(back.diagCom, factory.diagCom);
  EXPECT_EQ(back.modemCom, factory.modemCom);
  EXPECT_EQ(back.layer, "firmware");
  EXPECT_EQ(back.bootCount, 1u);
  EXPECT_EQ(PortsOf(bench.Folder(), bench.Key(0)).size(), 2u);

  // Restore, as the station does after the reset.
  ASSERT_EQ(link.Open(), 0x03);
  std::string value;
  ASSERT_EQ(link.At("AT+MDVER", &value), 1);
  EXPECT_EQ(value, "VX730-R2.0.0");
  ASSERT_EQ(link.At("AT+NEWSN", &value), 1);
  EXPECT_EQ(value, "");
  ASSERT_EQ(link.At("AT+NEWSN=" + factory.identity.serialNumber), 1);
  ASSERT_EQ(link.At("AT+NEWMEID=" + factory.identity.meid), 1);
  ASSERT_EQ(link.At("AT+MDTFLAG=" + factory.identity.testFlag), 1);
  for (const auto& [item, data] : backup) {
    ASSERT_EQ(link.Diag(0x27, PROTOCOL_DIAG, NvRequest(item, data.data()), &reply), 1);
    ASSERT_EQ(NvStatus(reply), 0);
  }
  const sim::TDeviceReport restored = bench.Report(0);
  EXPECT_EQ(restored.identity.serialNumber, factory.identity.serialNumber);
  EXPECT_EQ(restored.identity.meid, factory.identity.meid);
  EXPECT_EQ(restored.identity.testFlag, factory.identity.testFlag);
  EXPECT_EQ(restored.nvDigest, factory.nvDigest);
  EXPECT_EQ(restored.flashSha256, flashed.flashSha256);
}

TEST_F(SimDeviceTest, ResetWithRenumberingKeepsTheKeyAndDropsAnUnfinishedStream) {
  sim::TDeviceConfig config;
  config.renumberOnReset = true;
  sim::TSimBench& bench = Start({config, sim::TDeviceConfig{}});
  const sim::TDeviceReport before = bench.Report(0);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open(), 0x03);
  ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
  ASSERT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  TByteVector block(4, 0);
  block.resize(1028, 0x42);
  ASSERT_EQ(link.Diag(0x07, PROTOCOL_STREAMING, block), 1);
  ASSERT_EQ(link.Diag(0x0B, PROTOCOL_STREAMING), 1);  // no close
  ASSERT_TRUE(WaitPresent(0, false));
  ASSERT_TRUE(WaitPresent(0, true));

  const sim::TDeviceReport after = bench.Report(0);
  EXPECT_EQ(after.key, before.key);
  EXPECT_EQ(after.flashSha256, before.flashSha256);
  EXPECT_EQ(after.firmwareVersion, before.firmwareVersion);
  const sim::TDeviceReport other = bench.Report(1);
  std::vector<int> old = {before.diagCom, before.modemCom};
  for (const int com : {after.diagCom, after.modemCom}) {
    EXPECT_EQ(std::count(old.begin(), old.end(), com), 0) << com;
    EXPECT_NE(com, other.diagCom);
    EXPECT_NE(com, other.modemCom);
  }
  // The registry shows the new numbers only, and the station finds the device by its key.
  std::vector<int> registered;
  for (const bench::TBenchPort& port : PortsOf(bench.Folder(), bench.Key(0))) {
    registered.push_back(port.info.com);
  }
  std::sort(registered.begin(), registered.end());
  std::vector<int> expected = {after.diagCom, after.modemCom};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(registered, expected);
  ASSERT_EQ(link.Open(), 0x03);
  EXPECT_EQ(link.DiagCom(), after.diagCom);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 1);
}

}  // namespace
}  // namespace vornex::simtest
