// Grouping keys and the grouping of a port table.
#include "discovery/group_key.h"

#include <algorithm>
#include <cstdio>

#include "discovery/fnv_hash.h"
#include "foundation/text.h"

namespace vornex {

std::string GroupKeyOfPath(std::string_view path) {
  const std::size_t first = path.find('#');
  if (first == std::string_view::npos) return {};
  const std::size_t second = path.find('#', first + 1);
  if (second == std::string_view::npos) return {};
  const std::size_t amp = path.find('&', second + 1);
  if (amp == std::string_view::npos) return {};
  const std::size_t end = path.find('&', amp + 1);
  if (end == std::string_view::npos) return {};
  const std::string_view key = path.substr(amp + 1, end - amp - 1);
  if (Utf16Length(key) <= kGroupKeyUnits) return std::string(key);

  const std::string upper = ToUpperAscii(key);
  char hash[16];
  std::snprintf(hash, sizeof hash, "~%08X", static_cast<unsigned>(Fnv1a32(upper)));
  std::string folded(CutToUnits(upper, kFoldedKeyPrefixUnits));
  folded.append(hash);
  return folded;
}

std::uint8_t GroupPorts(std::span<const TPortInfo> ports, std::span<TUsbGroup> groups,
                        std::uint8_t capacity, std::vector<TLeftOutPort>* leftOut) {
  const std::size_t limit = std::min<std::size_t>({capacity, groups.size(), kMaxGroups});
  std::size_t count = 0;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string key = GroupKeyOfPath(ports[i].path);
    std::size_t g = 0;
    while (g < count && !EqualsNoCase(groups[g].key, key)) ++g;
    if (g == count) {
      if (count == limit) {
        // No room for another device. The port is left out, but later ports of the devices
        // already grouped still join them: the modem ports come after all serial ports.
        if (leftOut != nullptr) leftOut->push_back({-1, static_cast<std::int32_t>(i)});
        continue;
      }
      TUsbGroup& fresh = groups[count++];
      fresh = TUsbGroup{};
      fresh.index = static_cast<std::int32_t>(g);
      fresh.key = key;
    }
    TUsbGroup& group = groups[g];
    if (group.portCount >= kMaxGroupPorts) {
      if (leftOut != nullptr) {
        leftOut->push_back({static_cast<std::int32_t>(g), static_cast<std::int32_t>(i)});
      }
      continue;
    }
    group.ports[group.portCount++] = ports[i];
  }
  return static_cast<std::uint8_t>(count);
}

}  // namespace vornex
