// A job and the open backups of its device: the open backup that a device shows to be its own
// (identity_evidence.h) decides its identity in place of a new backup; a device found in download
// mode is finished and then asked to show it; the equal older backups that a verified job closes
// as superseded.
#include <map>
#include <string>
#include <utility>

#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/report_marks.h"
#include "download/worker.h"
#include "foundation/text.h"
#include "store/station_store.h"

namespace vornex {
namespace {

namespace texts = download_text;

bool SameDevice(const TIdentityBackup& a, const TIdentityBackup& b) {
  return a.at.slots[kSlotSn] == b.at.slots[kSlotSn] &&
         a.at.slots[kSlotMeid] == b.at.slots[kSlotMeid];
}

}  // namespace

bool TSdlThread::ImageOnDevice(const TWorkerJob& job) const {
  // Proven only by a change: the device told another version when its backup was taken and
  // tells the image's now. Anything else is flashed again, which costs time and loses nothing.
  const std::string& tag = job.imageSet.imageTag;
  return !tag.empty() && summary_.versionBefore == tag && backup_ &&
         backup_->firmwareVersion != tag;
}

std::string TSdlThread::AdoptOpenBackup(const TWorkerJob& job, TIdentityBackup backup) {
  const std::uint32_t missing =
      job.imageSet.itemSwitches & (kItemAt | kItemNv) & ~backup.itemSwitches;
  if (missing != 0) {
    // Finishing from it would rewrite the device without keeping what the image set keeps.
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(FormatBounded(kCauseUnits, texts::kBackupLacks, static_cast<long long>(backup.id),
                        (missing & kItemNv) != 0 ? texts::kLacksNvItems : texts::kLacksAtValues,
                        static_cast<long long>(backup.id)));
    return texts::kBackupPartial;
  }
  summary_.backupId = backup.id;
  summary_.identityBefore = backup.at;
  summary_.nvBackedUp = static_cast<std::int32_t>(backup.nv.size());
  summary_.Step(TJobStep::kBackup) = TStepOutcome::kSkipped;
  backup_ = std::move(backup);
  return {};
}

TSdlThread::TOpenBackupChoice TSdlThread::DecidingOpenBackup(const TWorkerJob& job,
                                                             const TIdentityBlock& device) {
  TOpenBackupChoice choice;
  const auto candidates = store_->OpenBackupsMatching(job.group.key.str(), device.slots[kSlotSn],
                                                      device.slots[kSlotMeid], &choice.storeError);
  if (!candidates) return choice;
  choice.storeError.clear();
  const TNvItemReader readNv = TIdentityKeeper(*device_, *this).NvItemReader();
  std::string fitting;  // the ids of the backups a blank device fits
  bool ambiguous = false;
  for (const TIdentityBackup& candidate : *candidates) {
    // The serial number and MEID first: they decide without the NV items.
    TEvidenceFinding found = FindEvidence(device, candidate, TBlankRule::kNothing, readNv);
    const bool blank = found.evidence == TEvidence::kNotShown;
    std::optional<TIdentityBackup> full;
    if (found.evidence != TEvidence::kOtherDevice) {
      full = store_->LoadBackup(candidate.id, &choice.storeError);
      if (!full) return TOpenBackupChoice{{}, choice.storeError, {}};
      if (blank) found = FindEvidence(device, *full, TBlankRule::kNvItems, readNv);
    }
    if (found.evidence != TEvidence::kShown) {
      Report(kReportInfo, texts::kNotThisDevicesBackup, static_cast<long long>(candidate.id),
             found.why.c_str());
      continue;
    }
    Report(kReportInfo, texts::kBackupShown, static_cast<long long>(candidate.id),
           found.why.c_str());
    if (!choice.backup) {
      if (!blank && candidates->size() > 1) {
        Report(kReportInfo, texts::kNewestDecides, static_cast<int>(candidates->size()),
               static_cast<long long>(candidate.id));
      }
      choice.backup = std::move(full);
      fitting = std::to_string(candidate.id);
      // A device that answered its serial number or MEID is that device: its newest backup
      // decides. A blank one fits every backup that holds no other NV items.
      if (!blank) return choice;
      continue;
    }
    fitting += ", " + std::to_string(candidate.id);
    ambiguous = ambiguous || !SameDevice(*choice.backup, *full);
  }
  if (ambiguous) {
    choice.backup.reset();
    choice.ambiguity = FormatBounded(kCauseUnits, texts::kBackupsAmbiguousCause, fitting.c_str());
  }
  return choice;
}

bool TSdlThread::ShowsItsBackup(const TWorkerJob& /*job*/) {
  if (!backup_ || backup_->id == 0) return true;  // no backup of any device to write
  TIdentityKeeper keeper(*device_, *this);
  const TEvidenceFinding found =
      FindEvidence(keeper.AnsweredIdentity(), *backup_, afterRewrite_, keeper.NvItemReader());
  if (found.evidence == TEvidence::kShown) {
    Report(kReportInfo, texts::kBackupShown, static_cast<long long>(backup_->id),
           found.why.c_str());
    return true;
  }
  summary_.Step(TJobStep::kRestore) = TStepOutcome::kFailed;
  SaveDataInfo();
  device_->ClosePorts();
  const auto id = static_cast<long long>(backup_->id);
  Cause(FormatBounded(kCauseUnits, texts::kNotWrittenCause, id, found.why.c_str(), id));
  Fail(found.evidence == TEvidence::kOtherDevice ? texts::kNotBackupsDevice
                                                 : texts::kDeviceUnproven);
  return false;
}

void TSdlThread::CloseSupersededBackups() {
  // Only values read back equal to a backup prove that the device holds what it saved.
  if (!summary_.pass || !summary_.identityVerified || !backup_ || summary_.id == 0) return;
  std::string error;
  const auto candidates = store_->OpenBackupsMatching(
      summary_.deviceKey, backup_->at.slots[kSlotSn], backup_->at.slots[kSlotMeid], &error);
  if (!candidates) {
    Report(kReportInfo, texts::kStationRecords, error.c_str());
    return;
  }
  for (const TIdentityBackup& candidate : *candidates) {
    if (candidate.id == backup_->id || candidate.at != backup_->at) continue;
    const std::optional<TIdentityBackup> full = store_->LoadBackup(candidate.id, &error);
    if (!full || full->nv != backup_->nv) continue;
    const std::string how = texts::kClosedSuperseded + std::to_string(summary_.id);
    if (store_->CloseBackup(candidate.id, how, &error)) {
      Report(kReportInfo, texts::kBackupClosed, static_cast<long long>(candidate.id), how.c_str());
    } else {
      Report(kReportInfo, texts::kStationRecords, error.c_str());
    }
  }
}

void TSdlThread::FinishStranded(TWorkerJob& job, std::uint8_t flags) {
  summary_.Step(TJobStep::kVersionCheck) = TStepOutcome::kSkipped;
  const std::string key = job.group.key.str();
  std::string error = texts::kNoStore;
  const auto open =
      store_ != nullptr ? store_->OpenBackupsMatching(key, {}, {}, &error) : std::nullopt;
  if (open && (job.imageSet.itemSwitches & (kItemAt | kItemNv)) == 0) {
    // The image set keeps no identity: nothing is lost by finishing the rewrite, and an open
    // backup in this socket may be another device's: it is left as it is.
    Report(kReportInfo, texts::kStrandedNoIdentity, flags);
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kSkipped;
    backup_ = TIdentityBackup{};
    Report(kMarkDeviceOpen, texts::kDeviceOpen, flags);
    return FlashAndRestore(job);
  }
  std::optional<TIdentityBackup> backup;
  if (open && !open->empty()) {
    backup = store_->LoadBackup(open->front().id, &error);
  } else if (open) {
    error = texts::kNoStrandedBackup + key + texts::kNoStrandedBackupEnd;
  }
  if (!backup) {
    Cause(error);
    return Fail(texts::kStrandedWithoutBackup);
  }
  summary_.backupId = backup->id;
  if (backup->imageTag != job.imageSet.imageTag) {
    // Only the image it was being given is known to fit what its backup was taken for.
    Cause(texts::kImageSetCarries + job.imageSet.imageTag);
    return Fail(FormatBounded(kCauseUnits, texts::kNeedsImage, backup->imageTag.c_str()).c_str());
  }
  Report(kReportInfo, texts::kStrandedFinishing, flags, static_cast<long long>(backup->id));
  // Nothing of its identity could be read before its rewrite: it shows whose it is after its
  // reboot, by its serial number or MEID, or not at all.
  afterRewrite_ = TBlankRule::kNothing;
  summary_.versionBefore = backup->firmwareVersion;
  const std::string partial = AdoptOpenBackup(job, std::move(*backup));
  if (!partial.empty()) return Fail(partial.c_str());
  Report(kMarkDeviceOpen, texts::kDeviceOpen, flags);
  FlashAndRestore(job);
}

}  // namespace vornex
