// Records of device discovery: one enumerated serial port (TPortInfo) and the ports of one
// physical device gathered under its grouping key (TUsbGroup).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/text.h"

namespace vornex {

// Port classes of TPortInfo::portClass.
constexpr std::int32_t kPortClassOther = 0;
constexpr std::int32_t kPortClassSerial = 1;
constexpr std::int32_t kPortClassModem = 2;

// One enumerated serial port.
struct TPortInfo {
  std::uint8_t com = 0;              // n of COMn, kept in 8 bits
  std::int32_t portClass = 0;        // kPortClassSerial, kPortClassModem or 0
  TFixedText<260> path;              // interface path; third '#'-field = device instance id
  TFixedText<256> description;       // the diagnostic port's names it (NamesDiagnosticPort)
  TFixedText<39> classGuid;          // setup class id, where the backend knows one
  TFixedText<256> hardwareId;        // "USB\VID_05C6&PID_9004&REV_...&MI_.."
  TFixedText<256> deviceObjectName;  // backend's own device name, where it has one
  TFixedText<256> location;          // location text, may be empty
  std::uint32_t address = 0;         // device address, 0 when unknown
  std::int32_t openable = 0;         // 1 = could be opened exclusively (or not tested), 0 = busy
  std::int32_t usb = 0;              // 1 = enumerated by USB
  // Why a port is not openable, where discovery knows: denied = 1 when this user may not open
  // it at all (no permission; openable is 0 then too); heldBy names the other programs that
  // hold it open, "ModemManager (pid 812)" (openable is 0 then, even when no lock keeps the
  // station out). A busy port with neither has a lock on it or its node has gone.
  std::int32_t denied = 0;
  TFixedText<64> heldBy{};
  // The device node that stands for this port ("/dev/ttyUSB0", on Windows "\\.\COM5"; empty
  // when the COM number is not known): the serial port opens this very path, whatever later
  // listings say about the COM number.
  TFixedText<260> ttyPath{};
};

// True when the port's hardware id names the station's product (VID_05C6, PID_9004), in any
// letter case.
inline bool IsStationPort(const TPortInfo& port) {
  const std::string hardwareId = ToUpperAscii(port.hardwareId);
  return hardwareId.find("VID_05C6") != std::string::npos &&
         hardwareId.find("PID_9004") != std::string::npos;
}

// Whether a port description names the diagnostic port: it holds "Diagnostic" ("Vornex USB
// Diagnostics 9004"). The one test of it, for descriptions and for the product strings that the
// sysfs backend puts into them.
inline bool NamesDiagnosticPort(std::string_view description) {
  return description.find("Diagnostic") != std::string_view::npos;
}

// Whether the port is its device's diagnostic port: a serial port whose description names it.
// The device check, the connection and the system check decide by this alone.
inline bool IsDiagnosticPort(const TPortInfo& port) {
  return port.portClass == kPortClassSerial && NamesDiagnosticPort(port.description.str());
}

constexpr int kMaxGroupPorts = 4;
constexpr int kMaxGroups = 8;

// The ports of one physical device, in discovery order.
struct TUsbGroup {
  std::int32_t index = 0;                         // position in the search result, 0..7
  TFixedText<32> key;                             // grouping key, empty when the path had none
  std::array<TPortInfo, kMaxGroupPorts> ports{};  // portCount of them are used
  std::uint8_t portCount = 0;                     // 1..4 for a found group, 0 for none
};

// COM number of the group's modem port; 0 when it has none.
inline std::int32_t ModemCom(const TUsbGroup& group) {
  for (int i = 0; i < group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = group.ports[static_cast<std::size_t>(i)];
    if (port.portClass == kPortClassModem) return port.com;
  }
  return 0;
}

// COM number of the group's diagnostic port (IsDiagnosticPort); 0 when it has none.
inline std::int32_t DiagCom(const TUsbGroup& group) {
  for (int i = 0; i < group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = group.ports[static_cast<std::size_t>(i)];
    if (IsDiagnosticPort(port)) return port.com;
  }
  return 0;
}

}  // namespace vornex
