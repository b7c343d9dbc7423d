// Grouping of enumerated ports into physical devices, free of any I/O. A port's interface path
// "\\?\USB#VID_05C6&PID_9004&MI_00#6&5A3F0C21&0&0000#{...}" carries the device instance id in
// its third '#'-field; the second '&'-field of that id ("5A3F0C21") is shared by all
// interfaces of one composite USB device and stays the same when the device comes back after
// a reset on the same socket. That token is the device's grouping key.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/port_info.h"

namespace vornex {

// The key field of TUsbGroup holds this many characters.
constexpr std::size_t kGroupKeyUnits = decltype(TUsbGroup::key)::kCapacity;
// A key longer than kGroupKeyUnits keeps this many leading characters, then '~' and eight
// hex digits of a hash of the whole key (see GroupKeyOfPath).
constexpr std::size_t kFoldedKeyPrefixUnits = kGroupKeyUnits - 9;

// The grouping key of an interface path: after the first '#', find the next '#', then the
// first '&' after it; the key runs from there to the next '&'. Empty when any of these is
// missing. A key longer than 31 characters is folded to its first 22 characters (upper case),
// '~' and the 8 upper-case hex digits of the FNV-1a hash of the whole upper-cased key: it fits
// the group's key field, two long keys that differ anywhere stay apart, and letter case still
// does not matter.
std::string GroupKeyOfPath(std::string_view path);

// A port left out of the groups: its group (-1 when there was no room for its device) and its
// position in the port table.
struct TLeftOutPort {
  std::int32_t group = 0;
  std::int32_t port = 0;
};

// Gathers the ports, in table order, into groups by key (compared without regard to letter
// case): a port joins the first group with an equal key, else opens the next group. A port
// with a ninth distinct key (beyond `capacity`, at most kMaxGroups) has no group and is left
// out, while later ports of the devices already grouped still join them (so that a ninth
// device never takes the modem ports of the first eight). A port whose group already holds
// kMaxGroupPorts ports is left out of it; the group keeps its four. Left-out ports are noted in
// `leftOut` (when given). Only groups [0, result) are written. Returns the number of groups.
std::uint8_t GroupPorts(std::span<const TPortInfo> ports, std::span<TUsbGroup> groups,
                        std::uint8_t capacity, std::vector<TLeftOutPort>* leftOut);

}  // namespace vornex
