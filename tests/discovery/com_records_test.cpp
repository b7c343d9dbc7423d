// The records of the Windows enumeration methods, made from recorded property and registry
// values: the same rules on every system.
#include "discovery/com_records.h"

#include <gtest/gtest.h>

#include <map>

namespace vornex::com_records {
namespace {

TEST(ComRecords, ReadsComNumbers) {
  struct Case {
    const char* text;
    int name;      // ParseComName
    int afterCom;  // ComAfterFirstCom
  };
  const Case cases[] = {
      {"COM5", 5, 5}, {"com12", 12, 0},      {"COM255", 255, 255}, {"COM300", 300, 300},
      {"COM0", 0, 0}, {"COM", 0, 0},         {"COM5x", 0, 5},      {"COM+5", 0, 0},
      {"LPT1", 0, 0}, {"\\\\.\\COM7", 0, 7}, {"", 0, 0},           {"COM9999999", 256, 256},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseComName(c.text), c.name) << c.text;
    EXPECT_EQ(ComAfterFirstCom(c.text), c.afterCom) << c.text;
  }
  EXPECT_EQ(ComDevicePath(12), "\\\\.\\COM12");
  EXPECT_EQ(ComDevicePath(0), "");
}

TInterfaceValues Interface(std::int32_t kind, std::optional<std::string> portName,
                           std::string enumerator = "USB") {
  TInterfaceValues values;
  values.kind = kind;
  values.path = "\\\\?\\USB#VID_05C6&PID_9004&MI_00#6&5A3F0C21&0&0000#{86e0d1e0}";
  values.friendlyName = "Vornex Diagnostics (COM5)";
  values.description = "Vornex Diagnostics";
  values.classGuid = "{4d36e978-e325-11ce-bfc1-08002be10318}";
  values.hardwareId = "USB\\VID_05C6&PID_9004&REV_0000&MI_00";
  values.deviceObjectName = "\\Device\\USBPDO-5";
  values.enumerator = std::move(enumerator);
  values.portName = std::move(portName);
  return values;
}

TEST(ComRecords, SetupApiListsUsbComPortsBeforeModemsAndSkipsWhatDoesNotCount) {
  TSetupApiListing listing;
  TDiscoveryNotes notes;
  EXPECT_TRUE(listing.Add(Interface(kPortClassModem, "COM7"), notes));
  TInterfaceValues noObjectName = Interface(kPortClassSerial, "COM8");
  noObjectName.deviceObjectName.reset();
  EXPECT_TRUE(listing.Add(noObjectName, notes));
  EXPECT_TRUE(listing.Add(Interface(kPortClassSerial, "COM1", "ACPI"), notes));
  EXPECT_TRUE(listing.Add(Interface(kPortClassSerial, "COM300"), notes));
  EXPECT_TRUE(listing.Add(Interface(kPortClassSerial, "COM5"), notes));
  EXPECT_TRUE(listing.Add(Interface(kPortClassSerial, std::nullopt), notes));

  std::vector<TPortInfo> table = listing.Table();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].com, 5);
  EXPECT_EQ(table[0].portClass, kPortClassSerial);
  EXPECT_EQ(table[0].ttyPath.str(), "\\\\.\\COM5");
  EXPECT_EQ(table[1].com, 0);  // no PortName: no number, not tested
  EXPECT_EQ(table[1].ttyPath.str(), "");
  EXPECT_EQ(table[2].com, 7);
  EXPECT_EQ(table[2].portClass, kPortClassModem);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].text.find("COM300 is beyond COM255"), std::string::npos);
  EXPECT_EQ(notes[0].com, 300);

  // The access test opens only the ports that have a tty; here none of them exists.
  TestPortAccess(table, notes);
  EXPECT_EQ(table[0].openable, 0);
  EXPECT_EQ(table[1].openable, 1);
}

TEST(ComRecords, SetupApiKeepsAtMost120PerKindAnd120InAll) {
  TSetupApiListing listing;
  TDiscoveryNotes notes;
  for (const std::int32_t kind : {kPortClassSerial, kPortClassModem}) {
    int accepted = 0;
    while (listing.Add(Interface(kind, "COM" + std::to_string(accepted + 1)), notes)) ++accepted;
    EXPECT_EQ(accepted, kMaxPortCount - 1);  // the 120th record fills the kind
  }
  const std::vector<TPortInfo> table = listing.Table();
  ASSERT_EQ(table.size(), static_cast<std::size_t>(kMaxPortCount));
  EXPECT_EQ(table.back().portClass, kPortClassSerial);
}

// One device's port listed under both interface classes is one port: its modem record, or the
// COM-port record of the diagnostic port. Different devices that claim one number stay listed,
// for the enumeration to withhold with their devices.
TEST(ComRecords, SetupApiListsAPortOfOneDeviceUnderBothClassesOnce) {
  const auto port = [](std::int32_t kind, std::string com, std::string mi, std::string key) {
    TInterfaceValues values = Interface(kind, std::move(com));
    values.path = "\\\\?\\USB#VID_05C6&PID_9004&MI_" + mi + "#6&" + key + "&0&00" + mi + "#{" +
                  (kind == kPortClassSerial ? "86e0d1e0}" : "2c7089aa}");
    values.hardwareId = "USB\\VID_05C6&PID_9004&REV_0000&MI_" + mi;
    return values;
  };
  const auto diag = port(kPortClassSerial, "COM5", "00", "5A3F");
  const auto modem = port(kPortClassSerial, "COM7", "02", "5A3F");
  const struct {
    const char* name;
    std::vector<TInterfaceValues> interfaces;
    std::vector<std::pair<int, std::int32_t>> table;  // COM number and class of each record
  } cases[] = {
      {"modem", {diag, modem, port(kPortClassModem, "COM7", "02", "5a3f")}, {{5, 1}, {7, 2}}},
      {"diagnostics", {diag, port(kPortClassModem, "COM5", "00", "5A3F")}, {{5, 1}}},
      {"two devices",
       {diag, modem, port(kPortClassModem, "COM7", "02", "1B2C")},
       {{5, 1}, {7, 1}, {7, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSetupApiListing listing;
    TDiscoveryNotes notes;
    for (const TInterfaceValues& values : c.interfaces) listing.Add(values, notes);
    std::vector<std::pair<int, std::int32_t>> table;
    for (const TPortInfo& record : listing.Table())
      table.emplace_back(record.com, record.portClass);
    EXPECT_EQ(table, c.table);
  }
}

TEST(ComRecords, ComListKeepsComNamesInRegistryOrderUpTo180) {
  EXPECT_EQ(ComList({"COM9", "LPT1", "COM0", "COM3", "\\Device\\Serial0", "COM300", "COM4"}),
            (std::vector<int>{9, 3, 4}));
  const std::vector<std::string> many(200, "COM5");
  EXPECT_EQ(ComList(many).size(), kMaxComList);
}

// Enum\USB and DeviceClasses as recorded values.
class RecordedTree final : public TUsbTree {
 public:
  template <typename Map>
  static std::vector<std::string> Keys(const Map& map) {
    std::vector<std::string> keys;
    for (const auto& entry : map) keys.push_back(entry.first);
    return keys;
  }
  std::vector<std::string> DeviceIds() override { return Keys(devices); }
  std::vector<std::string> Instances(const std::string& id) override { return Keys(devices[id]); }
  std::optional<TUsbInstanceValues> Instance(const std::string& deviceId,
                                             const std::string& instanceId) override {
    return devices[deviceId][instanceId];
  }
  std::string SymbolicLink(std::string_view interfaceClass, const std::string& deviceId,
                           const std::string& instanceId) override {
    for (const auto& [name, link] : links) {
      if (KeyNamesInstance(name, deviceId, instanceId) && name.ends_with(interfaceClass)) {
        return link;
      }
    }
    return {};
  }

  std::map<std::string, std::map<std::string, std::optional<TUsbInstanceValues>>> devices;
  std::map<std::string, std::string> links;  // DeviceClasses key name -> SymbolicLink
};

TEST(ComRecords, RegistryMethodListsKnownProductsInSerialCommOrder) {
  RecordedTree tree;
  const std::vector<std::string> ids = {"USB\\VID_05C6&PID_9004&MI_00",
                                        "USB\\VID_05C6&PID_9004&REV_0000&MI_00"};
  const std::string diag = "VID_05C6&PID_9004&MI_00";
  const std::string modem = "vid_05c6&pid_9004&mi_02";  // letter case does not matter
  tree.devices[diag]["7&1A2B&0&0000"] = TUsbInstanceValues{"COM12", "ports", "Diag", ids};
  tree.devices[diag]["7&1A2B&0&0009"] = std::nullopt;  // no Device Parameters
  tree.devices[diag]["7&3C4D&0&0000"] = TUsbInstanceValues{"COM14", "Ports", "Diag", ids};
  tree.devices[modem]["7&1A2B&0&0002"] =
      TUsbInstanceValues{"COM13", "Modem", "@oem5.inf,%modem%;Vornex Modem", ids};
  tree.devices[modem]["7&5E6F&0&0002"] = TUsbInstanceValues{"COM15", "Modem", "Modem", {"USB\\X"}};
  tree.devices["VID_1234&PID_0001"]["1"] = TUsbInstanceValues{"COM16", "Ports", "Other", ids};
  tree.links["##?#USB#VID_05C6&PID_9004&MI_00#7&1a2b&0&0000#" + std::string(kComPortInterface)] =
      "\\\\?\\USB#VID_05C6&PID_9004&MI_00#7&1a2b&0&0000#{86e0d1e0}";
  tree.links["##?#USB#VID_05C6&PID_9004&MI_02#7&1a2b&0&0002#" + std::string(kModemInterface)] =
      "\\\\?\\USB#VID_05C6&PID_9004&MI_02#7&1a2b&0&0002#{2c7089aa}";
  tree.links["##?#USB#VID_05C6&PID_9004&MI_02#7&5e6f&0&0002#" + std::string(kModemInterface)] =
      "\\\\?\\USB#VID_05C6&PID_9004&MI_02#7&5e6f&0&0002#{2c7089aa}";
  const auto known = [](std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == 0x05C6 && productId == 0x9004;
  };
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> usb = UsbRecords(tree, known, notes);
  // COM14 lacks its link, COM15 a hardware id with a revision, COM16 is another product.
  ASSERT_EQ(usb.size(), 2u);

  const std::vector<TPortInfo> table = RegistryTable({13, 20, 12, 13, 14}, usb);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].com, 13);
  EXPECT_EQ(table[0].portClass, kPortClassModem);
  EXPECT_EQ(table[0].description.str(), "Vornex Modem");
  EXPECT_EQ(table[0].hardwareId.str(), ids[1]);
  EXPECT_EQ(table[0].ttyPath.str(), "\\\\.\\COM13");
  EXPECT_EQ(table[1].com, 12);
  EXPECT_EQ(table[1].path.str(), "\\\\?\\USB#VID_05C6&PID_9004&MI_00#7&1a2b&0&0000#{86e0d1e0}");
  EXPECT_EQ(table[1].usb, 1);
}

TEST(ComRecords, RegistryMethodStopsAt256UsbRecordsAnd120Ports) {
  RecordedTree tree;
  std::vector<int> comList;
  for (int n = 1; n <= 130; ++n) {
    for (const char* id : {"VID_05C6&PID_9004&MI_00", "VID_05C6&PID_9004&MI_01"}) {
      const std::string instance = std::to_string(1000 + n);
      tree.devices[id][instance] =
          TUsbInstanceValues{"COM" + std::to_string(n), "Ports", "Diag", {"USB\\REV_0000"}};
      tree.links[std::string("USB#") + id + "#" + instance + "#" + kComPortInterface] = "link";
    }
    comList.push_back(n);
  }
  TDiscoveryNotes notes;
  const std::vector<TPortInfo> usb = UsbRecords(
      tree, [](auto, auto) { return true; }, notes);
  EXPECT_EQ(usb.size(), kMaxUsbRecords);
  EXPECT_EQ(RegistryTable(comList, usb).size(), static_cast<std::size_t>(kMaxPortCount));
}

}  // namespace
}  // namespace vornex::com_records
