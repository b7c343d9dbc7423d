// Records of the Windows enumeration methods from the values read by the system calls.
#include "discovery/com_records.h"

#include <algorithm>
#include <set>

#include "discovery/note_text.h"
#include "discovery/usb_roles.h"
#include "foundation/text.h"

namespace vornex::com_records {
namespace {

// More digits than any COM number has: the number is beyond kMaxCom anyway.
constexpr std::size_t kMaxComDigits = 6;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The decimal number at the start of `digits` and how many digits it took (0 when none).
std::pair<int, std::size_t> LeadingNumber(std::string_view digits) {
  int value = 0;
  std::size_t used = 0;
  while (used < digits.size() && IsDigit(digits[used])) {
    if (used < kMaxComDigits) value = value * 10 + (digits[used] - '0');
    ++used;
  }
  if (used > kMaxComDigits) value = kMaxCom + 1;  // too long to be a port the station can keep
  return {value, used};
}

// The hex number of `<prefix>` and `digits` hex digits inside an upper-cased device id.
std::optional<std::uint16_t> HexField(std::string_view id, std::string_view prefix,
                                      std::size_t digits = 4) {
  const std::size_t at = id.find(prefix);
  if (at == std::string_view::npos || at + prefix.size() + digits > id.size()) return std::nullopt;
  unsigned value = 0;
  for (const char c : id.substr(at + prefix.size(), digits)) {
    unsigned digit = 0;
    if (IsDigit(c)) {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return static_cast<std::uint16_t>(value);
}

// The device instance of an interface path, upper case: all but the interface class after its
// last '#' ("\\?\USB#VID_05C6&PID_9004&MI_02#6&5A3F0C21&0&0002"); empty when the path has
// no device id and instance id.
std::string InstanceOfPath(std::string_view path) {
  if (std::count(path.begin(), path.end(), '#') < 3) return {};
  return ToUpperAscii(path.substr(0, path.rfind('#')));
}

// Whether two records are one port listed under both kinds: one device instance, one number.
bool SamePort(const TPortInfo& a, const TPortInfo& b) {
  if (a.com != b.com || b.usb != 1) return false;
  const std::string instance = InstanceOfPath(a.path.str());
  return !instance.empty() && instance == InstanceOfPath(b.path.str());
}

// The class of the record that stands for a port listed under both kinds: the modem's, since it
// tells the port's role, unless the port-role rules make the interface its device's diagnostic
// port (by the product and interface number of its hardware id, "USB\VID_05C6&PID_9004&MI_00").
std::int32_t KeptClass(const TPortInfo& port, const std::string& settingsPath) {
  const std::string id = ToUpperAscii(port.hardwareId.str());
  const std::optional<TUsbProduct> product = ProductOfDeviceId(id);
  const std::optional<std::uint16_t> number = HexField(id, "&MI_", 2);
  if (!product || !number) return kPortClassModem;
  const usb_roles::TInterfaceRoles roles =
      usb_roles::RolesOf(settingsPath, product->vendorId, product->productId);
  return usb_roles::RoleOf(roles, *number) == usb_roles::TPortRole::kDiagnostics ? kPortClassSerial
                                                                                 : kPortClassModem;
}

TDiscoveryNote BeyondNote(int com, std::string_view where) {
  return RefusedNote("COM" + std::to_string(com) + " is beyond COM" + std::to_string(kMaxCom) +
                         ", the highest the station keeps: not listed (" + NoteText(where) + ")",
                     com);
}

}  // namespace

int ParseComName(std::string_view text) {
  if (text.size() < 4 || !EqualsNoCase(text.substr(0, 3), "COM")) return 0;
  const auto [value, used] = LeadingNumber(text.substr(3));
  return used == text.size() - 3 ? value : 0;
}

int ComAfterFirstCom(std::string_view text) {
  const std::size_t at = text.find("COM");
  if (at == std::string_view::npos) return 0;
  return LeadingNumber(text.substr(at + 3)).first;
}

std::string_view InterfaceClassOf(std::int32_t portClass) {
  if (portClass == kPortClassSerial) return kComPortInterface;
  if (portClass == kPortClassModem) return kModemInterface;
  return {};
}

bool TSetupApiListing::Add(const TInterfaceValues& values, TDiscoveryNotes& notes) {
  if (values.kind != kPortClassSerial && values.kind != kPortClassModem) return false;
  std::vector<TPortInfo>& kept = kinds_[values.kind - 1];
  if (kept.size() >= kMaxRecordsPerKind) return false;
  if (!values.friendlyName || !values.description || !values.classGuid || !values.hardwareId ||
      !values.deviceObjectName) {
    return true;  // not counted
  }
  const int com = values.portName ? ComAfterFirstCom(*values.portName) : 0;
  if (com > kMaxCom) {
    notes.push_back(BeyondNote(com, values.path));
    return true;
  }
  TPortInfo port;
  port.com = static_cast<std::uint8_t>(com);
  port.portClass = values.kind;
  port.path = values.path;
  port.description = *values.description;
  port.classGuid = *values.classGuid;
  port.hardwareId = *values.hardwareId;
  port.deviceObjectName = *values.deviceObjectName;
  port.location = values.location.value_or("");
  port.address = values.address.value_or(0);
  port.openable = 1;  // until the access test says otherwise; a port without number keeps it
  port.usb = values.enumerator && ContainsNoCase(*values.enumerator, "USB") ? 1 : 0;
  port.ttyPath = ComDevicePath(com);
  kept.push_back(std::move(port));
  return kept.size() < kMaxRecordsPerKind;
}

std::vector<TPortInfo> TSetupApiListing::Table() const {
  std::vector<TPortInfo> table;
  for (std::size_t kind = 0; kind < 2; ++kind) {
    const std::vector<TPortInfo>& other = kinds_[1 - kind];
    for (const TPortInfo& port : kinds_[kind]) {
      if (table.size() == static_cast<std::size_t>(kMaxPortCount)) return table;
      if (port.usb != 1) continue;
      const bool listedTwice = std::any_of(other.begin(), other.end(),
                                           [&](const TPortInfo& o) { return SamePort(port, o); });
      if (listedTwice && port.portClass != KeptClass(port, settingsPath_)) continue;
      table.push_back(port);
    }
  }
  return table;
}

std::vector<int> ComList(const std::vector<std::string>& values) {
  std::vector<int> coms;
  for (const std::string& value : values) {
    if (coms.size() == kMaxComList) break;
    const int com = ParseComName(value);
    if (com > 0 && com <= kMaxCom) coms.push_back(com);
  }
  return coms;
}

std::optional<TUsbProduct> ProductOfDeviceId(std::string_view deviceId) {
  const std::string upper = ToUpperAscii(deviceId);
  const auto vendorId = HexField(upper, "VID_");
  const auto productId = HexField(upper, "PID_");
  if (!vendorId || !productId) return std::nullopt;
  return TUsbProduct{*vendorId, *productId};
}

std::int32_t ClassOfName(std::string_view className) {
  if (EqualsNoCase(className, "Ports")) return kPortClassSerial;
  if (EqualsNoCase(className, "Modem")) return kPortClassModem;
  return kPortClassOther;
}

std::string RevisionHardwareId(const std::vector<std::string>& hardwareIds) {
  for (const std::string& id : hardwareIds) {
    if (ContainsNoCase(id, "REV_")) return id;
  }
  return {};
}

std::string DescriptionText(std::string_view deviceDesc) {
  if (!deviceDesc.starts_with('@')) return std::string(deviceDesc);
  const std::size_t semicolon = deviceDesc.rfind(';');
  return semicolon == std::string_view::npos ? std::string()
                                             : std::string(deviceDesc.substr(semicolon + 1));
}

bool KeyNamesInstance(std::string_view keyName, std::string_view deviceId,
                      std::string_view instanceId) {
  const std::string wanted = "USB#" + std::string(deviceId) + "#" + std::string(instanceId) + "#";
  return ContainsNoCase(keyName, wanted);
}

std::vector<TPortInfo> UsbRecords(TUsbTree& tree, const TKnownProduct& known,
                                  TDiscoveryNotes& notes) {
  std::vector<TPortInfo> records;
  for (const std::string& deviceId : tree.DeviceIds()) {
    if (records.size() >= kMaxUsbRecords) break;
    const std::optional<TUsbProduct> product = ProductOfDeviceId(deviceId);
    if (!product || !known(product->vendorId, product->productId)) continue;
    for (const std::string& instanceId : tree.Instances(deviceId)) {
      if (records.size() >= kMaxUsbRecords) break;
      const std::optional<TUsbInstanceValues> values = tree.Instance(deviceId, instanceId);
      if (!values) continue;
      const int com = ParseComName(values->portName);
      const std::int32_t portClass = ClassOfName(values->className);
      if (com == 0 || portClass == kPortClassOther) continue;
      if (com > kMaxCom) {
        notes.push_back(BeyondNote(com, deviceId + "\\" + instanceId));
        continue;
      }
      TPortInfo port;
      port.com = static_cast<std::uint8_t>(com);
      port.portClass = portClass;
      port.path = tree.SymbolicLink(InterfaceClassOf(portClass), deviceId, instanceId);
      port.description = DescriptionText(values->description);
      port.hardwareId = RevisionHardwareId(values->hardwareIds);
      if (port.path.empty() || port.description.empty() || port.hardwareId.empty()) continue;
      port.openable = 1;
      port.usb = 1;
      port.ttyPath = ComDevicePath(com);
      records.push_back(std::move(port));
    }
  }
  return records;
}

std::vector<TPortInfo> RegistryTable(const std::vector<int>& comList,
                                     const std::vector<TPortInfo>& usbRecords) {
  std::vector<TPortInfo> table;
  std::set<int> taken;
  for (const int com : comList) {
    if (table.size() == static_cast<std::size_t>(kMaxPortCount)) break;
    if (!taken.insert(com).second) continue;
    const auto record = std::find_if(usbRecords.begin(), usbRecords.end(),
                                     [com](const TPortInfo& port) { return port.com == com; });
    if (record != usbRecords.end()) table.push_back(*record);
  }
  return table;
}

}  // namespace vornex::com_records
