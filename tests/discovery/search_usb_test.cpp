// SearchAllUSB over real pseudo-terminals: bench-registered devices grouped by key with their
// busy and absent ports and the exact trace in the search device's log; a sysfs device whose
// node leads to a pty, opened by the station through its COM number; a port opened from its
// own entry after its number has gone to another device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "discovery/bench_registry.h"
#include "discovery/linux/sysfs_backend.h"
#include "discovery/port_enumeration.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "protocols/connection_flags.h"
#include "protocols/usb_device.h"
#include "serial/com_resolver.h"
#include "support/pty_peer.h"
#include "support/run_scope.h"
#include "support/sysfs_tree.h"

namespace vornex {
namespace {

using testing::PtyPair;
using Lines = std::vector<std::string>;

constexpr const char* kSerialClass = "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr const char* kModemClass = "#{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}";

std::string PathOf(const std::string& key, int mi, const char* interfaceClass) {
  const std::string two = "0" + std::to_string(mi);
  return "\\\\?\\USB#VID_05C6&PID_9004&MI_" + two + "#6&" + key + "&0&00" + two + interfaceClass;
}

class SearchUsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_.TimeScale(0.01).BenchDiscovery(bench_.path());
    paths::OverrideExeFolder(exe_.path());
    testing::WriteFile(exe_.File("ROrUdi_200.txt"), "");
  }
  void TearDown() override { paths::OverrideExeFolder(""); }

  void Register(int com, std::int32_t portClass, const std::string& path, const std::string& tty) {
    bench::TBenchPort port;
    port.info.com = static_cast<std::uint8_t>(com);
    port.info.portClass = portClass;
    port.info.path = path;
    port.ttyPath = tty;
    ASSERT_TRUE(bench::WritePort(bench_.path(), port));
  }

  // One search on a fresh search device; its log is complete when this returns.
  std::uint8_t Search(std::array<TUsbGroup, kMaxGroups>& groups) {
    std::uint8_t count = kMaxGroups;
    TUsbDevice device(200);
    device.SearchAllUSB(groups, count);
    return count;
  }

  // The logged texts from the first "SearchAllUSB in" on, without stamps, banners, blank lines.
  Lines Logged() const {
    const std::string bytes = testing::ReadFile(exe_.File("ROrUdi_200.txt"));
    if (bytes.size() < 2) return {};
    std::u16string wide((bytes.size() - 2) / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                      static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
    }
    const std::string text = Utf16ToUtf8(wide);
    Lines lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      const std::string body = end - start > 24 ? text.substr(start + 24, end - start - 24) : "";
      if (lines.empty() && !body.starts_with("SearchAllUSB in")) continue;
      if (!body.empty() && !body.starts_with("====")) lines.push_back(body);
    }
    return lines;
  }

  testing::RunScope run_;
  testing::TempDir exe_;
  testing::TempDir bench_;
  std::array<TUsbGroup, kMaxGroups> groups_{};
};

TEST_F(SearchUsbTest, GroupsBenchDevicesAndTracesEveryPort) {
  PtyPair diagA, plainA, modemA, diagB;
  const std::string a0 = PathOf("5A3F0C21", 0, kSerialClass);
  const std::string a1 = PathOf("5A3F0C21", 1, kSerialClass);
  const std::string a2 = PathOf("5A3F0C21", 2, kModemClass);
  // The second device's paths differ in letter case, as two enumeration methods give them.
  const std::string b0 =
      "\\\\?\\usb#vid_05c6&pid_9004&mi_00#6&1b2c3d4e&0&0000" + std::string(kSerialClass);
  const std::string b2 = PathOf("1B2c3D4e", 2, kModemClass);
  Register(12, kPortClassSerial, a0, diagA.slavePath());
  Register(13, kPortClassSerial, a1, plainA.slavePath());
  Register(14, kPortClassModem, a2, modemA.slavePath());
  Register(20, kPortClassSerial, b0, diagB.slavePath());
  Register(21, kPortClassModem, b2, bench_.File("unplugged"));
  testing::WriteFile(bench_.File("COM30.port"), "com=30\nclass=1\n");  // incomplete: skipped
  // Another program holds COM13.
  const int holder = ::open(plainA.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  ASSERT_EQ(Search(groups_), 2);
  ::close(holder);

  EXPECT_EQ(groups_[1].key.str(), "1b2c3d4e");
  EXPECT_EQ(groups_[1].ports[1].com, 21);
  EXPECT_EQ(com_resolver::Resolve(12), diagA.slavePath());
  const Lines expected{
      "SearchAllUSB in port count = 5",
      "COM12(1)," + a0,
      "COM13(0)," + a1,
      "COM20(1)," + b0,
      "COM14(1)," + a2,
      "COM21(0)," + b2,
      "SearchAllUSB make usb group",
      "Group[0] 3 <5A3F0C21>",
      "-COM12(1)," + a0,
      "-COM13(0)," + a1,
      "-COM14(1)," + a2,
      "Group[1] 2 <1b2c3d4e>",
      "-COM20(1)," + b0,
      "-COM21(0)," + b2,
      "SearchAllUSB out usb count=2",
  };
  EXPECT_EQ(Logged(), expected);
}

TEST_F(SearchUsbTest, TracesAnEmptySearch) {
  EXPECT_EQ(Search(groups_), 0);
  EXPECT_EQ(Logged(), (Lines{"SearchAllUSB in port count = 0", "SearchAllUSB make usb group",
                             "SearchAllUSB out usb count=0"}));
}

TEST_F(SearchUsbTest, SysfsPortOpensThroughItsComNumberAndReadsBusyWhileOpen) {
  PtyPair pty;
  testing::SysfsTree tree;
  tree.AddDevice("1-1.2", "05c6", "9004", "Vornex Handset");
  tree.AddTty("1-1.2", "00", "ttyUSB0");
  tree.AddNode("ttyUSB0", pty.slavePath());
  run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev()));

  ASSERT_EQ(Search(groups_), 1);
  EXPECT_EQ(groups_[0].ports[0].com, 3);
  EXPECT_EQ(groups_[0].ports[0].openable, 1);
  TSerialPort port(3);
  ASSERT_TRUE(port.Open()) << port.LastError();
  std::array<TUsbGroup, kMaxGroups> again{};
  ASSERT_EQ(Search(again), 1);
  EXPECT_EQ(again[0].key.str(), groups_[0].key.str());
  EXPECT_EQ(again[0].ports[0].openable, 0);
}

TEST_F(SearchUsbTest, APortOpensTheTtyOfItsOwnEntryAfterALaterListingLostIt) {
  PtyPair mine, other;
  Register(12, kPortClassModem, PathOf("AAAA0001", 2, kModemClass), mine.slavePath());
  TUsbDevice device(200);
  TUsbGroup group;
  ASSERT_TRUE(device.FindUSBGroup("AAAA0001", group));

  // The device is off the bus for a moment while another one takes its number and is listed.
  ASSERT_TRUE(bench::RemovePort(bench_.path(), 12));
  Register(12, kPortClassModem, PathOf("BBBB0002", 2, kModemClass), other.slavePath());
  ASSERT_EQ(Search(groups_), 1);
  ASSERT_EQ(groups_[0].key.str(), "BBBB0002");

  ASSERT_NE(device.ConnectUSB(group, 60000) & kFlagModemOpen, 0);
  EXPECT_FALSE(mine.Receive().empty());   // the AT command went to the entry's own tty
  EXPECT_TRUE(other.Receive(0).empty());  // and nothing to the number's new owner
  EXPECT_EQ(device.ModemPort()->ComNumber(), 12);
}

TEST_F(SearchUsbTest, ADeviceIsFoundByItsKeyAlsoBeyondTheEighthDevice) {
  // Nine devices; the one looked for has the highest COM numbers, so a search with room for
  // eight devices never reaches it.
  for (int device = 0; device < 9; ++device) {
    const std::string key = "KEY" + std::to_string(device);
    Register(10 + 2 * device, kPortClassSerial, PathOf(key, 0, kSerialClass), "/nonexistent");
    Register(11 + 2 * device, kPortClassModem, PathOf(key, 2, kModemClass), "/nonexistent");
  }
  std::array<TUsbGroup, kMaxGroups> groups{};
  ASSERT_EQ(Search(groups), 8);
  for (const TUsbGroup& group : groups) {
    EXPECT_NE(group.key.str(), "KEY8");
    EXPECT_EQ(group.portCount, 2);  // each of the eight keeps its modem port
  }

  TUsbDevice device(200);
  TUsbGroup found;
  ASSERT_TRUE(device.FindUSBGroup("key8", found));
  EXPECT_EQ(found.key.str(), "KEY8");
  ASSERT_EQ(found.portCount, 2);
  EXPECT_EQ(found.ports[0].com, 26);
  EXPECT_EQ(found.ports[1].com, 27);
  EXPECT_FALSE(device.FindUSBGroup("KEY9", found));
}

}  // namespace
}  // namespace vornex
