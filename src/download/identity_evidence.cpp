// The evidence that a device is the device a backup was taken from (identity_evidence.h).
#include "download/identity_evidence.h"

#include <algorithm>
#include <set>
#include <utility>

#include "download/download_texts.h"
#include "foundation/text.h"

namespace vornex {
namespace {

namespace texts = download_text;

TEvidenceFinding Finding(TEvidence evidence, std::string why) {
  return TEvidenceFinding{evidence, std::move(why)};
}

bool IsBlank(const TNvItemData& data) {
  return std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
}

// The blank device shown or not by its NV items.
TEvidenceFinding ByNvItems(const TIdentityBackup& backup, TBlankRule rule,
                           const TNvItemReader& readNv) {
  const std::string neither = texts::kAnswersNeither;
  if (rule == TBlankRule::kNothing) {
    return Finding(TEvidence::kNotShown, neither + texts::kBlankSaysNothing);
  }
  if (backup.nv.empty()) {
    if (rule == TBlankRule::kOwnRewrite) {
      return Finding(TEvidence::kShown, neither + texts::kRewrittenBlank);
    }
    return Finding(TEvidence::kNotShown, neither + texts::kNoNvToCompare);
  }
  std::set<std::uint16_t> seen;
  for (const TNvRecord& record : backup.nv) {
    const std::uint16_t item = record.Item();
    if (!seen.insert(item).second) continue;
    const auto data = readNv(item);
    if (!data) {
      return Finding(TEvidence::kNotShown,
                     neither + FormatBounded(64, texts::kNvUnanswered1, item));
    }
    if (IsBlank(*data) || std::equal(data->begin(), data->end(), record.bytes.begin() + 2)) {
      continue;
    }
    return Finding(TEvidence::kOtherDevice, neither + FormatBounded(80, texts::kNvDiffers1, item));
  }
  return Finding(TEvidence::kShown, neither + FormatBounded(80, texts::kNvBlankOrEqual,
                                                            static_cast<int>(seen.size())));
}

}  // namespace

TEvidenceFinding FindEvidence(const TIdentityBlock& device, const TIdentityBackup& backup,
                              TBlankRule blankRule, const TNvItemReader& readNv) {
  std::string same;
  bool answers = false;
  for (const auto& [slot, name] :
       {std::pair{kSlotSn, texts::kSerialNumber}, {kSlotMeid, texts::kMeid}}) {
    const std::string& now = device.slots[static_cast<std::size_t>(slot)];
    const std::string& saved = backup.at.slots[static_cast<std::size_t>(slot)];
    if (now.empty()) continue;
    answers = true;
    if (saved.empty()) continue;
    if (now != saved) {
      return Finding(TEvidence::kOtherDevice, texts::kBackupHolds + std::string(name) + " " +
                                                  AnsiToUtf8(saved) + texts::kDeviceAnswers +
                                                  AnsiToUtf8(now));
    }
    if (same.empty()) same = std::string(name) + " " + AnsiToUtf8(now);
  }
  if (!same.empty()) return Finding(TEvidence::kShown, texts::kAnswersOwn + same);
  if (answers) {
    const bool sn = !device.slots[kSlotSn].empty();
    return Finding(TEvidence::kOtherDevice,
                   texts::kNoIdToCompare + std::string(sn ? texts::kSerialNumber : texts::kMeid) +
                       " " + AnsiToUtf8(device.slots[sn ? kSlotSn : kSlotMeid]));
  }
  return ByNvItems(backup, blankRule, readNv);
}

}  // namespace vornex
