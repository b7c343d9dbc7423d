// The NV items a download preserves: four fixed lists (582 entries for 569 distinct items; list
// 3 names thirteen items twice, and those are read and written back twice), and the indexed NV
// items whose DataInfo keys carry the record's first data byte.
#pragma once

#include <cstdint>
#include <vector>

namespace vornex {

// The item number that marks no item; an entry holding it is skipped.
constexpr std::uint32_t kNoItem = 0xFFFF;

// One entry of an item list; `reserved` is 0 in every entry.
struct TNvListEntry {
  std::int32_t item = 0;
  std::int32_t reserved = 0;
};

// Lists 1 to 4, in that order, each expanded from its ranges.
const std::vector<std::vector<TNvListEntry>>& NvItemLists();

// The four lists appended in order and sorted by item number with an exchange sort, so that
// duplicates end up next to each other (582 entries).
std::vector<TNvListEntry> SortedNvItems();

// True for the 109 indexed NV items.
bool IsIndexedNvItem(std::int32_t item);

// True when one of the four lists names the item: the items a backup reads and a restore may
// write.
bool IsListedNvItem(std::int32_t item);

}  // namespace vornex
