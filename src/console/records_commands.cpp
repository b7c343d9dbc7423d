// "vornex restore" and "vornex history": the station record store for the operator.
#include "console/records_commands.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <set>

#include "console/job_report.h"
#include "console/station_records.h"
#include "discovery/port_enumeration.h"
#include "download/download_limits.h"
#include "download/identity_backup.h"
#include "download/reset_rediscovery.h"
#include "foundation/local_time.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "messaging/image_set.h"
#include "protocols/connection_flags.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

// The device object of a recovery logs into "ROrUdi_201.txt" (when that file exists).
constexpr std::int32_t kRecoveryDeviceNumber = 201;

// Options of one command: "--name value" pairs, "--name" switches and at most one plain word.
struct Options {
  std::map<std::string, std::string> values;
  std::set<std::string> switches;
  std::string word;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name) const {
    const auto it = values.find(name);
    return it != values.end() ? it->second : std::string();
  }
};

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    const std::set<std::string>& withValue,
                                    const std::set<std::string>& switches, std::string* error) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (withValue.count(arg) != 0) {
      if (i + 1 >= args.size()) {
        *error = "missing value after " + arg;
        return std::nullopt;
      }
      options.values[arg] = args[++i];
    } else if (switches.count(arg) != 0) {
      options.switches.insert(arg);
    } else if (arg.starts_with("-") || !options.word.empty()) {
      *error = "unknown option " + arg;
      return std::nullopt;
    } else {
      options.word = arg;
    }
  }
  return options;
}

// A whole positive number, or nullopt.
std::optional<long long> PositiveNumber(const std::string& text) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0) return std::nullopt;
  return value;
}

StationSettings CommandSettings(const Options& options) {
  return LoadSettings(options.Has("--settings") ? options.Get("--settings") : SettingsPath());
}

std::unique_ptr<TStationStore> OpenStore(const Options& options, const StationSettings& settings,
                                         std::ostream& err) {
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(options.Get("--data"), settings, &error);
  if (!store) err << "vornex: station records unavailable: " << error << '\n';
  return store;
}

// Steps of a recovery on the terminal: progress and failures always, information lines with
// --verbose.
class TerminalReporter : public TStepReporter {
 public:
  TerminalReporter(std::ostream& out, bool verbose) : out_(out), verbose_(verbose) {}
  void StepReport(std::int32_t value, const std::string& text) override {
    if (text.empty() || (value == kInfoValue && !verbose_)) return;
    out_ << (value == kFailValue ? "FAILED: " : "  ") << text << '\n';
  }

 private:
  static constexpr std::int32_t kInfoValue = -5;
  static constexpr std::int32_t kFailValue = -2;
  std::ostream& out_;
  bool verbose_;
};

int ListOpenBackups(TStationStore& store, std::ostream& out, std::ostream& err) {
  std::string error;
  const auto backups = store.OpenBackups(&error);
  if (!backups) {
    err << "vornex: " << error << '\n';
    return 2;
  }
  if (backups->empty()) {
    out << "No identity backup is open in " << store.Path() << ".\n";
    return 0;
  }
  out << "Open identity backups in " << store.Path() << ":\n";
  out << "ID      CREATED              SLOT  KEY       SN                MEID              IMAGE"
         "         WHY OPEN\n";
  for (const TIdentityBackup& b : *backups) {
    out << FormatBounded(
        1023, "%-7lld %-20s %-5s %-9s %-17s %-17s %-13s %s\n", static_cast<long long>(b.id),
        b.createdAt.c_str(),
        b.slot >= 0 ? std::string(1, static_cast<char>('A' + b.slot)).c_str() : "-",
        b.deviceKey.c_str(), AnsiToUtf8(b.at.slots[kSlotSn]).c_str(),
        AnsiToUtf8(b.at.slots[kSlotMeid]).c_str(), AnsiToUtf8(b.imageTag).c_str(),
        b.openReason.empty() ? "its job never ended (station stopped)" : b.openReason.c_str());
  }
  out << "Restore one with: vornex restore ID   (add --com N when the device is on another "
         "USB socket)\n";
  return 0;
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

// The newest open backup, newer than `after` (ids grow with time), that may be of the device
// with this key (letter case ignored), serial number or MEID; an empty value matches nothing.
// Null when there is none.
const TIdentityBackup* NewestOpenBackupOf(const std::vector<TIdentityBackup>& open,
                                          const std::string& key, const std::string& sn,
                                          const std::string& meid, std::int64_t after = 0) {
  const TIdentityBackup* newest = nullptr;
  for (const TIdentityBackup& b : open) {
    const bool same = (!key.empty() && EqualsNoCase(b.deviceKey, key)) ||
                      (!sn.empty() && b.at.slots[kSlotSn] == sn) ||
                      (!meid.empty() && b.at.slots[kSlotMeid] == meid);
    if (same && b.id > after && (newest == nullptr || b.id > newest->id)) newest = &b;
  }
  return newest;
}

// "backup 7 (2024-05-02 10:41:07, key 1-4.2, SN VX1234)".
std::string BackupName(const TIdentityBackup& b) {
  std::string name = "backup " + std::to_string(b.id) + " (" + b.createdAt;
  if (!b.deviceKey.empty()) name += ", key " + b.deviceKey;
  if (!b.at.slots[kSlotSn].empty()) name += ", SN " + AnsiToUtf8(b.at.slots[kSlotSn]);
  if (!b.at.slots[kSlotMeid].empty()) name += ", MEID " + AnsiToUtf8(b.at.slots[kSlotMeid]);
  return name + ")";
}

// Refuses a DataInfo file for a device whose own backup is still open: that backup, not a
// file, holds what the device had before. Exit status 2.
int RefuseImportOverOpenBackup(const TIdentityBackup& held, int com, std::ostream& err) {
  err << "vornex: the device on COM" << com << " has the open " << BackupName(held)
      << ": not written from a DataInfo file; restore that backup instead: vornex restore "
      << held.id << " --com " << com << "   (or add --force to write the file all the same)\n";
  return 2;
}

// Why the device is not the one of the backup: it answers another serial number or, for a
// backup without one, another MEID (a value it does not answer proves nothing). Empty when it
// may be the backup's device.
std::string OtherDevice(const TIdentityBlock& saved, const std::optional<std::string>& sn,
                        const std::optional<std::string>& meid) {
  const bool bySn = !saved.slots[kSlotSn].empty();
  const std::string& expected = saved.slots[bySn ? kSlotSn : kSlotMeid];
  const std::optional<std::string>& now = bySn ? sn : meid;
  if (expected.empty() || !now || now->empty() || *now == expected) return {};
  return std::string("the device answers ") + (bySn ? "serial number " : "MEID ") +
         AnsiToUtf8(*now) + ", the backup is of " + AnsiToUtf8(expected) +
         ": not restored (add --force if this is the device)";
}

// Puts the backup back on its device and verifies it; records the outcome. A backup without an
// id comes from a DataInfo file: it is refused for a device that has an open backup (of
// `open`, the store's open backups) and kept in the store before the device is written. Exit
// status.
int RestoreBackup(TStationStore& store, TIdentityBackup backup,
                  const std::vector<TIdentityBackup>& open, const Options& options,
                  const StationSettings& settings, std::ostream& out, std::ostream& err) {
  const bool force = options.switches.count("--force") != 0;
  const bool import = backup.id == 0;
  TerminalReporter reporter(out, options.switches.count("--verbose") != 0);
  TJobSummary summary;
  summary.kind = kJobKindRestore;
  summary.slot = backup.slot;
  summary.backupId = backup.id;
  summary.imageTag = backup.imageTag;
  summary.imageSha256 = backup.imageSha256;
  summary.identityBefore = backup.at;
  summary.nvBackedUp = static_cast<std::int32_t>(backup.nv.size());
  summary.startedAt = LocalTimeText();
  const std::uint32_t startTick = pacing::TickCount();
  auto finish = [&](const std::string& failure) {
    summary.pass = failure.empty();
    summary.failure = failure;
    summary.endedAt = LocalTimeText();
    summary.elapsedMs = pacing::TickCount() - startTick;
    std::string error;
    summary.id = store.RecordJob(summary, &error);
    if (summary.id == 0) out << "Restore not recorded: " << error << '\n';
    if (!summary.pass) {
      out << "FAILED: " << failure << '\n';
      if (backup.id == 0) return 1;
      store.SetOpenReason(backup.id, "restore failed: " + failure, &error);
      out << "Backup " << backup.id << " stays open.\n";
      return 1;
    }
    const char* done = summary.identityVerified ? "restored and verified"
                                                : "restored, not read back (VerifyIdentity=OFF)";
    if (!store.CloseBackup(backup.id,
                           std::string(done) + " by restore job " + std::to_string(summary.id),
                           &error)) {
      out << "Backup " << backup.id << " " << done << ", but it stays open: " << error << '\n';
    } else {
      out << "Backup " << backup.id << " " << done << ": closed.\n";
    }
    return 0;
  };

  const int com =
      options.Has("--com") ? static_cast<int>(*PositiveNumber(options.Get("--com"))) : 0;
  TUsbDevice device(kRecoveryDeviceNumber);
  std::optional<TUsbGroup> group = FindDevice(device, backup.deviceKey, com);
  if (!group) {
    return finish(com > 0 ? FormatBounded(511, "no device has the port COM%d", com)
                          : "device " + backup.deviceKey +
                                " is not attached (plug it into the same USB socket, or name "
                                "its port with --com N)");
  }
  summary.deviceKey = group->key.str();
  out << "Device " << summary.deviceKey << " found:" << '\n';
  if (import && !force) {
    if (const TIdentityBackup* held = NewestOpenBackupOf(open, summary.deviceKey, "", "")) {
      return RefuseImportOverOpenBackup(*held, com, err);
    }
  }
  std::uint8_t flags = device.ConnectUSB(*group, kConnectOpenMs);
  summary.Step(TJobStep::kConnect) = flags != 0 ? TStepOutcome::kOk : TStepOutcome::kFailed;
  if ((flags & kFlagDownloadAnswered) != 0) {
    // Stopped in download mode or in its programmer: back into its firmware first.
    out << "  the device is in download mode: resetting it\n";
    bool found = false;
    flags = ResetAndReopen(device, *group, reporter, &found);
    summary.Step(TJobStep::kReset) = found ? TStepOutcome::kOk : TStepOutcome::kFailed;
  }
  summary.diagCom = summary.diagComAfter = DiagCom(*group);
  summary.modemCom = summary.modemComAfter = ModemCom(*group);
  if ((flags & kFlagModemOpen) == 0 && (flags & kFlagFirmwareAnswered) == 0) {
    device.ClosePorts();
    return finish(FormatBounded(511, "the device does not answer in its firmware (0x%x)", flags));
  }

  TIdentityKeeper keeper(device, reporter);
  if (!force) {
    const bool noSn = backup.at.slots[kSlotSn].empty();
    std::optional<std::string> sn;
    std::optional<std::string> meid;
    if (import || !noSn) sn = keeper.ReadAtValue(kSlotSn);
    if (import || (noSn && !backup.at.slots[kSlotMeid].empty())) {
      meid = keeper.ReadAtValue(kSlotMeid);
    }
    if (import) {
      if (const TIdentityBackup* held =
              NewestOpenBackupOf(open, "", sn.value_or(""), meid.value_or(""))) {
        device.ClosePorts();
        return RefuseImportOverOpenBackup(*held, com, err);
      }
    }
    const std::string other = OtherDevice(backup.at, sn, meid);
    if (!other.empty()) {
      device.ClosePorts();
      return finish(other);
    }
  }
  if (import) {
    // A DataInfo file is kept in the store before the device is written, so that its values
    // are never only in a file and in memory while they replace the device's own.
    backup.deviceKey = summary.deviceKey;
    backup.diagCom = com;
    std::string error;
    backup.id = store.CommitBackup(backup, &error);
    if (backup.id == 0) {
      device.ClosePorts();
      return finish("the DataInfo file could not be kept: " + error);
    }
    summary.backupId = backup.id;
    out << "DataInfo file kept as backup " << backup.id << ".\n";
  }
  const TRestoreResult result = keeper.RestoreDeviceData(backup, settings.verifyIdentity);
  result.NoteIn(summary);
  SwitchDiagOff(device, *group, reporter);
  return finish(result.ok ? std::string() : result.failure);
}

}  // namespace

std::string RestoreUsage() {
  return "usage: vornex restore [ID | --datainfo FILE] [--com N] [--force] [--verbose]\n"
         "                      [--bench DIR] [--time-scale S] [--data DIR] [--settings FILE]\n"
         "  (no ID)           list the identity backups still open\n"
         "  ID                put that backup back on its device (found by its USB socket), then\n"
         "                    read it back and close the backup when it is all there\n"
         "  --datainfo FILE   the same from a DataInfo file (needs --com N)\n"
         "  --com N           the device with the port COMn instead\n"
         "  --force           restore even when the device answers another serial number\n"
         "                    (or MEID), a newer backup of the device is open, the device of a\n"
         "                    DataInfo file has an open backup, or the file has no serial number\n"
         "  --verbose         show every item written and read back\n"
         "  --bench DIR       simulated devices of this bench registry\n";
}

std::string HistoryUsage() {
  return "usage: vornex history [--json | --csv] [--since DATE] [--serial SN] [--key KEY]\n"
         "                      [--limit N] [--data DIR] [--settings FILE]\n"
         "  past jobs, newest first; DATE is YYYY-MM-DD or YYYY-MM-DD hh:mm:ss\n";
}

int RunRestoreCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  const auto options =
      ParseOptions(args, {"--datainfo", "--com", "--bench", "--time-scale", "--data", "--settings"},
                   {"--force", "--verbose"}, &error);
  const bool badCom = options && options->Has("--com") && !PositiveNumber(options->Get("--com"));
  const double scale = options ? std::strtod(options->Get("--time-scale").c_str(), nullptr) : 0;
  if (!options || badCom || (options->Has("--time-scale") && !(scale > 0)) ||
      (options->Has("--datainfo") && (!options->word.empty() || !options->Has("--com"))) ||
      (!options->word.empty() && !PositiveNumber(options->word))) {
    err << "vornex: " << (error.empty() ? "bad options" : error) << '\n' << RestoreUsage();
    return 2;
  }
  const StationSettings settings = CommandSettings(*options);
  std::unique_ptr<TStationStore> store = OpenStore(*options, settings, err);
  if (!store) return 2;
  if (options->word.empty() && !options->Has("--datainfo")) {
    return ListOpenBackups(*store, out, err);
  }

  if (options->Has("--time-scale")) pacing::SetTimeScale(scale);
  if (options->Has("--bench")) {
    UseBenchDiscovery(options->Get("--bench"));
  } else {
    UseSystemDiscovery();
  }

  const bool force = options->switches.count("--force") != 0;
  TIdentityBackup backup;
  if (options->Has("--datainfo")) {
    backup.source = kBackupSourceDataInfo;
    backup.sourceFile = options->Get("--datainfo");
    if (!LoadDataInfo(backup.sourceFile, &backup, &error)) {
      err << "vornex: " << error << '\n';
      return 2;
    }
    // Without a serial number nothing proves that the file is of this device (an NV section
    // alone can be another device's).
    if (backup.at.slots[kSlotSn].empty() && !force) {
      err << "vornex: " << backup.sourceFile << " holds no serial number: it is restored only "
          << "with --force and the device named by its port (--com N)\n";
      return 2;
    }
  } else {
    const auto loaded = store->LoadBackup(*PositiveNumber(options->word), &error);
    if (!loaded) {
      err << "vornex: " << error << '\n';
      return 2;
    }
    if (!loaded->open) {
      err << "vornex: backup " << loaded->id << " is closed: its identity was verified on its "
          << "device already\n";
      return 2;
    }
    backup = *loaded;
  }
  std::vector<TIdentityBackup> open;
  if (!force) {
    auto listed = store->OpenBackups(&error);
    if (!listed) {
      err << "vornex: " << error << '\n';
      return 2;
    }
    open = std::move(*listed);
  }
  // An older backup would take the device back behind what its newest backup holds.
  const TIdentityBackup* newer =
      backup.id == 0 ? nullptr
                     : NewestOpenBackupOf(open, backup.deviceKey, backup.at.slots[kSlotSn],
                                          backup.at.slots[kSlotMeid], backup.id);
  if (newer != nullptr) {
    err << "vornex: backup " << backup.id
        << " is not the newest open backup of its device: " << BackupName(*newer)
        << " is newer; restore that one: vornex restore " << newer->id
        << "   (or add --force to restore backup " << backup.id << " all the same)\n";
    return 2;
  }
  return RestoreBackup(*store, std::move(backup), open, *options, settings, out, err);
}

int RunHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string error;
  const auto options =
      ParseOptions(args, {"--since", "--serial", "--key", "--limit", "--data", "--settings"},
                   {"--json", "--csv"}, &error);
  if (!options || !options->word.empty() ||
      (options->Has("--limit") && !PositiveNumber(options->Get("--limit"))) ||
      (options->switches.count("--json") != 0 && options->switches.count("--csv") != 0)) {
    err << "vornex: " << (error.empty() ? "bad options" : error) << '\n' << HistoryUsage();
    return 2;
  }
  std::unique_ptr<TStationStore> store = OpenStore(*options, CommandSettings(*options), err);
  if (!store) return 2;
  THistoryFilter filter;
  filter.since = options->Get("--since");
  filter.serial = Utf8ToAnsi(options->Get("--serial"));
  filter.key = options->Get("--key");
  if (options->Has("--limit"))
    filter.limit = static_cast<int>(*PositiveNumber(options->Get("--limit")));
  const auto jobs = store->History(filter, &error);
  if (!jobs) {
    err << "vornex: " << error << '\n';
    return 2;
  }
  if (options->switches.count("--json") != 0) {
    for (const TJobSummary& job : *jobs) out << JobJson(job) << '\n';
  } else if (options->switches.count("--csv") != 0) {
    out << JobCsvHeader() << '\n';
    for (const TJobSummary& job : *jobs) out << JobCsvRow(job) << '\n';
  } else {
    out << "JOB     STARTED                  KIND     SLOT  KEY       SN                VERDICT"
           "  REASON\n";
    for (const TJobSummary& job : *jobs) {
      out << FormatBounded(
          1023, "%-7lld %-24s %-8s %-5s %-9s %-17s %-8s %s\n", static_cast<long long>(job.id),
          job.startedAt.c_str(), job.kind.c_str(),
          job.slot >= 0 ? std::string(1, static_cast<char>('A' + job.slot)).c_str() : "-",
          job.deviceKey.c_str(), AnsiToUtf8(job.identityBefore.slots[kSlotSn]).c_str(),
          job.pass ? "PASS" : "FAILED", job.failure.c_str());
    }
  }
  return 0;
}

}  // namespace vornex
