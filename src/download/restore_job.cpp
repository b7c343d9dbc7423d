// The restore job, step by step: find, connect (and reset back from download mode), check the
// device's identity against the backup, keep a DataInfo file in the store, restore and read
// back, read the firmware version, switch the diagnostic interface off, record and close. The
// device steps are those of the download job (identity_backup.h, reset_rediscovery.h).
#include "download/restore_job.h"

#include <array>
#include <utility>

#include "discovery/port_info.h"
#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/identity_evidence.h"
#include "download/reset_rediscovery.h"
#include "download/step_clock.h"
#include "foundation/local_time.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "messaging/image_set.h"
#include "protocols/connection_flags.h"
#include "protocols/usb_device.h"
#include "store/station_store.h"

namespace vornex {
namespace {

// The device object of a recovery logs into "ROrUdi_201.txt" (when that file exists).
constexpr std::int32_t kRecoveryDeviceNumber = 201;
// The firmware version, as the download job reads it.
constexpr const char* kVersionCommand = "AT+MDVER";

namespace restore_text = download_text::restore;

// "COM5 (diagnostics), COM6 (modem)": the device's ports, with the role of those that have one.
std::string PortsText(const TUsbGroup& group) {
  const std::int32_t diag = DiagCom(group);
  std::string text;
  for (int i = 0; i < group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = group.ports[static_cast<std::size_t>(i)];
    if (!text.empty()) text += ", ";
    text += FormatBounded(16, "COM%d", static_cast<int>(port.com));
    if (port.portClass == kPortClassModem) {
      text += restore_text::kModemPort;
    } else if (diag != 0 && port.com == diag) {
      text += restore_text::kDiagPort;
    }
  }
  return text;
}

// What the restore wrote back, in one line: "  restored 812 NV items and the AT values".
std::string RestoredText(const TIdentityBackup& backup, const TRestoreResult& result) {
  std::string what;
  if ((backup.itemSwitches & kItemNv) != 0) {
    const int count = static_cast<int>(backup.nv.size());
    what = result.nvWriteFailures == 0 ? FormatBounded(64, restore_text::kNvItems, count)
                                       : FormatBounded(64, restore_text::kSomeNvItems,
                                                       count - result.nvWriteFailures, count);
  }
  if ((backup.itemSwitches & kItemAt) != 0) {
    what += what.empty() ? restore_text::kAtValues : restore_text::kAndAtValues;
    if (result.atWriteFailures != 0) {
      what += FormatBounded(64, restore_text::kAtNotWritten, result.atWriteFailures);
    }
  }
  if (what.empty()) return restore_text::kRestoredNothing;
  return restore_text::kRestored + what;
}

// The device's ports: the group with the key, or the group holding the port of that COM number.
std::optional<TUsbGroup> FindDevice(TUsbDevice& device, const std::string& key, int com) {
  TUsbGroup group;
  if (com <= 0) {
    if (device.FindUSBGroup(key, group)) return group;
    return std::nullopt;
  }
  std::array<TUsbGroup, kMaxGroups> groups{};
  std::uint8_t count = kMaxGroups;
  device.SearchAllUSB(groups, count);
  for (int g = 0; g < count; ++g) {
    const TUsbGroup& candidate = groups[static_cast<std::size_t>(g)];
    for (int p = 0; p < candidate.portCount && p < kMaxGroupPorts; ++p) {
      if (candidate.ports[static_cast<std::size_t>(p)].com == com) return candidate;
    }
  }
  return std::nullopt;
}

}  // namespace

bool NewestOpenBackupOf(TStationStore& store, const std::string& key, const std::string& sn,
                        const std::string& meid, std::optional<TIdentityBackup>* newest,
                        std::string* error) {
  auto found = store.OpenBackupsMatching(key, sn, meid, error);
  if (!found) return false;
  newest->reset();
  if (!found->empty()) *newest = std::move(found->front());
  return true;
}

// Passes a restore's reports on and times its read-back.
class TTimingReporter final : public TRestoreReporter {
 public:
  TTimingReporter(TRestoreReporter& inner, TStepClock& clock) : inner_(inner), clock_(clock) {}
  void Line(const std::string& text) override { inner_.Line(text); }
  void StepReport(std::int32_t value, const std::string& text) override {
    inner_.StepReport(value, text);
  }
  void StepBegins(TTimedStep step) override { clock_.Begin(step); }

 private:
  TRestoreReporter& inner_;
  TStepClock& clock_;
};

// A backup without an id comes from a DataInfo file: it is refused for a device that has an
// open backup in the store and kept in the store before the device is written. Each step's
// result is said in one line; a device that does not run the backup's image afterwards (stopped
// before its image was complete and reset back into its old firmware) is named as one that
// still needs it.
TRestoreOutcome RunRestoreJob(TStationStore& store, TRestoreRequest request,
                              TRestoreReporter& reporter) {
  TIdentityBackup& backup = request.backup;
  const bool force = request.force;
  // A DataInfo file, or another station's backup from the line, is kept in the store only once
  // the device has shown that it is its device.
  const bool import = backup.id == 0;
  const bool fromLine = import && backup.source == kBackupSourceLine;
  TRestoreOutcome outcome;
  TJobSummary& summary = outcome.summary;
  summary.kind = kJobKindRestore;
  summary.slot = backup.slot;
  summary.backupId = backup.id;
  summary.imageTag = backup.imageTag;
  summary.imageSha256 = backup.imageSha256;
  summary.identityBefore = backup.at;
  summary.nvBackedUp = static_cast<std::int32_t>(backup.nv.size());
  summary.startedAt = LocalTimeText();
  const std::uint32_t startTick = pacing::TickCount();
  TStepClock clock(summary.times, startTick);
  auto finish = [&](const std::string& failure) {
    clock.End();
    summary.pass = failure.empty();
    summary.failure = failure;
    summary.endedAt = LocalTimeText();
    summary.elapsedMs = pacing::TickCount() - startTick;
    std::string error;
    summary.id = store.RecordJob(summary, &error);
    if (summary.id == 0) {
      reporter.Line(restore_text::kNotRecorded + error);
      summary.notKept.Add(TRecordPart::kJob, !store.FileIntact(nullptr), error);
    }
    outcome.end = summary.pass ? TRestoreEnd::kRestored : TRestoreEnd::kNotRestored;
    if (!summary.pass) {
      reporter.Line(restore_text::kFailed + failure);
      if (backup.id == 0) return outcome;
      store.SetOpenReason(backup.id, restore_text::kOpenReason + failure, &error);
      reporter.Line(restore_text::kBackup + std::to_string(backup.id) + restore_text::kStaysOpen);
      return outcome;
    }
    const char* done = summary.identityVerified ? restore_text::kRestoredVerified
                                                : restore_text::kRestoredUnverified;
    if (!store.CloseBackup(
            backup.id, std::string(done) + restore_text::kClosedHow + std::to_string(summary.id),
            &error)) {
      reporter.Line(restore_text::kBackup + std::to_string(backup.id) + " " + done +
                    restore_text::kOpenAfterAll + error);
      summary.notKept.Add(TRecordPart::kClosing, !store.FileIntact(nullptr), error);
    } else {
      reporter.Line(restore_text::kBackup + std::to_string(backup.id) + " " + done +
                    restore_text::kClosed);
    }
    return outcome;
  };
  auto unreadable = [&](std::string error) {
    outcome.end = TRestoreEnd::kRecordsUnreadable;
    outcome.error = std::move(error);
    return outcome;
  };
  auto refuseImport = [&](TIdentityBackup held) {
    outcome.end = TRestoreEnd::kRefusedImport;
    outcome.held = std::move(held);
    return outcome;
  };

  const int com = request.com;
  TUsbDevice device(kRecoveryDeviceNumber);
  std::optional<TUsbGroup> group = FindDevice(device, backup.deviceKey, com);
  if (!group) {
    return finish(com > 0 ? FormatBounded(511, restore_text::kNoDeviceOnPort, com)
                          : restore_text::kDevice + backup.deviceKey + restore_text::kNotAttached);
  }
  summary.deviceKey = group->key.str();
  reporter.Line(restore_text::kDeviceFound +
                (summary.deviceKey.empty() ? "" : summary.deviceKey + " ") + restore_text::kFound +
                PortsText(*group));
  std::optional<TIdentityBackup> held;
  std::string error;
  if (import && !force) {
    if (!NewestOpenBackupOf(store, summary.deviceKey, "", "", &held, &error)) {
      return unreadable(error);
    }
    if (held) return refuseImport(std::move(*held));
  }
  clock.Begin(TTimedStep::kConnect);
  std::uint8_t flags = device.ConnectUSB(*group, kConnectOpenMs);
  clock.End();
  summary.Step(TJobStep::kConnect) = flags != 0 ? TStepOutcome::kOk : TStepOutcome::kFailed;
  if ((flags & kFlagDownloadAnswered) != 0) {
    // Stopped in download mode or in its programmer: back into its firmware first.
    reporter.Line(restore_text::kInDownloadMode);
    clock.Begin(TTimedStep::kReset);
    const TResetOutcome reset = ResetAndReopen(device, *group, reporter);
    clock.End();
    flags = reset.flags;
    summary.Step(TJobStep::kReset) = reset.found ? TStepOutcome::kOk : TStepOutcome::kFailed;
    if (reset.found) reporter.Line(restore_text::kResetBack + PortsText(*group));
  }
  summary.diagCom = summary.diagComAfter = DiagCom(*group);
  summary.modemCom = summary.modemComAfter = ModemCom(*group);
  if ((flags & kFlagModemOpen) == 0 && (flags & kFlagFirmwareAnswered) == 0) {
    device.ClosePorts();
    return finish(FormatBounded(511, restore_text::kNoFirmwareAnswer, flags));
  }

  TTimingReporter timed(reporter, clock);
  TIdentityKeeper keeper(device, timed);
  if (!force) {
    const TIdentityBlock answered = keeper.AnsweredIdentity();
    if (import) {
      const bool read = NewestOpenBackupOf(store, "", answered.slots[kSlotSn],
                                           answered.slots[kSlotMeid], &held, &error);
      if (!read || held) device.ClosePorts();
      if (!read) return unreadable(error);
      if (held) return refuseImport(std::move(*held));
    }
    const TEvidenceFinding found =
        FindEvidence(answered, backup, TBlankRule::kNvItems, keeper.NvItemReader());
    if (found.evidence != TEvidence::kShown) {
      device.ClosePorts();
      if (fromLine) {
        // Nothing of another station's backup is kept for a device that is not its own.
        outcome.end = TRestoreEnd::kNotShown;
        outcome.error = restore_text::kNotShown + found.why;
        return outcome;
      }
      return finish(restore_text::kNotShown + found.why + restore_text::kNotRestoredForce);
    }
  }
  if (import) {
    // A DataInfo file is kept in the store before the device is written, so that its values
    // are never only in a file and in memory while they replace the device's own.
    backup.deviceKey = summary.deviceKey;
    backup.diagCom = com;
    backup.id = store.CommitBackup(backup, &error);
    if (backup.id == 0) {
      device.ClosePorts();
      return finish((fromLine ? restore_text::kLineNotKept : restore_text::kFileNotKept) + error);
    }
    summary.backupId = backup.id;
    reporter.Line((fromLine ? restore_text::kLineKept : restore_text::kFileKept) +
                  std::to_string(backup.id) + ".");
  }
  clock.Begin(TTimedStep::kRestore);
  const TRestoreResult result = keeper.RestoreDeviceData(backup, request.verifyIdentity);
  clock.End();
  result.NoteIn(summary);
  reporter.Line(RestoredText(backup, result));
  if (!result.verified) {
    reporter.Line(restore_text::kNotReadBack);
  } else if (result.ok) {
    reporter.Line(restore_text::kReadBackEqual);
  } else {
    reporter.Line(
        FormatBounded(128, restore_text::kReadBackDiffer, result.atDiffer, result.nvDiffer));
  }
  // A device stopped before its image was complete was reset back into its old firmware: its
  // identity is back, its image is still to come.
  std::string stillToFlash;
  if (result.ok && !backup.imageTag.empty()) {
    char reply[kAtReplyBytes] = {};
    const std::string tag = AnsiToUtf8(backup.imageTag);
    if (device.ModemPort() == nullptr ||
        device.SendAtCommand(reply, kVersionCommand, sizeof reply) == 0) {
      reporter.Line(restore_text::kVersionNotRead + std::string(kVersionCommand) +
                    restore_text::kVersionNotReadEnd);
      stillToFlash = restore_text::kVersionUntold + tag + restore_text::kElseStart;
    } else if (!EqualsNoCase(reply, backup.imageTag)) {
      summary.versionAfter = reply;
      reporter.Line(restore_text::kRuns + AnsiToUtf8(reply) + restore_text::kNotBackupImage + tag);
      stillToFlash = restore_text::kStillRuns + AnsiToUtf8(reply) + restore_text::kNot + tag +
                     restore_text::kPressStart;
    } else {
      summary.versionAfter = reply;
      reporter.Line(restore_text::kRuns + tag + restore_text::kBackupImage);
    }
  }
  SwitchDiagOff(device, *group, reporter);
  finish(result.ok ? std::string() : result.failure);
  if (outcome.end == TRestoreEnd::kRestored && !stillToFlash.empty()) reporter.Line(stillToFlash);
  return outcome;
}

}  // namespace vornex
