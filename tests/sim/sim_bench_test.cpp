// The bench as the station sees it: registry records and port links under stable COM numbers,
// grouping keys, extra ports, clean-up, unplugging, the station's own connection and downloads
// against a simulated device, eight devices at once, and the vornex-devsim program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <tuple>

#include "protocols/hex_file.h"
#include "sim/sha256.h"
#include "sim_station.h"

namespace vornex::simtest {
namespace fs = std::filesystem;
namespace {

// The station's group record of a device, built from the registry.
TUsbGroup GroupOf(const sim::TSimBench& bench, int index) {
  TUsbGroup group;
  group.key = bench.Key(index);
  for (const bench::TBenchPort& port : PortsOf(bench.Folder(), bench.Key(index))) {
    com_resolver::Register(port.info.com, port.ttyPath);
    if (group.portCount < kMaxGroupPorts) group.ports[group.portCount++] = port.info;
  }
  return group;
}

class SimBenchTest : public BenchFixture {};

TEST_F(SimBenchTest, RegistryDescribesEveryPortUnderItsDevicesKey) {
  sim::TDeviceConfig oneExtra;
  oneExtra.extraPorts = 1;
  sim::TDeviceConfig twoExtra;
  twoExtra.extraPorts = 2;
  sim::TSimBench& bench = Start({sim::TDeviceConfig{}, oneExtra, twoExtra});

  const std::vector<bench::TBenchPort> all = bench::ReadPorts(folder_.path());
  ASSERT_EQ(all.size(), 2u + 3u + 4u);
  std::set<int> coms;
  std::set<std::string> keys;
  for (const bench::TBenchPort& port : all) {
    EXPECT_GE(port.info.com, sim::kFirstComNumber);
    EXPECT_TRUE(coms.insert(port.info.com).second) << int(port.info.com);
    keys.insert(KeyOfPath(port.info.path.str()));
    // The record's tty is the bench's stable link to the port's pseudo-terminal.
    EXPECT_EQ(port.ttyPath, folder_.path() + "/dev/COM" + std::to_string(port.info.com));
    ASSERT_TRUE(fs::is_symlink(port.ttyPath));
    EXPECT_EQ(fs::read_symlink(port.ttyPath).string().rfind("/dev/pts/", 0), 0u);
    EXPECT_NE(port.info.hardwareId.str().find("VID_05C6&PID_9004&REV_0000&MI_0"),
              std::string::npos);
    EXPECT_EQ(port.info.path.str().rfind("\\\\?\\USB#VID_05C6&PID_9004&MI_0", 0), 0u);
  }
  EXPECT_EQ(keys.size(), 3u);

  for (int index = 0; index < 3; ++index) {
    const std::vector<bench::TBenchPort> ports = PortsOf(bench.Folder(), bench.Key(index));
    ASSERT_EQ(ports.size(), static_cast<std::size_t>(2 + index));
    int modems = 0;
    int diags = 0;
    const sim::TDeviceReport report = bench.Report(index);
    for (const bench::TBenchPort& port : ports) {
      const std::string path = port.info.path.str();
      if (port.info.portClass == kPortClassModem) {
        ++modems;
        EXPECT_EQ(port.info.com, report.modemCom);
        EXPECT_NE(path.find("{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}"), std::string::npos);
      } else {
        EXPECT_NE(path.find("{86e0d1e0-8089-11d0-9ce4-08003e301f73}"), std::string::npos);
      }
      if (port.info.description.str().find("Diagnostics") != std::string::npos) {
        ++diags;
        EXPECT_EQ(port.info.com, report.diagCom);
        EXPECT_EQ(port.info.portClass, kPortClassSerial);
      }
    }
    EXPECT_EQ(modems, 1);
    EXPECT_EQ(diags, 1);
    EXPECT_EQ(report.extraComs.size(), static_cast<std::size_t>(index));
  }

  bench_.reset();
  EXPECT_TRUE(bench::ReadPorts(folder_.path()).empty());
  EXPECT_FALSE(fs::exists(folder_.path() + "/dev"));
}

TEST_F(SimBenchTest, SixteenDevicesFitAndASeventeenthIsRefused) {
  std::string error;
  sim::TBenchConfig tooMany;
  tooMany.folder = folder_.path();
  tooMany.devices.resize(sim::kMaxDevices + 1);
  EXPECT_EQ(sim::TSimBench::Create(tooMany, &error), nullptr);
  EXPECT_FALSE(error.empty());

  sim::TSimBench& bench = Start(sim::kMaxDevices);
  std::set<std::string> keys;
  std::set<int> coms;
  for (const sim::TDeviceReport& report : bench.Reports()) {
    keys.insert(report.key);
    coms.insert({report.diagCom, report.modemCom});
  }
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(sim::kMaxDevices));
  EXPECT_EQ(coms.size(), static_cast<std::size_t>(2 * sim::kMaxDevices));
  EXPECT_EQ(*coms.begin(), sim::kFirstComNumber);
  StationLink last(bench, sim::kMaxDevices - 1);
  ASSERT_EQ(last.Open(), 0x03);
  EXPECT_EQ(last.Diag(0x00, PROTOCOL_DIAG), 1);
}

TEST_F(SimBenchTest, RecordsLeftByAnEarlierBenchAreCleared) {
  fs::create_directories(folder_.path() + "/dev");
  testing::WriteFile(folder_.File("COM3.port"), "com=3\nclass=1\npath=x#y#6&OLD&0\ntty=/nowhere\n");
  testing::WriteFile(folder_.File("COM40.port"), "com=40\nclass=2\npath=x#y#6&OLD&0\ntty=/n\n");
  fs::create_symlink("/dev/null", folder_.path() + "/dev/COM40");
  testing::WriteFile(folder_.File("notes.txt"), "kept");
  sim::TSimBench& bench = Start(1);
  const std::vector<bench::TBenchPort> ports = bench::ReadPorts(folder_.path());
  ASSERT_EQ(ports.size(), 2u);
  for (const bench::TBenchPort& port : ports)
    EXPECT_EQ(KeyOfPath(port.info.path.str()), bench.Key(0));
  EXPECT_FALSE(fs::is_symlink(folder_.path() + "/dev/COM40"));
  EXPECT_TRUE(fs::exists(folder_.File("notes.txt")));
}

TEST_F(SimBenchTest, UnplugHangsUpTheStationAndReplugBootsAfresh) {
  sim::TSimBench& bench = Start(2);
  const sim::TDeviceReport before = bench.Report(0);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open(), 0x03);
  ASSERT_EQ(link.At("AT+MDPARA=DIAG,ON"), 1);
  bench.Unplug(0);
  ASSERT_TRUE(WaitPresent(0, false));
  EXPECT_TRUE(PortsOf(bench.Folder(), before.key).empty());
  EXPECT_EQ(PortsOf(bench.Folder(), bench.Key(1)).size(), 2u);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 0);
  EXPECT_FALSE(link.DiagPort()->IsOpen());

  bench.Replug(0);
  ASSERT_TRUE(WaitPresent(0, true));
  const sim::TDeviceReport back = bench.Report(0);
  EXPECT_EQ(back.diagCom, before.diagCom);
  EXPECT_EQ(back.bootCount, 1u);
  EXPECT_FALSE(back.diagInterfaceOn);
  ASSERT_EQ(link.Open(), 0x03);
  EXPECT_EQ(link.Diag(0x00, PROTOCOL_DIAG), 1);
  EXPECT_TRUE(bench.Problems().empty());
}

// A socket swapped: the newcomer shows the socket's key and COM numbers with an identity of its
// own; the device taken out keeps what it was left with until it is put back.
TEST_F(SimBenchTest, SwapPutsAnotherDeviceIntoTheSocketAndTheFirstOneBack) {
  sim::TDeviceConfig failing;
  failing.faults.atWritesFail = true;
  sim::TSimBench& bench = Start({failing, {}, {}});
  EXPECT_FALSE(bench.Swap(0, std::nullopt));  // nothing aside yet
  const std::vector<sim::TDeviceReport> first = bench.Reports();
  // Plain, blank identity, firmware erased: the layer and the ports each shows.
  const std::tuple<sim::TNewcomer, const char*, std::size_t> newcomers[] = {
      {{{}, false, false}, "firmware", 2},
      {{{}, true, false}, "firmware", 2},
      {{{}, false, true}, "download", 1}};
  for (int i = 0; i < 3; ++i) {
    const auto& [device, layer, ports] = newcomers[i];
    ASSERT_TRUE(bench.Swap(i, device));
    const sim::TDeviceReport now = bench.Report(i);
    EXPECT_EQ(now.diagCom, first[i].diagCom);
    EXPECT_EQ(now.layer, layer);
    EXPECT_EQ(PortsOf(bench.Folder(), first[i].key).size(), ports);
    EXPECT_EQ(now.identity.serialNumber.empty(), i == 1);
    EXPECT_NE(now.identity.serialNumber, first[i].identity.serialNumber);
    EXPECT_NE(now.identity.meid, first[i].identity.meid);
    EXPECT_EQ(now.identity.testFlag, "2");
    EXPECT_NE(now.nvDigest, first[i].nvDigest);
  }

  // Put back, freshly booted, and healthy once its faults are cleared.
  ASSERT_TRUE(bench.Swap(0, std::nullopt));
  EXPECT_EQ(bench.Report(0).identity.serialNumber, first[0].identity.serialNumber);
  EXPECT_EQ(bench.Report(0).bootCount, 1u);
  StationLink link(bench, 0);
  ASSERT_EQ(link.Open(), 0x03);
  EXPECT_EQ(link.At("AT+NEWSN=VX2"), 0);
  bench.ClearFaults(0);
  EXPECT_EQ(link.At("AT+NEWSN=VX2"), 1);
  EXPECT_TRUE(bench.Problems().empty());
}

// The station's own connection, download-mode switch, programmer download, image download and
// reset, against one simulated device.
TEST_F(SimBenchTest, StationConnectionAndDownloadsRewriteTheDevice) {
  sim::TSimBench& bench = Start(1);
  testing::TempDir files;
  const std::string hexPath = files.File("programmer.hex");
  testing::WriteFile(hexPath, TestProgrammerHex());
  THexImage programmer;
  ASSERT_EQ(ParseHexFile(hexPath, programmer), 1);
  const TByteVector image = MakeImage(200000, "VX730-R5.0.0", 21);

  TUsbDevice device(7);
  ASSERT_EQ(device.ConnectUSB(GroupOf(bench, 0), 4500), 0x03);
  EXPECT_TRUE(bench.Report(0).diagInterfaceOn);
  std::uint8_t nv[128] = {};
  EXPECT_EQ(device.ReadNvItem(524, nv), 1);
  std::uint8_t mode = 0;
  ASSERT_EQ(device.EnterDownloadMode(mode), 1);
  EXPECT_EQ(mode, 0xFF);
  ASSERT_EQ(device.DownloadHex(programmer), 1);
  ASSERT_EQ(device.DownloadAllImage(image), 1);
  const sim::TDeviceReport flashed = bench.Report(0);
  EXPECT_EQ(flashed.flashSha256, sim::Sha256Hex(image.data(), image.size()));
  EXPECT_EQ(flashed.firmwareVersion, "VX730-R5.0.0");

  EXPECT_EQ(device.ResetDevice(), 1);
  device.ClosePorts();
  ASSERT_TRUE(WaitPresent(0, false));
  ASSERT_TRUE(WaitPresent(0, true));
  ASSERT_EQ(device.ConnectUSB(GroupOf(bench, 0), 2500), 0x03);
  char version[128] = {};
  ASSERT_EQ(device.SendAtCommand(version, "AT+MDVER", sizeof version), 1);
  EXPECT_STREQ(version, "VX730-R5.0.0");
  device.ClosePorts();
}

TEST_F(SimBenchTest, EightDevicesAtOnce) {
  constexpr int kDevices = 8;
  sim::TSimBench& bench = Start(kDevices);
  std::vector<TByteVector> images;
  images.reserve(kDevices);
  for (int i = 0; i < kDevices; ++i) {
    images.push_back(MakeImage(3000 + 100 * i, "VX730-R6." + std::to_string(i), 100 + i));
  }
  std::vector<int> results(kDevices, 0);
  std::vector<std::thread> workers;
  workers.reserve(kDevices);
  for (int i = 0; i < kDevices; ++i) {
    workers.emplace_back([&, i] {
      StationLink link(bench, i);
      std::string value;
      TByteVector reply;
      const bool ok = link.Open() == 0x03 && link.At("AT+MDVER", &value) == 1 &&
                      link.Diag(0x26, PROTOCOL_DIAG, NvRequest(856), &reply) == 1 &&
                      link.Diag(0x3A, PROTOCOL_DIAG) == 1 &&
                      link.LoadProgrammer(TestProgrammer()) == 1 &&
                      link.Diag(0x01, PROTOCOL_STREAMING, HostHello(), &reply) == 1 &&
                      link.StreamImage(images[static_cast<std::size_t>(i)]) == 1;
      results[static_cast<std::size_t>(i)] = ok ? 1 : 0;
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int i = 0; i < kDevices; ++i) {
    const TByteVector& image = images[static_cast<std::size_t>(i)];
    EXPECT_EQ(results[static_cast<std::size_t>(i)], 1) << i;
    const sim::TDeviceReport report = bench.Report(i);
    EXPECT_EQ(report.flashSha256, sim::Sha256Hex(image.data(), image.size())) << i;
    EXPECT_EQ(report.firmwareVersion, "VX730-R6." + std::to_string(i));
  }
}

#ifdef VORNEX_DEVSIM_PROGRAM
// The program: records while it runs, state JSON on SIGUSR1 and at exit, records removed after
// SIGTERM.
TEST_F(SimBenchTest, ProgramServesUntilSignalledAndReportsItsState) {
  testing::TempDir files;
  const std::string hexPath = files.File("programmer.hex");
  testing::WriteFile(hexPath, TestProgrammerHex());
  const std::string statePath = files.File("state.json");
  const std::string folder = folder_.path();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(VORNEX_DEVSIM_PROGRAM, VORNEX_DEVSIM_PROGRAM, "--devices", "2", "--bench",
            folder.c_str(), "--time-scale", "0.05", "--fault", "1:firmware=VX730-R7.7.7", "--fault",
            "all:extra-ports=1", "--programmer", hexPath.c_str(), "--state", statePath.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto waitFor = [](const std::function<bool()>& condition) {
    const pacing::TDeadline deadline(kLifeLimitMs);
    while (!condition()) {
      if (deadline.Expired()) return false;
      pacing::Sleep(100);
    }
    return true;
  };
  EXPECT_TRUE(waitFor([&] { return bench::ReadPorts(folder).size() == 6; }));

  // The programmer given on the command line is the one the boot downloader accepts.
  const std::vector<bench::TBenchPort> ports = bench::ReadPorts(folder);
  ASSERT_FALSE(ports.empty());
  {
    StationLink link(folder, KeyOfPath(ports.front().info.path.str()));
    ASSERT_EQ(link.Open(), 0x03);
    ASSERT_EQ(link.Diag(0x3A, PROTOCOL_DIAG), 1);
    sim::TProgrammerImage other = TestProgrammer();
    other.data.back() ^= 0x01;
    EXPECT_EQ(link.LoadProgrammer(other), 0);
    EXPECT_EQ(link.LoadProgrammer(TestProgrammer()), 1);
  }
  ::kill(child, SIGUSR1);
  EXPECT_TRUE(waitFor([&] { return fs::exists(statePath); }));
  EXPECT_NE(testing::ReadFile(statePath).find("\"firmware_version\": \"VX730-R7.7.7\""),
            std::string::npos);
  ::kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(bench::ReadPorts(folder).empty());
  EXPECT_NE(testing::ReadFile(statePath).find("\"extra\": ["), std::string::npos);
}
#endif

}  // namespace
}  // namespace vornex::simtest
