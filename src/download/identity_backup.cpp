// Identity backup, restore and verification: the AT identity values and the NV items are read
// before the image update, written back after the reboot and read back to prove they arrived.
#include "download/identity_backup.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "download/at_items.h"
#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/nv_items.h"
#include "download/report_marks.h"
#include "foundation/local_time.h"
#include "foundation/os_file.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "messaging/image_set.h"
#include "records/identity_record.h"

namespace vornex {
namespace {

namespace texts = download_text;

constexpr std::size_t kReportUnits = 511;

// The first 16 data bytes of a record as "%02X " each.
std::string FirstDataBytes(const TNvRecord& record) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += FormatBounded(8, "%02X ", record.bytes[2 + i]);
  return text;
}

bool HasSwitch(const TIdentityBackup& backup, std::uint32_t bit) {
  return (backup.itemSwitches & bit) != 0;
}

}  // namespace

void Say(TStepReporter& reporter, std::int32_t value, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatBoundedV(kReportUnits, format, args);
  va_end(args);
  reporter.StepReport(value, text);
}

std::int32_t TIdentityKeeper::BackupAtItems(TIdentityBlock& at, std::vector<std::string>& gaps) {
  std::int32_t got = 0;
  for (const TAtItem& item : kAtItems) {
    pacing::Sleep(kAtItemPauseMs);
    const std::optional<std::string> value = ReadAtValue(item.slot);
    if (!value) {
      // A modem that answered (ERROR) has no such value; one that stayed silent has closed its
      // port, and nothing is known about the value.
      if (device_.ModemPort() == nullptr || !device_.ModemPort()->IsOpen()) {
        gaps.push_back(std::string(texts::kNoAnswerTo) + item.readCommand);
      }
      continue;
    }
    // Values are kept whole: a cut serial number written back would corrupt the device.
    at.slots[static_cast<std::size_t>(item.slot)] = *value;
    got = 1;
    Say(reporter_, kReportInfo, item.backupText, static_cast<int>(value->size()),
        AnsiToUtf8(*value).c_str());
  }
  pacing::Sleep(kAtItemPauseMs);
  return got;
}

std::optional<std::string> TIdentityKeeper::ReadAtValue(int slot) {
  for (const TAtItem& item : kAtItems) {
    if (item.slot != slot) continue;
    char reply[kAtReplyBytes] = {};
    if (device_.SendAtCommand(reply, item.readCommand, sizeof reply) == 0) return std::nullopt;
    return std::string(reply);
  }
  return std::nullopt;
}

TIdentityBlock TIdentityKeeper::AnsweredIdentity() {
  TIdentityBlock answers;
  for (const int slot : {kSlotSn, kSlotMeid}) {
    if (auto value = ReadAtValue(slot)) answers.slots[static_cast<std::size_t>(slot)] = *value;
  }
  return answers;
}

TNvItemReader TIdentityKeeper::NvItemReader() {
  auto cache = std::make_shared<std::map<std::uint16_t, std::optional<TNvItemData>>>();
  return [&device = device_, cache](std::uint16_t item) {
    const auto [it, fresh] = cache->try_emplace(item);
    if (fresh) {
      TNvItemData data{};
      const TNvOutcome outcome = device.ReadNvItemOutcome(item, data.data());
      if (outcome == TNvOutcome::kRefused) data.fill(0);  // an item it does not have
      if (outcome != TNvOutcome::kNoAnswer) it->second = data;
    }
    return it->second;
  };
}

std::int32_t TIdentityKeeper::BackupNvItems(std::vector<TNvRecord>& nv,
                                            std::vector<std::string>& gaps) {
  const std::vector<TNvListEntry> items = SortedNvItems();
  Say(reporter_, kReportInfo, texts::kNvTrying, static_cast<int>(items.size()));
  int got = 0;
  int unanswered = 0;
  int firstUnanswered = 0;
  for (const TNvListEntry& entry : items) {
    if (static_cast<std::uint32_t>(entry.item) == kNoItem) continue;
    const auto item = static_cast<std::uint16_t>(entry.item);
    TNvRecord record;
    record.bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
    record.bytes[1] = static_cast<std::uint8_t>(item >> 8);
    const TNvOutcome outcome = device_.ReadNvItemOutcome(item, record.bytes.data() + 2);
    if (outcome == TNvOutcome::kNoAnswer && unanswered++ == 0) firstUnanswered = entry.item;
    if (outcome != TNvOutcome::kDone) continue;
    ++got;
    Say(reporter_, kReportInfo, texts::kNvItemRead, entry.item, FirstDataBytes(record).c_str());
    nv.push_back(record);
  }
  Say(reporter_, kReportInfo, texts::kNvItemsRead, got);
  if (unanswered > 0) {
    gaps.push_back(FormatBounded(kReportUnits, texts::kNvUnanswered, unanswered, firstUnanswered));
  } else if (got == 0) {
    gaps.push_back(texts::kNoNvItem);
  }
  return got;
}

TRestoreResult TIdentityKeeper::RestoreDeviceData(const TIdentityBackup& backup, bool verify) {
  TRestoreResult result;
  bool nvMissing = false;
  if (HasSwitch(backup, kItemNv)) {
    pacing::Sleep(kRestorePauseMs);
    Say(reporter_, kReportInfo, texts::kRestoreNvBegin);
    nvMissing = backup.nv.empty();
    if (!nvMissing) result.nvWriteFailures = RestoreNvItems(backup.nv);
    Say(reporter_, kReportInfo, texts::kRestoreNvEnd,
        !nvMissing && result.nvWriteFailures == 0 ? 1 : 0);
  }
  if (HasSwitch(backup, kItemAt)) {
    pacing::Sleep(kRestorePauseMs);
    Say(reporter_, kReportInfo, texts::kRestoreAtBegin);
    result.atWriteFailures = RestoreAtItems(backup.at);
    Say(reporter_, kReportInfo, texts::kRestoreAtEnd, result.atWriteFailures == 0 ? 1 : 0);
  }

  if (nvMissing) {
    // Nothing of the device's NV data was saved: it cannot have come back.
    result.failure = texts::kDownloadFailed;
    return result;
  }
  if (verify) {
    reporter_.StepBegins(TTimedStep::kReadBack);
    VerifyIdentity(backup, result);
    result.verified = true;
    result.ok = result.atDiffer == 0 && result.nvDiffer == 0;
    if (!result.ok) {
      result.failure =
          FormatBounded(kReportUnits, texts::kIdentityDiffers, result.atDiffer, result.nvDiffer);
    }
  } else {
    result.ok = result.atWriteFailures == 0 && result.nvWriteFailures == 0;
    if (!result.ok) {
      result.failure = FormatBounded(kReportUnits, texts::kIdentityWritesFailed,
                                     result.atWriteFailures, result.nvWriteFailures);
    }
  }
  return result;
}

void TRestoreResult::NoteIn(TJobSummary& summary) const {
  summary.identityAfter = readBack;
  summary.atDiffer = atDiffer;
  summary.nvDiffer = nvDiffer;
  summary.identityVerified = verified;
  summary.Step(TJobStep::kRestore) =
      atWriteFailures == 0 && nvWriteFailures == 0 ? TStepOutcome::kOk : TStepOutcome::kFailed;
  summary.Step(TJobStep::kVerify) = !verified ? TStepOutcome::kSkipped
                                    : ok      ? TStepOutcome::kOk
                                              : TStepOutcome::kFailed;
}

int TIdentityKeeper::RestoreNvItems(const std::vector<TNvRecord>& nv) {
  Say(reporter_, kReportInfo, texts::kNvPutting, static_cast<int>(nv.size()));
  int put = 0;
  for (const TNvRecord& record : nv) {
    const std::int32_t written = device_.WriteNvItem(record.Item(), record.bytes.data() + 2);
    Say(reporter_, kReportInfo, texts::kNvItemWritten, written != 0 ? texts::kOk : texts::kError,
        record.Item(), FirstDataBytes(record).c_str());
    if (written != 0) ++put;
  }
  Say(reporter_, kReportInfo, texts::kNvItemsPut, put);
  return static_cast<int>(nv.size()) - put;
}

int TIdentityKeeper::RestoreAtItems(const TIdentityBlock& at) {
  int failures = 0;
  for (const TAtItem& item : kAtItems) {
    const std::string& value = at.slots[static_cast<std::size_t>(item.slot)];
    if (value.empty()) continue;  // not given at backup time: nothing to write back
    const std::string command = item.writePrefix + value;
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kAtItemPauseMs);
    const std::int32_t result = device_.SendAtCommand(reply, command.c_str(), sizeof reply);
    Say(reporter_, kReportInfo, item.restoreText, result, AnsiToUtf8(command).c_str());
    if (result == 0) ++failures;
  }
  return failures;
}

void TIdentityKeeper::VerifyIdentity(const TIdentityBackup& backup, TRestoreResult& result) {
  Say(reporter_, kReportInfo, texts::kVerifyBegin);
  if (HasSwitch(backup, kItemAt)) {
    for (const TAtItem& item : kAtItems) {
      const std::string& saved = backup.at.slots[static_cast<std::size_t>(item.slot)];
      if (saved.empty()) continue;
      pacing::Sleep(kAtItemPauseMs);
      const std::optional<std::string> now = ReadAtValue(item.slot);
      if (now) result.readBack.slots[static_cast<std::size_t>(item.slot)] = *now;
      if (now && *now == saved) continue;
      ++result.atDiffer;
      Say(reporter_, kReportInfo, texts::kAtDiffers, item.name, AnsiToUtf8(saved).c_str(),
          now ? AnsiToUtf8(*now).c_str() : texts::kNoAnswer);
    }
  }
  if (HasSwitch(backup, kItemNv)) {
    // Items listed twice are read back once.
    std::map<std::uint16_t, std::optional<TNvRecord>> device;
    for (const TNvRecord& saved : backup.nv) {
      auto [it, fresh] = device.try_emplace(saved.Item());
      if (fresh) {
        TNvRecord now = saved;
        if (device_.ReadNvItem(saved.Item(), now.bytes.data() + 2) != 0) it->second = now;
      }
      if (it->second && *it->second == saved) continue;
      ++result.nvDiffer;
      Say(reporter_, kReportInfo, texts::kNvDiffers, saved.Item(), FirstDataBytes(saved).c_str(),
          it->second ? FirstDataBytes(*it->second).c_str() : texts::kNoAnswer);
    }
  }
  Say(reporter_, kReportInfo, texts::kVerifyEnd, result.atDiffer, result.nvDiffer);
}

}  // namespace vornex
