// COM numbers on a system without "COMn" names, for ports opened by number alone (tests,
// tools): the discovery backends record which tty each listed COM number stands for (a
// simulated bench gives pseudo-terminal paths, sysfs gives /dev/ttyUSBn or /dev/ttyACMn), and a
// serial port without a device path of its own asks here when it opens a number. The station's
// own ports carry the tty of the record they were listed with and never ask.
//
// Entries are added or replaced, never dropped by a listing: a device that is off the bus for
// a moment keeps its number's tty.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace vornex::com_resolver {

// Records (or replaces) the tty of one COM number.
void Register(std::int32_t com, std::string ttyPath);
// Forgets every number.
void Clear();
// Every recorded number with its tty, and all of them replaced at once (to put entries back).
std::map<std::int32_t, std::string> Entries();
void Replace(std::map<std::int32_t, std::string> table);
// The tty recorded for the COM number, if any.
std::optional<std::string> Resolve(std::int32_t com);

}  // namespace vornex::com_resolver
