// Whom an identity belongs to. Before an open backup is written into a device, the device shows
// that it is the backup's device: it answers the backup's serial number or MEID (and contradicts
// neither), or, answering neither, every NV item it holds is blank or equal to the backup's, the
// state of a device whose rewrite blanked it or whose restore was cut off. A USB socket, a COM
// number or a group key is where a device sits, never who it is: they only say where to look.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "records/identity_record.h"

namespace vornex {

enum class TEvidence : std::uint8_t {
  kShown,        // it is the backup's device
  kOtherDevice,  // it answers another serial number or MEID, or holds other NV items
  kNotShown,     // it answers neither and cannot show it otherwise
};

// What a device answering no serial number and no MEID can show.
enum class TBlankRule : std::uint8_t {
  // Nothing: this job's own rewrite blanked a device that it never identified (one found in
  // download mode), so blank values say nothing about whose device it is.
  kNothing,
  // Its NV items: each blank or equal to the backup's; a backup without NV items is not shown.
  kNvItems,
  // As kNvItems, but a backup without NV items is shown by the blank answers alone: this job
  // identified the device before its own rewrite blanked it, and found it again after its reboot.
  kOwnRewrite,
};

struct TEvidenceFinding {
  TEvidence evidence = TEvidence::kNotShown;
  std::string why;  // in words, for the log and the cause
};

// One NV item's 128 data bytes.
using TNvItemData = std::array<std::uint8_t, 128>;
// Reads one NV item as the device holds it: all zero for an item it does not have; nullopt when
// it did not answer.
using TNvItemReader = std::function<std::optional<TNvItemData>(std::uint16_t)>;

// Whether the device that answers `device` (its serial number and MEID slots; empty: not given)
// is the device `backup` was taken from. NV items are read (each once) only for a device that
// answers neither, under a rule that lets them show it.
TEvidenceFinding FindEvidence(const TIdentityBlock& device, const TIdentityBackup& backup,
                              TBlankRule blankRule, const TNvItemReader& readNv);

}  // namespace vornex
