// SearchAllUSB: one enumeration of the serial ports, gathered per physical device by grouping
// key, with the whole result traced into the device object's log.
//
// COM numbers are 8-bit fields and appear in texts read as signed numbers, as everywhere in
// the station. A port whose group already holds four ports is left out of it (the group keeps
// its first four) and traced; a ninth distinct key ends the grouping.
#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "discovery/group_key.h"
#include "discovery/port_enumeration.h"
#include "protocols/usb_device.h"

namespace vornex {

// Enumerates the ports, with every note of the listing (refused, held or denied ports) in the
// device's log.
std::int32_t TUsbDevice::EnumerateAndTrace(TPortTable& table) {
  const std::int32_t portCount = EnumeratePorts(table, &searchNotes_);
  for (const TDiscoveryNote& note : searchNotes_) Trace("SearchAllUSB: %s", note.text.c_str());
  return portCount;
}
namespace {

// COM numbers are shown as the unsigned numbers they are, as everywhere in the station.
int ComText(std::uint8_t com) {
  return com;
}

}  // namespace

void TUsbDevice::SearchAllUSB(std::array<TUsbGroup, kMaxGroups>& groups, std::uint8_t& count) {
  auto table = std::make_unique<TPortTable>();
  const std::int32_t portCount = EnumerateAndTrace(*table);
  const std::span<const TPortInfo> ports(table->data(), static_cast<std::size_t>(portCount));

  Trace("SearchAllUSB in port count = %d", portCount);
  for (const TPortInfo& port : ports) {
    Trace("COM%d(%d),%s", ComText(port.com), port.openable, port.path.c_str());
  }
  Trace("SearchAllUSB make usb group");

  const auto capacity = static_cast<std::uint8_t>(std::min<int>(count, kMaxGroups));
  std::vector<TLeftOutPort> leftOut;
  count = GroupPorts(ports, groups, capacity, &leftOut);
  for (const TLeftOutPort& left : leftOut) {
    const TPortInfo& port = ports[static_cast<std::size_t>(left.port)];
    if (left.group < 0) {
      Trace("SearchAllUSB no room for another device, left out -COM%d(%d),%s", ComText(port.com),
            port.openable, port.path.c_str());
    } else {
      Trace("SearchAllUSB Group[%d] is full, left out -COM%d(%d),%s", left.group, ComText(port.com),
            port.openable, port.path.c_str());
    }
  }

  for (std::uint8_t g = 0; g < count; ++g) {
    const TUsbGroup& group = groups[g];
    Trace("Group[%d] %d <%s>", group.index, group.portCount, group.key.c_str());
    for (std::uint8_t p = 0; p < group.portCount; ++p) {
      const TPortInfo& port = group.ports[p];
      Trace("-COM%d(%d),%s", ComText(port.com), port.openable, port.path.c_str());
    }
  }
  Trace("SearchAllUSB out usb count=%d", count);
}

bool TUsbDevice::FindUSBGroup(const std::string& key, TUsbGroup& group) {
  auto table = std::make_unique<TPortTable>();
  const std::int32_t portCount = EnumerateAndTrace(*table);
  std::vector<TPortInfo> mine;
  for (std::int32_t i = 0; i < portCount; ++i) {
    const TPortInfo& port = (*table)[static_cast<std::size_t>(i)];
    if (EqualsNoCase(GroupKeyOfPath(port.path), key)) mine.push_back(port);
  }
  Trace("FindUSBGroup <%s> port count = %d of %d", key.c_str(), static_cast<int>(mine.size()),
        portCount);
  std::array<TUsbGroup, 1> found{};
  if (GroupPorts(mine, found, 1, nullptr) == 0) return false;
  group = found[0];
  for (std::uint8_t p = 0; p < group.portCount; ++p) {
    const TPortInfo& port = group.ports[p];
    Trace("-COM%d(%d),%s", ComText(port.com), port.openable, port.path.c_str());
  }
  return true;
}

}  // namespace vornex
