// The sysfs and bench registry backends on fixture trees and folders, with what only POSIX
// systems can plant there (FIFOs, links, locks).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <set>

#include "discovery/bench_registry.h"
#include "discovery/linux/sysfs_backend.h"
#include "discovery/usb_roles.h"
#include "enumeration_fixture.h"
#include "foundation/paths.h"
#include "support/sysfs_tree.h"

namespace vornex {
namespace {

// Two identical devices on two sockets, one of another vendor whose product string names
// "Diagnostic", a CDC ACM device without product string and revision, and ttys that must not
// be listed: a dangling link, an interface without number, a number beyond the mapping, a
// platform port.
void BuildBench(testing::SysfsTree& tree, int firstTty = 0) {
  const auto usb = [&](int n) { return "ttyUSB" + std::to_string(firstTty + n); };
  tree.AddDevice("1-1.2", "05c6", "9004", "Vornex Handset");
  tree.AddDevice("1-1.3", "05c6", "9004", "Vornex Handset");
  for (int mi = 0; mi < 3; ++mi) {
    tree.AddTty("1-1.2", "0" + std::to_string(mi), usb(mi));
    tree.AddTty("1-1.3", "0" + std::to_string(mi), usb(3 + mi));
    tree.AddNode(usb(mi));
    tree.AddNode(usb(3 + mi));
  }
  tree.AddDevice("2-1", "fffe", "0001", "Bench Adapter Diagnostic\x01", "0105");
  tree.AddTty("2-1", "00", usb(6));  // no device node
  tree.AddDevice("1-1.4", "05c6", "9004", "", "");
  tree.AddTty("1-1.4", "00", "ttyACM0");
  tree.AddNode("ttyACM0");

  tree.AddClassEntry("ttyUSB7", tree.sys() + "/devices/virtual/tty/ttyUSB7", "../gone");
  tree.AddDevice("1-1.5", "05c6", "9004");
  tree.AddTty("1-1.5", "00", "ttyUSB8", /*withNumber=*/false);
  tree.AddTty("1-1.5", "01", "ttyUSB61");
  tree.AddClassEntry("ttyS0", tree.sys() + "/devices/platform/serial8250/tty/ttyS0",
                     "../../../serial8250");
}

// The key inside a sysfs path, checking the path's shape on the way.
std::string KeyOf(const TPortInfo& port) {
  static const std::regex kShape(
      R"(^\\\\\?\\USB#VID_[0-9A-F]{4}&PID_[0-9A-F]{4}&MI_([0-9A-F]{2})#6&([0-9A-F]{8})&0&00)"
      R"(([0-9A-F]{2})#\{[0-9a-f-]{36}\}$)");
  std::smatch match;
  EXPECT_TRUE(std::regex_match(port.path.str(), match, kShape)) << port.path.str();
  EXPECT_TRUE(match.empty() || match[1] == match[3]) << port.path.str();
  return match.empty() ? "" : match[2].str();
}

TEST_F(EnumerationTest, SysfsListsUsbTtysWithTheirIdentity) {
  testing::SysfsTree tree;
  BuildBench(tree);
  const int holder = ::open((tree.dev() + "/ttyUSB1").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev(), tree.dev() + "/none.ini"));
  ASSERT_EQ(Enumerate(), 8);
  ::close(holder);

  struct Expected {
    int com;
    std::int32_t portClass;
    const char* description;
    const char* hardwareId;
    std::int32_t openable;
  };
  const Expected expected[] = {
      {3, 1, "Vornex Handset Diagnostics (ttyUSB0)", "REV_0000&MI_00", 1},
      {4, 1, "Vornex Handset Serial Port (ttyUSB1)", "REV_0000&MI_01", 0},
      {6, 1, "Vornex Handset Diagnostics (ttyUSB3)", "REV_0000&MI_00", 1},
      {7, 1, "Vornex Handset Serial Port (ttyUSB4)", "REV_0000&MI_01", 1},
      {9, 1, "USB Device Serial Port (ttyUSB6)", "", 0},
      {64, 1, "USB Device Diagnostics (ttyACM0)", "MI_00", 1},
      {5, 2, "Vornex Handset Modem (ttyUSB2)", "REV_0000&MI_02", 1},
      {8, 2, "Vornex Handset Modem (ttyUSB5)", "REV_0000&MI_02", 1},
  };
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(expected[i].description);
    EXPECT_EQ(At(i).com, expected[i].com);
    EXPECT_EQ(At(i).portClass, expected[i].portClass);
    EXPECT_EQ(At(i).description.str(), expected[i].description);
    if (*expected[i].hardwareId != '\0') {
      EXPECT_EQ(At(i).hardwareId.str(),
                std::string("USB\\VID_05C6&PID_9004&") + expected[i].hardwareId);
    }
    EXPECT_EQ(At(i).openable, expected[i].openable);
    EXPECT_EQ(At(i).usb, 1);
  }
  EXPECT_EQ(At(4).hardwareId.str(), "USB\\VID_FFFE&PID_0001&REV_0105&MI_00");
  EXPECT_NE(At(6).path.str().find("#{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}"), std::string::npos);
  EXPECT_EQ(At(0).location.str(), "1-1.2:1.0");
  EXPECT_EQ(At(5).ttyPath.str(), tree.dev() + "/ttyACM0");
  // One key per device, another per socket.
  EXPECT_EQ(KeyOf(At(0)), KeyOf(At(1)));
  EXPECT_EQ(KeyOf(At(0)), KeyOf(At(6)));
  EXPECT_EQ(KeyOf(At(2)), KeyOf(At(7)));
  EXPECT_NE(KeyOf(At(0)), KeyOf(At(2)));
  EXPECT_NE(KeyOf(At(0)), KeyOf(At(5)));
  // The serial port opens what was listed.
  EXPECT_EQ(com_resolver::Resolve(3), tree.dev() + "/ttyUSB0");
  EXPECT_EQ(com_resolver::Resolve(64), tree.dev() + "/ttyACM0");
  EXPECT_FALSE(com_resolver::Resolve(10));
}

TEST_F(EnumerationTest, SysfsKeysSurviveAResetOnTheSameSocket) {
  std::vector<std::string> before;
  {
    testing::SysfsTree tree;
    BuildBench(tree);
    run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev(), tree.dev() + "/none.ini"));
    ASSERT_EQ(Enumerate(), 8);
    for (int i = 0; i < 8; ++i) before.push_back(At(i).path.str());
  }
  // The same devices come back under other tty names and COM numbers.
  testing::SysfsTree tree;
  BuildBench(tree, 20);
  run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev(), tree.dev() + "/none.ini"));
  ASSERT_EQ(Enumerate(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(At(i).path.str(), before[i]);
  EXPECT_EQ(At(0).com, 23);
}

TEST_F(EnumerationTest, SysfsTakesThePortRolesFromTheStationSettings) {
  testing::SysfsTree tree;
  BuildBench(tree);
  testing::TempDir exe;
  testing::WriteFile(exe.File("Vornex_730.ini"),
                     "[UsbPorts]\n05c6:9004 = 01=Diagnostics, 00=Modem\nFFFE:0001=00=Modem\n");
  paths::OverrideExeFolder(exe.path());
  run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev()));

  ASSERT_EQ(Enumerate(), 8);
  EXPECT_EQ(At(0).description.str(), "Vornex Handset Diagnostics (ttyUSB1)");
  EXPECT_EQ(At(1).description.str(), "Vornex Handset Serial Port (ttyUSB2)");
  EXPECT_EQ(At(4).description.str(), "Vornex Handset Modem (ttyUSB0)");
  EXPECT_EQ(At(4).portClass, kPortClassModem);
  EXPECT_EQ(At(6).description.str(), "USB Device Modem (ttyUSB6)");
  EXPECT_EQ(At(7).com, 64);
}

TEST(UsbRoles, KnowsTheBuiltInProductsAndThoseOfTheSettings) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("Vornex_730.ini"), "[UsbPorts]\n1234:ABCD=00=Modem\n4321:0001=x\n");
  const std::string settings = dir.File("Vornex_730.ini");
  EXPECT_TRUE(usb_roles::IsKnownProduct(settings, 0x05C6, 0x9004));
  EXPECT_TRUE(usb_roles::IsKnownProduct(settings, 0x1234, 0xABCD));
  EXPECT_FALSE(usb_roles::IsKnownProduct(settings, 0x4321, 0x0001));
  EXPECT_FALSE(usb_roles::IsKnownProduct(dir.File("none.ini"), 0x1234, 0xABCD));
}

// A bench record of port `com` of the device with `key`.
std::string Record(int com, const std::string& key, int portClass = 1) {
  return "com=" + std::to_string(com) + "\nclass=" + std::to_string(portClass) +
         "\npath=\\\\?\\USB#VID_05C6&PID_9004&MI_00#6&" + key + "&0&0000#{x}\ntty=/nonexistent\n";
}

// Whatever is planted beside two sound bench devices (COM12 + COM13, COM20) or two sysfs
// devices (COM3, COM4) is refused and noted, promptly and without reading it whole; a COM
// number claimed twice takes both claimants' devices out of the listing.
TEST_F(EnumerationTest, RefusesAndNotesWhatIsPlantedInTheBenchFolderOrSysfsTree) {
  using Plant = std::function<void(const std::string& bench, testing::SysfsTree& tree)>;
  struct Case {
    const char* what;
    bool sysfs;
    Plant plant;
    std::set<int> listed;
    std::string note;
  };
  const std::set<int> sound{12, 13, 20};
  const Case cases[] = {
      {"FIFO record", false,
       [](auto& bench, auto&) { ASSERT_EQ(::mkfifo((bench + "/COM51.port").c_str(), 0600), 0); },
       sound, "bench record COM51.port refused: not a regular file"},
      {"1 GiB record", false,
       [](auto& bench, auto&) {
         testing::WriteFile(bench + "/COM52.port", Record(52, "CCCC"));
         ASSERT_EQ(::truncate((bench + "/COM52.port").c_str(), off_t{1} << 30), 0);
       },
       sound, "bench record COM52.port refused: 1073741824 bytes, more than 65536"},
      {"folder record", false,
       [](auto& bench, auto&) { std::filesystem::create_directory(bench + "/COM5.port"); }, sound,
       "bench record COM5.port refused: not a regular file"},
      {"linked record", false,
       [](auto& bench, auto&) {
         testing::WriteFile(bench + "/.COM53", Record(53, "CCCC"));
         std::filesystem::create_symlink(".COM53", bench + "/COM53.port");
       },
       sound, "bench record COM53.port refused: symbolic link"},
      {"COM12 twice",
       false,
       [](auto& bench, auto&) {
         testing::WriteFile(bench + "/COM12-copy.port", Record(12, "CCCC"));
       },
       {20},
       "COM12 claimed by 2 ports, none listed: /nonexistent <"},
      {"COM12 twice, by name",
       false,
       [](auto& bench, auto&) {
         testing::WriteFile(bench + "/COM12-copy.port", Record(12, "CCCC"));
       },
       {20},
       "bench records COM12-copy.port and COM12.port both claim COM12: "},
      {"FIFO attribute",
       true,
       [](auto&, auto& tree) {
         std::filesystem::remove(tree.UsbDir("1-1.3") + "/idVendor");
         ASSERT_EQ(::mkfifo((tree.UsbDir("1-1.3") + "/idVendor").c_str(), 0600), 0);
       },
       {3},
       "/1-1.3/idVendor refused: not a regular file"},
      {"COM3 twice",
       true,
       [](auto&, auto& tree) {
         tree.AddDevice("1-1.4", "05c6", "9004");
         tree.AddTty("1-1.4", "00", "ttyUSB00");
       },
       {4},
       "COM3 claimed by 2 ports, none listed: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir bench;
    testing::SysfsTree tree;
    testing::WriteFile(bench.File("COM12.port"), Record(12, "AAAA"));
    testing::WriteFile(bench.File("COM13.port"), Record(13, "AAAA", 2));
    testing::WriteFile(bench.File("COM20.port"), Record(20, "BBBB"));
    for (const char* device : {"1-1.2", "1-1.3"}) tree.AddDevice(device, "05c6", "9004");
    tree.AddTty("1-1.2", "00", "ttyUSB0");
    tree.AddTty("1-1.3", "00", "ttyUSB1");
    c.plant(bench.path(), tree);
    if (c.sysfs) {
      run_.Discovery(MakeSysfsBackend(tree.sys(), tree.dev(), tree.dev() + "/none.ini"));
    } else {
      run_.BenchDiscovery(bench.path());
    }
    TDiscoveryNotes notes;
    std::set<int> listed;
    for (int i = 0, n = EnumeratePorts(*table_, &notes); i < n; ++i) listed.insert(At(i).com);
    EXPECT_EQ(listed, c.listed);
    std::vector<std::string> texts;
    for (const TDiscoveryNote& note : notes) texts.push_back(note.text);
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
      return text.find(c.note) != std::string::npos;
    })) << ::testing::PrintToString(texts);
    // What a front-end shows after the search: the bench listing's own notes.
    if (c.sysfs) continue;
    const std::vector<std::string> shown = bench::LastListingNotes();
    EXPECT_FALSE(shown.empty());
    for (const std::string& note : shown) {
      EXPECT_NE(std::find(texts.begin(), texts.end(), note), texts.end()) << note;
    }
  }
}

}  // namespace
}  // namespace vornex
