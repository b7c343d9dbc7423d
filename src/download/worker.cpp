// The device worker: request handling, the sequence of one download job, its progress scale
// and its reports.
#include "download/worker.h"

#include <algorithm>
#include <cstdarg>
#include <filesystem>
#include <system_error>

#include "discovery/port_enumeration.h"
#include "discovery/port_holders.h"
#include "download/data_info.h"
#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/report_marks.h"
#include "download/reset_rediscovery.h"
#include "foundation/local_time.h"
#include "foundation/pacing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "protocols/connection_flags.h"
#include "store/station_store.h"

namespace vornex {

std::atomic<std::uint8_t> g_nDownLoadCount{0};

namespace {

constexpr int kPhaseProgrammerSlot = 0;
constexpr int kPhaseAfterProgrammerSlot = 1;  // phase 2
constexpr int kPhaseImageSlot = 7;            // phase 30
constexpr std::uint32_t kScaleBase = 100;
constexpr std::uint32_t kScaleBand = 800;

namespace texts = download_text;

constexpr const char* kVersionCommand = "AT+MDVER";
// A note on records not kept: the store's reason may name a long path.
constexpr std::size_t kNoteUnits = 1023;

// Whether an identity holds nothing worth keeping: no serial number and no MEID when the AT
// values are kept, or nothing but zero bytes in every NV item when those are kept. A device
// answers so after a rewrite that its station did not finish.
bool IsBlankIdentity(const TIdentityBackup& backup) {
  const bool atBlank = backup.at.slots[kSlotSn].empty() && backup.at.slots[kSlotMeid].empty();
  const bool nvBlank = std::all_of(backup.nv.begin(), backup.nv.end(), [](const TNvRecord& r) {
    return std::all_of(r.bytes.begin() + 2, r.bytes.end(), [](std::uint8_t b) { return b == 0; });
  });
  return ((backup.itemSwitches & kItemAt) != 0 && atBlank) ||
         ((backup.itemSwitches & kItemNv) != 0 && nvBlank);
}

// What the operator is told of a job whose own records were not all kept: what, why and what
// to do.
std::string NotKeptNote(const TJobSummary& summary) {
  const TRecordsNotKept& notKept = summary.notKept;
  const auto backup = static_cast<long long>(summary.backupId);
  std::string what = notKept.job ? texts::kNotKeptJob : "";
  if (notKept.closing) {
    if (!what.empty()) what += texts::kNotKeptAnd;
    what += FormatBounded(kCauseUnits, texts::kNotKeptClosing, backup);
  }
  std::string note =
      FormatBounded(kNoteUnits, notKept.lost ? texts::kRecordsLost : texts::kRecordsIncomplete,
                    what.c_str(), notKept.why.c_str());
  if (notKept.closing && !notKept.lost) {
    note += FormatBounded(kCauseUnits, texts::kCloseItLater, backup, backup);
  }
  return note;
}

// Size of a file in bytes; 0 when it cannot be measured.
std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(paths::FsPath(path), ec);
  return ec ? 0 : size;
}

}  // namespace

TSdlThread::TSdlThread() = default;

TSdlThread::~TSdlThread() {
  Stop();
  device_.reset();
}

void TSdlThread::OnRequest(std::uint32_t type, TRequestRecord record) {
  if (type != REQ_SINGLE_DOWNLOAD) return;
  auto* job = std::get_if<std::unique_ptr<TWorkerJob>>(&record);
  busy_.store(1, std::memory_order_relaxed);
  RunDownloadJob(job != nullptr ? std::move(*job) : nullptr);
  busy_.store(0, std::memory_order_relaxed);
}

void TSdlThread::SetProgressScale(std::uint64_t programmerBytes, std::uint64_t imageBytes) {
  const auto wh = static_cast<std::uint32_t>(programmerBytes / 1000);
  const auto wi = static_cast<std::uint32_t>(imageBytes / 1000);
  weightTotal_ = wh + wi + 1;
  phaseWeights_.fill(0);
  phaseBases_.fill(0);
  const std::uint32_t imageBase = kScaleBase + (wh * kScaleBand) / weightTotal_;
  phaseWeights_[kPhaseProgrammerSlot] = wh;
  phaseBases_[kPhaseProgrammerSlot] = kScaleBase;
  phaseBases_[kPhaseAfterProgrammerSlot] = imageBase;
  phaseWeights_[kPhaseImageSlot] = wi;
  phaseBases_[kPhaseImageSlot] = imageBase;
}

std::optional<std::uint32_t> TSdlThread::ProgressPosition(std::uint8_t phase,
                                                          std::uint8_t percent) const {
  for (std::size_t slot = 0; slot < kProgressPhases.size(); ++slot) {
    if (kProgressPhases[slot] != phase) continue;
    // Phases without a band of their own (never reported by the device layer) show nothing
    // rather than throwing the slot back to 0.
    if (phaseBases_[slot] == 0 && phaseWeights_[slot] == 0) return std::nullopt;
    // 64-bit: percent x weight x 800 passes 2^32 for images above about 53.7 MB.
    const std::uint64_t scaled = std::uint64_t{percent} * phaseWeights_[slot] * kScaleBand;
    return static_cast<std::uint32_t>((scaled / weightTotal_) / 100) + phaseBases_[slot];
  }
  return std::nullopt;
}

void TSdlThread::OnLibProgress(void* user, std::int32_t status, const void* data) {
  auto* worker = static_cast<TSdlThread*>(user);
  if (worker == nullptr) return;
  if (status == CB_MESSAGE) {
    const char* text = data != nullptr ? static_cast<const char*>(data) : "";
    const std::string shown(CutToUnits(text, kLibTextUnits));
    worker->Report(kReportFail, texts::kDeviceMessage, shown.c_str());
  } else if (status == CB_PROGRESS && data != nullptr) {
    const auto* info = static_cast<const TProgressInfo*>(data);
    std::string text;
    if (info->text != nullptr) {
      text.assign(info->text, static_cast<std::size_t>(std::max(info->textLength, 0)));
      text = std::string(CutToUnits(text, kLibTextUnits));
    }
    const auto position = worker->ProgressPosition(info->phase, info->percent);
    if (!position || static_cast<std::int32_t>(*position) < 0) return;
    worker->Report(static_cast<std::int32_t>(*position), texts::kDeviceProgress, info->phase,
                   info->percent, text.c_str());
  }
}

void TSdlThread::RunDownloadJob(std::unique_ptr<TWorkerJob> job) {
  if (!job) return;
  device_ = std::make_unique<TUsbDevice>(job->slot);
  const std::uint32_t startTick = pacing::TickCount();
  jobStartTick_ = startTick;
  slot_ = job->slot;
  com_ = job->com;
  store_ = job->store;
  summary_ = TJobSummary{};
  afterRewrite_ = TBlankRule::kOwnRewrite;
  summary_.slot = job->slot;
  summary_.deviceKey = job->group.key.str();
  summary_.diagCom = job->com;
  summary_.modemCom = ModemCom(job->group);
  summary_.imageTag = job->imageSet.imageTag;
  summary_.imageSha256 = job->imageSet.imageSha256;
  summary_.startedAt = LocalTimeText();
  clock_.emplace(summary_.times, startTick);

  Report(kMarkBegin, texts::kBeginProgress);
  device_->SetCallback(&TSdlThread::OnLibProgress, this);
  device_->SetStopFlag(&stop_);
  SetProgressScale(FileSize(job->imageSet.programmerFile.str()),
                   FileSize(job->imageSet.flashImageFile.str()));
  Report(kMarkFilesMeasured, texts::kFilesMeasured);
  pacing::Sleep(kBeforeConnectMs);

  RunSteps(*job);
  clock_->End();

  summary_.endedAt = LocalTimeText();
  summary_.elapsedMs = pacing::TickCount() - startTick;
  if (store_ != nullptr) {
    std::string error;
    summary_.id = store_->RecordJob(summary_, &error);
    if (summary_.id == 0) {
      summary_.notKept.Add(TRecordPart::kJob, !store_->FileIntact(nullptr), error);
    }
    CloseSupersededBackups();
    if (summary_.notKept.Any()) {
      // Never a silent verdict without its records: the job's last words say what is missing.
      summary_.notKept.note = NotKeptNote(summary_);
      Report(kReportInfo, "%s", summary_.notKept.note.c_str());
    }
  }
  auto summary = std::make_unique<TJobSummary>(std::move(summary_));
  job.reset();
  EndJob(startTick);
  DiscardBackup();
  store_ = nullptr;
  Notify(CNF_JOB_SUMMARY, std::move(summary));
}

void TSdlThread::RunSteps(TWorkerJob& job) {
  if (StopRequested()) return Interrupted(false);
  clock_->Begin(TTimedStep::kConnect);
  const std::uint8_t flags = device_->ConnectUSB(job.group, kConnectOpenMs);
  clock_->End();
  summary_.Step(TJobStep::kConnect) =
      (flags & kFlagDiagUsable) != 0 ? TStepOutcome::kOk : TStepOutcome::kFailed;
  // Nothing is asked of a device whose port another program holds: that program may answer or
  // spoil what the job reads, and without its modem port the device cannot say who it is.
  bool diagHeld = false;
  if (const std::string held = HeldPortCause(job, &diagHeld); !held.empty()) {
    summary_.Step(TJobStep::kConnect) = TStepOutcome::kFailed;
    Cause(held);
    return Fail(diagHeld ? texts::kCannotOpenDevice : texts::kPortHeld);
  }
  // A device that answers only in download mode was stopped in the middle of its rewrite.
  if ((flags & kFlagDownloadAnswered) != 0) return FinishStranded(job, flags);
  clock_->Begin(TTimedStep::kVersionCheck);
  const std::int32_t versionOk = CheckVersion(job.imageSet.imageTag);
  clock_->End();
  if (versionOk == 0) return Fail(texts::kCannotDowngrade);
  if ((flags & kFlagDiagUsable) == 0) {
    Cause(FormatBounded(kCauseUnits, texts::kNoDiagAnswer, job.com));
    return Fail(texts::kCannotOpenDevice);
  }
  Report(kMarkDeviceOpen, texts::kDeviceOpen, flags);

  // Nothing is written to a device whose identity is not complete on disk. When the station
  // holds an open backup of the device, that backup is its identity, not what it answers now.
  bool fromOpenBackup = false;
  clock_->Begin(TTimedStep::kBackup);
  const std::string backupFailure = BackupDeviceData(job, &fromOpenBackup);
  clock_->End();
  if (!backupFailure.empty()) return Fail(backupFailure.c_str());
  if (fromOpenBackup && ImageOnDevice(job)) {
    // Its rewrite is done and only its identity is missing: nothing to flash, nothing to reset.
    if (StopRequested()) return Interrupted(false);
    Report(kReportInfo, texts::kImageAlreadyOn, job.imageSet.imageTag.c_str(),
           static_cast<long long>(summary_.backupId));
    summary_.Step(TJobStep::kImageUpdate) = TStepOutcome::kSkipped;
    summary_.Step(TJobStep::kReset) = TStepOutcome::kSkipped;
    return RestoreAndClose(job);
  }
  FlashAndRestore(job);
}

void TSdlThread::FlashAndRestore(TWorkerJob& job) {
  if (StopRequested()) return Interrupted(false);
  Report(kMarkDownloadStart, texts::kDownloadStart);

  g_nDownLoadCount.fetch_add(1);
  const std::int32_t updated = UpdateDeviceImage(job);
  g_nDownLoadCount.fetch_sub(1);
  // The programmer's start may have found the device again under new port numbers: every
  // later step talks to the ports it has now.
  if (device_->Group().portCount > 0) job.group = device_->Group();
  if (updated == 0) {
    summary_.Step(TJobStep::kImageUpdate) = TStepOutcome::kFailed;
    // The device may be half written: keep a record of its identity on disk.
    SaveDataInfo();
    SwitchDiagOff(*device_, job.group, *this);
    if (StopRequested()) return Interrupted(true);
    Report(kReportFail, texts::kDownloadCodeFailed);
    device_->ClosePorts();
    return Fail(texts::kDownloadFailed);
  }
  summary_.Step(TJobStep::kImageUpdate) = TStepOutcome::kOk;
  // Records deleted under the running job took its committed backup with them: a copy on disk
  // keeps the identity until the restore has verified it.
  std::string lost;
  if (summary_.backupId > 0 && store_ != nullptr && !store_->FileIntact(&lost)) {
    Report(kReportInfo, "%s", lost.c_str());
    SaveDataInfo();
  }

  // From here the job runs on even when asked to stop: the new image is on the device and its
  // identity must be put back.
  Report(kMarkDownloadEnd, texts::kDownloadEnd);
  Report(kMarkResetStart, texts::kResetStart, g_nDownLoadCount.load());
  for (int i = 0; g_nDownLoadCount.load() > 0 && i < kOthersWaitTries; ++i) {
    pacing::Sleep(kOthersWaitMs);
  }
  clock_->Begin(TTimedStep::kReset);
  pacing::Sleep(kBeforeResetMs);
  TResetOutcome reset;
  std::string resetReply;  // the device's own words on a refused reset
  {
    TDeviceTextCatch told(*device_, &TSdlThread::OnLibProgress, this);
    reset = ResetAndReopen(*device_, job.group, *this);
    resetReply = told.Last();
  }
  clock_->End();
  if (reset.command == TResetCommand::kRefused) {
    // The programmer runs on with the new image and the identity is not back: the backup stays
    // open. Start again finds the device in download mode and finishes it from that backup.
    summary_.Step(TJobStep::kReset) = TStepOutcome::kFailed;
    SaveDataInfo();
    Cause(texts::kResetRefusedCause +
          (resetReply.empty() ? std::string(texts::kNoReasonGiven) : resetReply));
    return Fail(texts::kResetRefused);
  }
  if (!reset.found) {
    summary_.Step(TJobStep::kReset) = TStepOutcome::kFailed;
    SaveDataInfo();
    Cause(FormatBounded(kCauseUnits, texts::kLostAfterReset, job.group.key.str().c_str(),
                        reset.command == TResetCommand::kNoReply ? texts::kResetNoReply : ""));
    return Fail(texts::kNotFoundAgain);
  }
  summary_.Step(TJobStep::kReset) = TStepOutcome::kOk;
  summary_.diagComAfter = DiagCom(job.group);
  summary_.modemComAfter = ModemCom(job.group);
  Report(kMarkResetDone, texts::kResetDone, texts::kOk);
  // The device found under the socket's key must show that it is the backup's device.
  if (!ShowsItsBackup(job)) return;
  RestoreAndClose(job);
}

void TSdlThread::RestoreAndClose(TWorkerJob& job) {
  Report(kMarkBeforeRestore);
  clock_->Begin(TTimedStep::kRestore);
  pacing::Sleep(kBeforeRestoreMs);

  TIdentityKeeper keeper(*device_, *this);
  const TRestoreResult restored = keeper.RestoreDeviceData(*backup_, job.verifyIdentity);
  clock_->End();
  restoreFailed_ = restored.ok ? 0 : 1;
  restored.NoteIn(summary_);
  summary_.versionAfter = ReadVersion();
  SaveDataInfo();
  if (!restored.ok) {
    device_->ClosePorts();
    SwitchDiagOff(*device_, job.group, *this);
    Cause(FormatBounded(kCauseUnits, texts::kRestoreIncomplete,
                        static_cast<long long>(summary_.backupId),
                        static_cast<long long>(summary_.backupId)));
    return Fail(restored.failure.c_str());
  }

  std::string error;
  const char* how = restored.verified ? texts::kClosedVerified : texts::kClosedUnverified;
  if (summary_.backupId > 0 && !store_->CloseBackup(summary_.backupId, how, &error)) {
    // The DataInfo file saved above keeps the identity beside the records.
    summary_.notKept.Add(TRecordPart::kClosing, !store_->FileIntact(nullptr), error);
    Report(kReportInfo, texts::kBackupStaysOpen, static_cast<long long>(summary_.backupId),
           error.c_str());
  }
  const std::uint8_t closed = device_->ClosePorts();
  SwitchDiagOff(*device_, job.group, *this);
  Report(kMarkClosed, texts::kDeviceClosed, closed > 0 ? texts::kOk : texts::kError, closed);
  Report(kReportPass, texts::kPassed);
  summary_.pass = true;
}

void TSdlThread::Interrupted(bool midStream) {
  Cause(midStream ? texts::kStoppedMidStream : texts::kStoppedBeforeWrite);
  Fail(texts::kInterrupted);
}

void TSdlThread::Cause(const std::string& cause) {
  Report(kReportInfo, "%s", cause.c_str());
  if (summary_.cause.empty()) summary_.cause = cause;
}

void TSdlThread::Fail(const char* text) {
  Report(kReportFail, "%s", text);
  summary_.pass = false;
  summary_.failure = text;
  if (summary_.backupId == 0 || store_ == nullptr) return;
  std::string error;
  if (!store_->SetOpenReason(summary_.backupId, text, &error)) {
    Report(kReportInfo, texts::kStationRecords, error.c_str());
  }
}

std::string TSdlThread::ReadVersion() {
  if (device_->ModemPort() == nullptr) return {};
  char reply[kAtReplyBytes] = {};
  if (device_->SendAtCommand(reply, kVersionCommand, sizeof reply) == 0) return {};
  return reply;
}

std::string TSdlThread::BackupDeviceData(const TWorkerJob& job, bool* fromOpenBackup) {
  DiscardBackup();
  TIdentityBackup backup;
  backup.slot = job.slot;
  backup.deviceKey = job.group.key.str();
  backup.diagCom = job.com;
  backup.modemCom = ModemCom(job.group);
  backup.firmwareVersion = summary_.versionBefore;
  backup.imageTag = job.imageSet.imageTag;
  backup.imageSha256 = job.imageSet.imageSha256;
  backup.itemSwitches = job.imageSet.itemSwitches & (kItemAt | kItemNv);
  if (store_ == nullptr) {
    Cause(std::string(texts::kBackupNotSavedCause) + texts::kNoStore);
    return texts::kBackupNotSaved;
  }

  TIdentityKeeper keeper(*device_, *this);
  std::vector<std::string> gaps;
  std::int32_t result = 1;
  if ((backup.itemSwitches & kItemAt) != 0) {
    Report(kReportInfo, texts::kBackupAtBegin);
    result = keeper.BackupAtItems(backup.at, gaps);
    Report(kReportInfo, texts::kBackupAtEnd, result);
  } else {
    // Not restored, but kept in the backup: the evidence of whose device it is.
    backup.at = keeper.AnsweredIdentity();
  }

  TOpenBackupChoice open = DecidingOpenBackup(job, backup.at);
  if (!open.storeError.empty()) {
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(texts::kBackupsNotRead + open.storeError);
    return texts::kBackupsUnreadable;
  }
  if (!open.ambiguity.empty()) {
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(open.ambiguity);
    return texts::kBackupsAmbiguous;
  }
  if (open.backup) {
    Report(kReportInfo, texts::kBackupOpenFinishing, static_cast<long long>(open.backup->id));
    *fromOpenBackup = true;
    return AdoptOpenBackup(job, std::move(*open.backup));
  }

  if ((backup.itemSwitches & kItemNv) != 0) {
    Report(kReportInfo, texts::kBackupNvBegin);
    keeper.BackupNvItems(backup.nv, gaps);
    Report(kReportInfo, texts::kBackupNvEnd, result);
  }
  summary_.identityBefore = backup.at;
  summary_.nvBackedUp = static_cast<std::int32_t>(backup.nv.size());
  if (!gaps.empty()) {
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    for (const std::string& gap : gaps) Cause(texts::kBackupGap + gap);
    return texts::kBackupIncomplete;
  }
  if (IsBlankIdentity(backup) && !job.flashBlankDevices) {
    // Most likely a device whose rewrite another station or an earlier run did not finish: its
    // identity is in a backup somewhere, and a backup of the blank would pass it off as kept.
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(texts::kBlankIdentityCause);
    return texts::kBlankIdentity;
  }

  if (const std::string fault = ValuesFault(backup); !fault.empty()) {
    // Committed, it would be written back into the device as something else, or not at all.
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(FormatBounded(kCauseUnits, texts::kOwnValueUnfitCause, fault.c_str()));
    return texts::kOwnValueUnfit;
  }
  std::string error;
  backup.id = store_->CommitBackup(backup, &error);
  if (backup.id == 0) {
    summary_.Step(TJobStep::kBackup) = TStepOutcome::kFailed;
    Cause(texts::kBackupNotSavedCause + error);
    return texts::kBackupNotSaved;
  }
  summary_.Step(TJobStep::kBackup) = TStepOutcome::kOk;
  summary_.backupId = backup.id;
  Report(kReportInfo, texts::kBackupSaved, static_cast<long long>(backup.id));
  backup_ = std::move(backup);
  return {};
}

std::string TSdlThread::HeldPortCause(const TWorkerJob& job, bool* diagnostic) {
  std::vector<TPortInfo> unopened;
  std::vector<const char*> roles;
  for (int i = 0; i < job.group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = job.group.ports[static_cast<std::size_t>(i)];
    if (port.portClass == kPortClassModem && device_->ModemPort() == nullptr) {
      unopened.push_back(port);
      roles.push_back(texts::kModemRole);
    } else if (IsDiagnosticPort(port) && device_->DiagPort() == nullptr) {
      unopened.push_back(port);
      roles.push_back(texts::kDiagRole);
    }
  }
  for (std::size_t i = 0; i < unopened.size(); ++i) {
    const TPortInfo& port = unopened[i];
    if (port.ttyPath.empty() || TestOpenTty(port.ttyPath.str()).result != TTtyOpen::kBusy) continue;
    const std::string holders = HoldersText(FindPortHolders({port.ttyPath.str()}).front());
    *diagnostic = roles[i] == texts::kDiagRole;
    return FormatBounded(kCauseUnits, texts::kPortHeldCause, roles[i], static_cast<int>(port.com),
                         holders.empty() ? texts::kAnotherProgram : holders.c_str());
  }
  return {};
}

void TSdlThread::SaveDataInfo() {
  if (!backup_ || (backup_->nv.empty() && backup_->at == TIdentityBlock{})) return;
  std::string name;
  std::string error;
  if (vornex::SaveDataInfo(*backup_, &name, &error)) {
    Report(kReportInfo, texts::kDataInfoSaved, name.c_str());
  } else {
    Report(kReportInfo, texts::kDataInfoNotSaved, name.c_str(), error.c_str());
  }
}

void TSdlThread::DiscardBackup() {
  backup_.reset();
}

void TSdlThread::StepReport(std::int32_t value, const std::string& text) {
  Report(value, "%s", text.c_str());
}

void TSdlThread::EndJob(std::uint32_t startTick) {
  const double seconds = static_cast<double>(pacing::TickCount() - startTick) / 1000.0;
  Report(kReportInfo, texts::kFinished, seconds);
  jobStartTick_ = 0;
  slot_ = -1;
  com_ = -1;
  // Releasing the device object pauses 200 ms, closes ports still open and ends its log.
  device_.reset();
}

void TSdlThread::Report(std::int32_t value, const char* format, ...) {
  if (slot_ < 0) return;
  auto cnf = std::make_unique<TSingleCnf>();
  if (format != nullptr) {
    std::va_list args;
    va_start(args, format);
    cnf->text = FormatBoundedV(decltype(cnf->text)::kCapacity, format, args);
    va_end(args);
  }
  MapReportValue(value, &cnf->code, &cnf->progress);
  if (cnf->code != CNF_PROGRESS) cnf->elapsed = pacing::TickCount() - jobStartTick_;
  cnf->slot = slot_;
  Notify(CNF_SINGLE, std::move(cnf));
}

}  // namespace vornex
