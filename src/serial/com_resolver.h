// COM numbers on a system without "COMn" names: the discovery backends record which tty each
// COM number stands for (a simulated bench gives pseudo-terminal paths, sysfs gives
// /dev/ttyUSBn or /dev/ttyACMn), and the serial port asks here when it opens a number.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vornex::com_resolver {

// Records (or replaces) the tty of one COM number.
void Register(std::int32_t com, std::string ttyPath);
// Replaces the whole table with a fresh enumeration's result.
void ReplaceAll(std::map<std::int32_t, std::string> table);
// Forgets every number.
void Clear();
// The tty recorded for the COM number, if any.
std::optional<std::string> Resolve(std::int32_t com);

}  // namespace vornex::com_resolver
