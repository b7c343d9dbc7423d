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

// Puts the backup back on its device and verifies it; records the outcome. Exit status.
int RestoreBackup(TStationStore& store, TIdentityBackup backup, const Options& options,
                  const StationSettings& settings, std::ostream& out) {
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
  if (backup.id == 0) {
    // A DataInfo file is kept in the store first, so that its values are never only in a file
    // and in memory while the device is written.
    backup.deviceKey = summary.deviceKey;
    backup.diagCom = com;
    std::string error;
    backup.id = store.CommitBackup(backup, &error);
    if (backup.id == 0) return finish("the DataInfo file could not be kept: " + error);
    summary.backupId = backup.id;
    out << "DataInfo file kept as backup " << backup.id << ".\n";
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
  const std::string& savedSn = backup.at.slots[kSlotSn];
  if (!savedSn.empty() && options.switches.count("--force") == 0) {
    const std::optional<std::string> sn = keeper.ReadAtValue(kSlotSn);
    if (sn && !sn->empty() && *sn != savedSn) {
      device.ClosePorts();
      return finish("the device answers serial number " + AnsiToUtf8(*sn) + ", the backup is of " +
                    AnsiToUtf8(savedSn) + ": not restored (add --force if this is the device)");
    }
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

  TIdentityBackup backup;
  if (options->Has("--datainfo")) {
    backup.source = kBackupSourceDataInfo;
    backup.sourceFile = options->Get("--datainfo");
    if (!LoadDataInfo(backup.sourceFile, &backup, &error)) {
      err << "vornex: " << error << '\n';
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
  return RestoreBackup(*store, std::move(backup), *options, settings, out);
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
