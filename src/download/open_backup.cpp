// A job and the open backups of its device: a device found in download mode finished from its
// open backup, the open backup that decides a device's identity in place of a new backup, and
// the equal older backups that a verified job closes as superseded.
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

// Why an open backup cannot be of the device that answers `device`: a serial number or MEID
// that both give and that differ. Empty when nothing speaks against it.
std::string Mismatch(const TIdentityBlock& device, const TIdentityBackup& backup) {
  for (const auto& [slot, name] :
       {std::pair{kSlotSn, texts::kSerialNumber}, {kSlotMeid, texts::kMeid}}) {
    const std::string& now = device.slots[static_cast<std::size_t>(slot)];
    const std::string& saved = backup.at.slots[static_cast<std::size_t>(slot)];
    if (!now.empty() && !saved.empty() && now != saved) {
      return std::string(name) + " " + AnsiToUtf8(saved) + texts::kDeviceAnswers + AnsiToUtf8(now);
    }
  }
  return {};
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

std::optional<TIdentityBackup> TSdlThread::DecidingOpenBackup(const TWorkerJob& job,
                                                              TIdentityBlock device,
                                                              std::string* error) {
  const std::string key = job.group.key.str();
  const auto candidates =
      store_->OpenBackupsMatching(key, device.slots[kSlotSn], device.slots[kSlotMeid], error);
  if (!candidates) return std::nullopt;
  error->clear();
  if (candidates->empty()) return std::nullopt;
  // Without the AT values in the image set the device was not asked who it is yet: it must
  // not be given another device's identity because it sits in the same USB socket.
  if ((job.imageSet.itemSwitches & kItemAt) == 0 && device_->ModemPort() != nullptr) {
    TIdentityKeeper keeper(*device_, *this);
    for (const int slot : {kSlotSn, kSlotMeid}) {
      if (auto value = keeper.ReadAtValue(slot))
        device.slots[static_cast<std::size_t>(slot)] = *value;
    }
  }
  for (const TIdentityBackup& candidate : *candidates) {
    const std::string mismatch = Mismatch(device, candidate);
    if (!mismatch.empty()) {
      Report(kReportInfo, texts::kNotThisDevicesBackup, static_cast<long long>(candidate.id),
             mismatch.c_str());
      continue;
    }
    std::optional<TIdentityBackup> full = store_->LoadBackup(candidate.id, error);
    if (!full) return std::nullopt;
    if (candidates->size() > 1) {
      Report(kReportInfo, texts::kNewestDecides, static_cast<int>(candidates->size()),
             static_cast<long long>(candidate.id));
    }
    return full;
  }
  return std::nullopt;
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
  std::optional<TIdentityBackup> backup;
  if (open && !open->empty()) {
    backup = store_->LoadBackup(open->front().id, &error);
  } else if (open) {
    if ((job.imageSet.itemSwitches & (kItemAt | kItemNv)) == 0) {
      // The image set keeps no identity: nothing is lost by finishing the rewrite.
      Report(kReportInfo, texts::kStrandedNoIdentity, flags);
      summary_.Step(TJobStep::kBackup) = TStepOutcome::kSkipped;
      backup_ = TIdentityBackup{};
      Report(kMarkDeviceOpen, texts::kDeviceOpen, flags);
      return FlashAndRestore(job);
    }
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
  summary_.versionBefore = backup->firmwareVersion;
  const std::string partial = AdoptOpenBackup(job, std::move(*backup));
  if (!partial.empty()) return Fail(partial.c_str());
  Report(kMarkDeviceOpen, texts::kDeviceOpen, flags);
  FlashAndRestore(job);
}

}  // namespace vornex
