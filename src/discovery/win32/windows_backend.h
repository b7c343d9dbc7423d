// The Windows port backend and its two enumeration methods (discovery/com_records.h for the
// records they make). The system's backend picks the method by the system's version, read with
// RtlGetVersion: unlike GetVersionExW, its answer depends neither on the program's manifest
// (without one, GetVersionExW reports 6.2 on every later Windows) nor on a compatibility mode
// set for the program, so that the true system decides. Major version 6 (Vista) or higher uses
// the Setup API method, older systems the registry method.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "discovery/port_enumeration.h"
#include "discovery/port_info.h"

namespace vornex::win32 {

// Registry keys under HKEY_LOCAL_MACHINE that the registry method reads.
constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kUsbEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\USB";
constexpr const char* kDeviceClassesKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";

enum class TWindowsMethod { kSetupApi, kRegistry };

// The method for the running system (see above); the Setup API when the version is unknown.
TWindowsMethod SystemMethod();

// The records of each method, access fields not yet filled. Failures only shrink the list and
// are noted.
std::vector<TPortInfo> ListBySetupApi(TDiscoveryNotes& notes);
// The products listed are those of the port-role table with the settings file at settingsPath.
std::vector<TPortInfo> ListByRegistry(const std::string& settingsPath, TDiscoveryNotes& notes);

// A backend of one method: its records, tested for access (TestPortAccess). settingsPath empty =
// the station's settings file, read at every enumeration.
std::unique_ptr<TPortBackend> MakeWindowsBackend(TWindowsMethod method,
                                                 std::string settingsPath = {});

}  // namespace vornex::win32
