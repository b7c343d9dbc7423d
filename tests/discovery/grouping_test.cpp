// Grouping keys cut from interface paths, the grouping of a port table into devices, and the
// parsing of per-product port roles.
#include <gtest/gtest.h>

#include <vector>

#include "discovery/group_key.h"
#include "discovery/port_info.h"
#include "discovery/usb_roles.h"

namespace vornex {
namespace {

std::string PathWithKey(const std::string& key, int mi) {
  const std::string two = (mi < 10 ? "0" : "") + std::to_string(mi);
  return "\\\\?\\USB#VID_05C6&PID_9004&MI_" + two + "#6&" + key + "&0&00" + two + "#{86e0d1e0}";
}

TEST(GroupKeyOfPath, CutsTheSecondFieldOfTheInstanceIdOrNothing) {
  EXPECT_EQ(GroupKeyOfPath(PathWithKey("5A3F0C21", 0)), "5A3F0C21");
  EXPECT_EQ(GroupKeyOfPath("\\\\?\\usb#vid_05c6&pid_9004&mi_02#6&5a3f0c21&0&0002#{2c}"),
            "5a3f0c21");
  EXPECT_EQ(GroupKeyOfPath("a#b#c&KEY&d"), "KEY");
  for (const char* path : {"", "USB&VID&PID", "USB#VID&PID&MI_00", "USB#VID#6-5A3F-0",
                           "USB#VID#6&5A3F0C21", "a#b#&&"}) {
    EXPECT_EQ(GroupKeyOfPath(path), "") << path;
  }
}

TEST(GroupKeyOfPath, FoldsKeysLongerThanTheFieldWithoutMergingThem) {
  const std::string exact(31, 'k');
  EXPECT_EQ(GroupKeyOfPath(PathWithKey(exact, 0)), exact);
  const std::string folded = GroupKeyOfPath(PathWithKey("serialnumber-0123456789-abcd-0001", 0));
  ASSERT_EQ(folded.size(), 31u);
  EXPECT_EQ(folded.substr(0, 23), "SERIALNUMBER-012345678~");
  EXPECT_EQ(folded.find_first_not_of("0123456789ABCDEF", 23), std::string::npos);
  EXPECT_EQ(GroupKeyOfPath(PathWithKey("SerialNumber-0123456789-ABCD-0001", 2)), folded);
  EXPECT_NE(GroupKeyOfPath(PathWithKey("serialnumber-0123456789-abcd-0002", 0)), folded);
}

class GroupPortsTest : public ::testing::Test {
 protected:
  void Add(int com, const std::string& path) {
    ports_.emplace_back();
    ports_.back().com = static_cast<std::uint8_t>(com);
    ports_.back().path = path;
  }
  std::uint8_t Group(std::uint8_t capacity = kMaxGroups) {
    return GroupPorts(ports_, groups_, capacity, &leftOut_);
  }
  std::vector<int> Coms(int g) {
    std::vector<int> coms;
    for (int i = 0; i < groups_[g].portCount; ++i) coms.push_back(groups_[g].ports[i].com);
    return coms;
  }

  std::vector<TPortInfo> ports_;
  std::array<TUsbGroup, kMaxGroups> groups_{};
  std::vector<TLeftOutPort> leftOut_;
};

TEST_F(GroupPortsTest, GathersPortsByKeyInTableOrderIgnoringLetterCase) {
  Add(3, PathWithKey("AAAA0001", 0));
  Add(6, PathWithKey("BBBB0002", 0));
  Add(4, PathWithKey("aaaa0001", 1));
  Add(7, PathWithKey("BbBb0002", 2));
  Add(9, "no key here");
  Add(5, PathWithKey("AAAA0001", 2));
  Add(10, "no key either");
  ASSERT_EQ(Group(), 3);
  EXPECT_EQ(groups_[0].key.str(), "AAAA0001");  // spelled as its first port has it
  EXPECT_EQ(Coms(0), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(groups_[1].index, 1);
  EXPECT_EQ(Coms(1), (std::vector<int>{6, 7}));
  EXPECT_EQ(groups_[2].key.str(), "");
  EXPECT_EQ(Coms(2), (std::vector<int>{9, 10}));
}

TEST_F(GroupPortsTest, ANinthDeviceIsLeftOutAndTheEightKeepTheirLaterPorts) {
  // Serial ports of nine devices first, then their modem ports, as the enumeration lists them.
  for (int device = 0; device < 9; ++device)
    Add(10 + device, PathWithKey("K" + std::to_string(device), 0));
  for (int device = 0; device < 9; ++device)
    Add(30 + device, PathWithKey("K" + std::to_string(device), 2));
  ASSERT_EQ(Group(), 8);
  EXPECT_EQ(groups_[7].index, 7);
  EXPECT_EQ(groups_[7].key.str(), "K7");
  EXPECT_EQ(Coms(0), (std::vector<int>{10, 30}));
  EXPECT_EQ(Coms(7), (std::vector<int>{17, 37}));
  ASSERT_EQ(leftOut_.size(), 2u);  // both ports of the ninth device
  EXPECT_EQ(leftOut_[0].group, -1);
  EXPECT_EQ(leftOut_[0].port, 8);
  EXPECT_EQ(leftOut_[1].port, 17);
}

TEST_F(GroupPortsTest, KeepsFourPortsPerGroupAndRespectsTheCapacity) {
  for (int mi = 0; mi < 5; ++mi) Add(3 + mi, PathWithKey("FULL", mi));
  Add(20, PathWithKey("NEXT", 0));
  ASSERT_EQ(Group(), 2);
  EXPECT_EQ(Coms(0), (std::vector<int>{3, 4, 5, 6}));
  EXPECT_EQ(Coms(1), (std::vector<int>{20}));
  ASSERT_EQ(leftOut_.size(), 1u);
  EXPECT_EQ(leftOut_[0].group, 0);
  EXPECT_EQ(leftOut_[0].port, 4);

  // Groups beyond the capacity stay as the caller prepared them.
  groups_ = {};
  groups_[1].key = "caller's";
  EXPECT_EQ(Group(1), 1);
  EXPECT_EQ(groups_[1].key.str(), "caller's");
  groups_ = {};
  EXPECT_EQ(Group(0), 0);
  EXPECT_EQ(groups_[0].portCount, 0);
}

TEST(UsbRoles, ParsesItemsAndSkipsWhatDoesNotParse) {
  using enum usb_roles::TPortRole;
  const auto parsed = usb_roles::ParseRoles(" 00 = diagnostics , 2=MODEM,0A=Serial,xx=Modem,03");
  EXPECT_EQ(parsed, (usb_roles::TInterfaceRoles{{0, kDiagnostics}, {2, kModem}, {10, kSerial}}));
  EXPECT_FALSE(usb_roles::ParseRoles("100=Modem,00=Printer,=,").has_value());
  EXPECT_EQ(usb_roles::RoleOf(*parsed, 1), kSerial);
}

// One rule decides which port is the diagnostic one, for a port and for its group: a serial port
// whose description holds "Diagnostic", letter case as written.
TEST(DiagnosticPort, IsTheSerialPortWhoseDescriptionNamesIt) {
  const struct {
    std::int32_t portClass;
    const char* description;
    bool diagnostic;
  } cases[] = {
      {kPortClassSerial, "Vornex USB Diagnostics 9004", true},
      {kPortClassSerial, "Bench Adapter Diagnostic (ttyUSB0)", true},
      {kPortClassSerial, "Vornex USB Serial 9004", false},
      {kPortClassSerial, "Vornex USB diagnostics 9004", false},
      {kPortClassModem, "Vornex USB Diagnostics 9004", false},
      {kPortClassOther, "Vornex USB Diagnostics 9004", false},
  };
  for (const auto& c : cases) {
    TUsbGroup group;
    group.portCount = 1;
    TPortInfo& port = group.ports[0];
    port.com = 7;
    port.portClass = c.portClass;
    port.description = c.description;
    EXPECT_EQ(IsDiagnosticPort(port), c.diagnostic) << c.description;
    EXPECT_EQ(DiagCom(group), c.diagnostic ? 7 : 0) << c.description;
  }
}

}  // namespace
}  // namespace vornex
