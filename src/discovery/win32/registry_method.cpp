// The registry method: SERIALCOMM's COM numbers matched with the USB devices of the station's
// products under Enum\USB, each with the symbolic link of its interface under DeviceClasses.
#include <windows.h>

#include <map>

#include "discovery/com_records.h"
#include "discovery/usb_roles.h"
#include "discovery/win32/registry.h"
#include "discovery/win32/windows_backend.h"

namespace vornex::win32 {
namespace {

// Enum\USB and DeviceClasses as the registry holds them now.
class TRegistryUsbTree final : public com_records::TUsbTree {
 public:
  std::vector<std::string> DeviceIds() override {
    const TRegKey usb = TRegKey::Open(HKEY_LOCAL_MACHINE, kUsbEnumKey);
    return usb.IsOpen() ? SubKeyNames(usb.Get()) : std::vector<std::string>();
  }

  std::vector<std::string> Instances(const std::string& deviceId) override {
    const TRegKey device = TRegKey::Open(HKEY_LOCAL_MACHINE, UsbPath(deviceId));
    return device.IsOpen() ? SubKeyNames(device.Get()) : std::vector<std::string>();
  }

  std::optional<com_records::TUsbInstanceValues> Instance(const std::string& deviceId,
                                                          const std::string& instanceId) override {
    const std::string path = UsbPath(deviceId) + "\\" + instanceId;
    const TRegKey instance = TRegKey::Open(HKEY_LOCAL_MACHINE, path);
    const TRegKey parameters = TRegKey::Open(HKEY_LOCAL_MACHINE, path + "\\Device Parameters");
    if (!instance.IsOpen() || !parameters.IsOpen()) return std::nullopt;
    com_records::TUsbInstanceValues values;
    values.portName = ReadText(parameters.Get(), "PortName").value_or("");
    values.className = ReadText(instance.Get(), "Class").value_or("");
    values.description = ReadText(instance.Get(), "DeviceDesc").value_or("");
    values.hardwareIds =
        ReadTexts(instance.Get(), "HardwareID").value_or(std::vector<std::string>{});
    return values;
  }

  std::string SymbolicLink(std::string_view interfaceClass, const std::string& deviceId,
                           const std::string& instanceId) override {
    const std::string classPath =
        std::string(kDeviceClassesKey) + "\\" + std::string(interfaceClass);
    auto known = interfaces_.find(classPath);
    if (known == interfaces_.end()) {
      const TRegKey classKey = TRegKey::Open(HKEY_LOCAL_MACHINE, classPath);
      known = interfaces_
                  .emplace(classPath, classKey.IsOpen() ? SubKeyNames(classKey.Get())
                                                        : std::vector<std::string>())
                  .first;
    }
    for (const std::string& name : known->second) {
      if (!com_records::KeyNamesInstance(name, deviceId, instanceId)) continue;
      // The interface without reference string: its "#" sub-key.
      const TRegKey link = TRegKey::Open(HKEY_LOCAL_MACHINE, classPath + "\\" + name + "\\#");
      return link.IsOpen() ? ReadText(link.Get(), "SymbolicLink").value_or("") : std::string();
    }
    return {};
  }

 private:
  static std::string UsbPath(const std::string& deviceId) {
    return std::string(kUsbEnumKey) + "\\" + deviceId;
  }

  // The sub-key names of each interface class, read once per listing.
  std::map<std::string, std::vector<std::string>> interfaces_;
};

}  // namespace

std::vector<TPortInfo> ListByRegistry(const std::string& settingsPath, TDiscoveryNotes& notes) {
  std::vector<std::string> serialComm;
  if (const TRegKey key = TRegKey::Open(HKEY_LOCAL_MACHINE, kSerialCommKey); key.IsOpen()) {
    serialComm = TextValues(key.Get());
  }
  const std::vector<int> comList = com_records::ComList(serialComm);
  if (comList.empty()) return {};

  // Whether a product is known, read once per product and listing.
  std::map<std::uint32_t, bool> known;
  const auto isKnown = [&](std::uint16_t vendorId, std::uint16_t productId) {
    const std::uint32_t product = (std::uint32_t{vendorId} << 16) | productId;
    auto it = known.find(product);
    if (it == known.end()) {
      it = known.emplace(product, usb_roles::IsKnownProduct(settingsPath, vendorId, productId))
               .first;
    }
    return it->second;
  };
  TRegistryUsbTree tree;
  return com_records::RegistryTable(comList, com_records::UsbRecords(tree, isKnown, notes));
}

}  // namespace vornex::win32
