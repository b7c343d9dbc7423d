// The Setup API method: the present COM-port and modem device interfaces, their device's
// registry properties and the PortName of their device key.
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <cstddef>
#include <memory>

#include "discovery/com_records.h"
#include "discovery/win32/registry.h"
#include "discovery/win32/windows_backend.h"
#include "foundation/os_file.h"
#include "foundation/win32/wide_text.h"

namespace vornex::win32 {
namespace {

constexpr GUID kComPortInterfaceGuid = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr GUID kModemInterfaceGuid = {
    0x2c7089aa, 0x2e0e, 0x11d1, {0xb1, 0x14, 0x00, 0xc0, 0x4f, 0xc2, 0xaa, 0xe4}};

struct TKind {
  std::int32_t portClass;
  const GUID* guid;
  const char* name;
};
constexpr TKind kKinds[] = {
    {kPortClassSerial, &kComPortInterfaceGuid, "COM-port"},
    {kPortClassModem, &kModemInterfaceGuid, "modem"},
};

// A device information set, destroyed with the object.
struct TDeviceInfoSet {
  HDEVINFO set;
  ~TDeviceInfoSet() { ::SetupDiDestroyDeviceInfoList(set); }
};

TDiscoveryNote FailureNote(const TKind& kind, const char* call) {
  const DWORD error = ::GetLastError();
  return RefusedNote(std::string("Setup API: ") + call + " failed for the " + kind.name +
                     " interfaces: " + os::SystemErrorText(static_cast<int>(error)));
}

// A text property (the first string of a multi-string one); nullopt when it cannot be read.
std::optional<std::string> TextProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD type = 0;
  DWORD size = 0;
  ::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
  if (size == 0 || size > kMaxValueBytes) return std::nullopt;
  std::wstring units(size / sizeof(wchar_t) + 1, L'\0');
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(units.data()), size, nullptr) ||
      (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  return TextUpToNul(units.data(), size / sizeof(wchar_t));
}

std::optional<std::uint32_t> NumberProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD type = 0;
  DWORD value = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(
          set, &device, property, &type, reinterpret_cast<BYTE*>(&value), sizeof value, nullptr) ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

// The PortName of the device's own key; nullopt when the key or the value cannot be read.
std::optional<std::string> PortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE || key == nullptr) return std::nullopt;
  const TRegKey owned(key);
  return ReadText(owned.Get(), "PortName");
}

// Reads the interfaces of one kind into the listing.
void ListKind(const TKind& kind, com_records::TSetupApiListing& listing, TDiscoveryNotes& notes) {
  const HDEVINFO set =
      ::SetupDiGetClassDevsW(kind.guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    notes.push_back(FailureNote(kind, "SetupDiGetClassDevsW"));
    return;
  }
  const TDeviceInfoSet owned{set};
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA deviceInterface{};
    deviceInterface.cbSize = sizeof deviceInterface;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, kind.guid, index, &deviceInterface)) break;

    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &deviceInterface, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || needed > kMaxValueBytes) {
      notes.push_back(FailureNote(kind, "SetupDiGetDeviceInterfaceDetailW"));
      break;
    }
    // Allocated in units of the structure, so that it is aligned as the structure wants.
    const std::size_t units = (needed + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) - 1) /
                              sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    const auto detail = std::make_unique<SP_DEVICE_INTERFACE_DETAIL_DATA_W[]>(units);
    detail[0].cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &deviceInterface, detail.get(), needed, nullptr,
                                            &device)) {
      notes.push_back(FailureNote(kind, "SetupDiGetDeviceInterfaceDetailW"));
      break;
    }
    const std::size_t pathUnits =
        (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);

    com_records::TInterfaceValues values;
    values.kind = kind.portClass;
    values.path = TextUpToNul(detail[0].DevicePath, pathUnits);
    values.friendlyName = TextProperty(set, device, SPDRP_FRIENDLYNAME);
    values.description = TextProperty(set, device, SPDRP_DEVICEDESC);
    values.classGuid = TextProperty(set, device, SPDRP_CLASSGUID);
    values.hardwareId = TextProperty(set, device, SPDRP_HARDWAREID);
    values.deviceObjectName = TextProperty(set, device, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    values.location = TextProperty(set, device, SPDRP_LOCATION_INFORMATION);
    values.address = NumberProperty(set, device, SPDRP_ADDRESS);
    values.enumerator = TextProperty(set, device, SPDRP_ENUMERATOR_NAME);
    values.portName = PortName(set, device);
    if (!listing.Add(values, notes)) break;
  }
}

}  // namespace

std::vector<TPortInfo> ListBySetupApi(TDiscoveryNotes& notes) {
  com_records::TSetupApiListing listing;
  for (const TKind& kind : kKinds) ListKind(kind, listing, notes);
  return listing.Table();
}

}  // namespace vornex::win32
