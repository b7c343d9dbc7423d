// The port records of the two Windows enumeration methods, made from the values that the system
// calls read (discovery/win32/): this part makes no system call, so that its rules are the same,
// and tested, on every system.
//
// Setup API method (Windows Vista and later). For the COM-port device interfaces, then the modem
// device interfaces, one record per interface whose friendly name, description, class id,
// hardware id and device object name could all be read (the friendly name is not kept):
//   com          the number after the first "COM" of the device key's PortName; 0 when the key
//                or the value cannot be read (such a port is not tested and reads openable 1);
//   portClass    the interface kind: 1 COM port, 2 modem;
//   path         the interface path; usb = 1 when the enumerator name contains "USB";
//   location, address  where the system gives them (empty, 0 otherwise).
// At most kMaxPortCount records are read per kind; the table lists the USB records of the first
// kind, then those of the second, kMaxPortCount at most. A port that the system lists under both
// kinds (one device instance, one COM number: a modem whose driver offers it as a COM port too)
// is one port: its modem record is listed, since that class tells the port's role, unless the
// port-role rules (discovery/usb_roles.h) make its interface the diagnostic port, which the
// station looks for among the COM ports. Records of different devices that claim one number are
// all listed: the enumeration withholds them with their devices (discovery/port_enumeration.h).
//
// Registry method (older systems). The COM numbers of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the
// order of its values, each give the first USB record with that number. USB records come from
// HKLM\SYSTEM\CurrentControlSet\Enum\USB\<device id>\<instance id> for the device ids of the
// station's products (the port-role table, discovery/usb_roles.h): PortName of the instance's
// "Device Parameters" key, its Class ("Ports" 1, "Modem" 2), DeviceDesc, the first HardwareID
// with a revision ("REV_"), and the SymbolicLink of its interface under
// HKLM\SYSTEM\CurrentControlSet\Control\DeviceClasses\{interface class id}.
//
// Every record's tty is "\\.\COMn" (none for COM 0) and its usb flag 1. A COM number beyond
// kMaxCom does not fit the record: such a port is left out, with a note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/port_enumeration.h"
#include "discovery/port_info.h"
#include "foundation/settings.h"
#include "serial/serial_port.h"

namespace vornex::com_records {

// Device interface classes of COM ports and of modems.
constexpr const char* kComPortInterface = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr const char* kModemInterface = "{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}";

constexpr std::size_t kMaxRecordsPerKind = kMaxPortCount;
constexpr std::size_t kMaxComList = 180;
constexpr std::size_t kMaxUsbRecords = 256;
// TPortInfo::com keeps the number in 8 bits.
constexpr int kMaxCom = 255;

// "\\.\COM12", the name by which the station's serial port opens COM n; empty for 0.
using vornex::ComDevicePath;

// n of "COM<n>" (letter case aside, nothing after the digits), n > 0; 0 otherwise. Numbers beyond
// kMaxCom are returned as they are (the caller refuses them).
int ParseComName(std::string_view text);

// The decimal number right after the first "COM" of the text; 0 when there is none.
int ComAfterFirstCom(std::string_view text);

// The interface class id of a port class (1 or 2); empty for any other.
std::string_view InterfaceClassOf(std::int32_t portClass);

// ----- Setup API method

// The values read for one device interface; nullopt where the read failed.
struct TInterfaceValues {
  std::int32_t kind = kPortClassSerial;  // 1 COM-port interface, 2 modem interface
  std::string path;                      // the interface path
  std::optional<std::string> friendlyName;
  std::optional<std::string> description;
  std::optional<std::string> classGuid;
  std::optional<std::string> hardwareId;  // first string of the hardware ids
  std::optional<std::string> deviceObjectName;
  std::optional<std::string> location;
  std::optional<std::uint32_t> address;
  std::optional<std::string> enumerator;
  std::optional<std::string> portName;  // nullopt: device key or value unreadable
};

// Gathers the records of one listing.
class TSetupApiListing {
 public:
  // The port-role rules are those in force under this settings file.
  explicit TSetupApiListing(std::string settingsPath = SettingsPath())
      : settingsPath_(std::move(settingsPath)) {}
  // Takes the record of one interface when it counts (a refused one is noted). False once the
  // interface's kind holds kMaxRecordsPerKind records: the rest of that kind need not be read.
  bool Add(const TInterfaceValues& values, TDiscoveryNotes& notes);
  // The USB records of kind 1, then of kind 2, a port listed under both once, at most
  // kMaxPortCount.
  std::vector<TPortInfo> Table() const;

 private:
  std::string settingsPath_;
  std::vector<TPortInfo> kinds_[2];
};

// ----- Registry method

// The COM numbers of SERIALCOMM's text values in their order, those that read "COM<n>" with
// 1 <= n <= kMaxCom; at most kMaxComList.
std::vector<int> ComList(const std::vector<std::string>& values);

// The values of one instance key under Enum\USB and its "Device Parameters" key.
struct TUsbInstanceValues {
  std::string portName;                  // PortName, "COM5"
  std::string className;                 // Class, "Ports" or "Modem"
  std::string description;               // DeviceDesc
  std::vector<std::string> hardwareIds;  // HardwareID
};

// What the registry method reads under Enum\USB and DeviceClasses.
class TUsbTree {
 public:
  virtual ~TUsbTree() = default;
  // The device ids ("VID_05C6&PID_9004&MI_00") and the instance ids of one of them.
  virtual std::vector<std::string> DeviceIds() = 0;
  virtual std::vector<std::string> Instances(const std::string& deviceId) = 0;
  // nullopt when the instance key or its "Device Parameters" key cannot be opened.
  virtual std::optional<TUsbInstanceValues> Instance(const std::string& deviceId,
                                                     const std::string& instanceId) = 0;
  // The SymbolicLink of the instance's interface of the class id; empty when none is found.
  virtual std::string SymbolicLink(std::string_view interfaceClass, const std::string& deviceId,
                                   const std::string& instanceId) = 0;
};

// Whether a vendor and product id belong to one of the station's products.
using TKnownProduct = std::function<bool(std::uint16_t vendorId, std::uint16_t productId)>;

// Vendor and product id of a device id ("VID_05C6&PID_9004&MI_00", any letter case).
struct TUsbProduct {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};
std::optional<TUsbProduct> ProductOfDeviceId(std::string_view deviceId);

// 1 for "Ports", 2 for "Modem" (letter case aside), 0 otherwise.
std::int32_t ClassOfName(std::string_view className);
// The first hardware id that names a revision ("REV_", any letter case); empty when none does.
std::string RevisionHardwareId(const std::vector<std::string>& hardwareIds);
// The text of a DeviceDesc: "@oem5.inf,%diag%;Vornex Diagnostics" reads "Vornex Diagnostics".
std::string DescriptionText(std::string_view deviceDesc);
// True when a DeviceClasses sub-key name ("##?#USB#VID_05C6&PID_9004&MI_00#6&5a3f&0&0000#{..}")
// names this instance (letter case aside).
bool KeyNamesInstance(std::string_view keyName, std::string_view deviceId,
                      std::string_view instanceId);

// The USB records of the station's products, in the tree's order, at most kMaxUsbRecords.
std::vector<TPortInfo> UsbRecords(TUsbTree& tree, const TKnownProduct& known,
                                  TDiscoveryNotes& notes);

// For each number of the COM list in order, the first USB record with that number (a number
// listed twice gives its record once); at most kMaxPortCount.
std::vector<TPortInfo> RegistryTable(const std::vector<int>& comList,
                                     const std::vector<TPortInfo>& usbRecords);

}  // namespace vornex::com_records
