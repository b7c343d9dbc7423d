// "vornex restore": the identity backups still open in the station record store, and the
// restore job (download/restore_job.h) for one of them or for a DataInfo file. The command checks
// its whole command line before it opens anything, refuses a mistake by naming the option and
// its value, and prints what the job says as it goes. The listing opens the records for reading
// only.
#include "console/records_commands.h"

#include <cmath>
#include <limits>

#include "console/line_commands.h"
#include "console/records_options.h"
#include "discovery/port_enumeration.h"
#include "download/data_info.h"
#include "download/identity_backup.h"
#include "download/restore_job.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {

// "vornex restore ID" that did not restore: the backup stays open.
constexpr int kNotRestored = 1;
// COM numbers are kept in 8 bits.
constexpr long long kMostCom = 255;

// A finite number greater than 0 written as a decimal number; nullopt otherwise.
std::optional<double> PositiveDecimal(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || !(value > 0)) return std::nullopt;
  return value;
}

// The store for a command that writes into it (created when it is not there yet).
std::unique_ptr<TStationStore> OpenStore(const char* command, const TOptions& options,
                                         const TStationSettings& settings, std::ostream& err) {
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(options.Get("--data"), settings, &error);
  if (!store) err << "vornex " << command << ": station records unavailable: " << error << '\n';
  return store;
}

// Steps of a recovery on the terminal: progress and failures always, information lines with
// --verbose.
class TTerminalReporter : public TRestoreReporter {
 public:
  TTerminalReporter(std::ostream& out, bool verbose) : out_(out), verbose_(verbose) {}
  void StepReport(std::int32_t value, const std::string& text) override {
    if (text.empty() || (value == kInfoValue && !verbose_)) return;
    out_ << (value == kFailValue ? "FAILED: " : "  ") << text << '\n';
  }
  void Line(const std::string& text) override { out_ << text << '\n'; }

 private:
  static constexpr std::int32_t kInfoValue = -5;
  static constexpr std::int32_t kFailValue = -2;
  std::ostream& out_;
  bool verbose_;
};

int ListOpenBackups(TStationStore& store, const TRestoreOptions& restore, std::ostream& out,
                    std::ostream& err) {
  std::string error;
  const auto backups = store.OpenBackups(&error);
  if (!backups) {
    err << "vornex restore: " << error << '\n';
    return exit_status::kUnavailable;
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
        b.openReason.empty() ? "its job never ended, or its end was not recorded"
                             : b.openReason.c_str());
  }
  out << "Start again finishes each of these devices when it is attached. Restore one with: "
      << RestoreCommand(restore) << "   (add --com N when the device is on another USB socket)\n";
  return exit_status::kOk;
}

// "backup 7 (2024-05-02 10:41:07, key 1-4.2, SN VX1234)".
std::string BackupName(const TIdentityBackup& b) {
  std::string name = "backup " + std::to_string(b.id) + " (" + b.createdAt;
  if (!b.deviceKey.empty()) name += ", key " + b.deviceKey;
  if (!b.at.slots[kSlotSn].empty()) name += ", SN " + AnsiToUtf8(b.at.slots[kSlotSn]);
  if (!b.at.slots[kSlotMeid].empty()) name += ", MEID " + AnsiToUtf8(b.at.slots[kSlotMeid]);
  return name + ")";
}

// Refuses a DataInfo file or a line backup for a device whose own backup is still open here:
// that backup holds what the device had before. The exit status.
int RefuseImportOverOpenBackup(const TIdentityBackup& held, int com, bool fromLine,
                               std::ostream& err) {
  const std::string where = com > 0 ? " --com " + std::to_string(com) : "";
  err << "vornex restore: the device" << (com > 0 ? " on COM" + std::to_string(com) : "")
      << " has the open " << BackupName(held) << ": not written from "
      << (fromLine ? "the line" : "a DataInfo file")
      << "; restore that backup instead: vornex restore " << held.id << where
      << (fromLine ? "\n" : "   (or add --force to write the file all the same)\n");
  return exit_status::kRefused;
}

// Runs the restore job for the backup with the command's options and says how it ended. The
// exit status.
int RestoreBackup(TStationStore& store, TIdentityBackup backup, const TOptions& options,
                  const TStationSettings& settings, std::ostream& out, std::ostream& err) {
  TTerminalReporter reporter(out, options.Switch("--verbose"));
  TRestoreRequest request;
  request.backup = std::move(backup);
  request.com =
      options.Has("--com") ? static_cast<int>(*WholeNumber(options.Get("--com"), kMostCom)) : 0;
  request.force = options.Switch("--force");
  request.verifyIdentity = settings.verifyIdentity;
  const int com = request.com;
  const bool fromLine = request.backup.source == kBackupSourceLine;
  const TRestoreOutcome outcome = RunRestoreJob(store, std::move(request), reporter);
  if (const TRecordsNotKept& notKept = outcome.summary.notKept; notKept.Any()) {
    // Whatever the device holds now, the records do not say it: never a quiet success.
    err << "vornex restore: "
        << (notKept.lost ? "Station records lost: " : "Station records incomplete: ")
        << (notKept.job ? "the restore job" : "") << (notKept.job && notKept.closing ? " and " : "")
        << (notKept.closing ? "the closing of backup " + std::to_string(outcome.summary.backupId)
                            : "")
        << " not kept (" << notKept.why << ")\n";
    return exit_status::kUnavailable;
  }
  switch (outcome.end) {
    case TRestoreEnd::kRestored:
      return exit_status::kOk;
    case TRestoreEnd::kRefusedImport:
      return RefuseImportOverOpenBackup(*outcome.held, com, fromLine, err);
    case TRestoreEnd::kNotShown:
      err << "vornex restore: the line's backup is refused: " << outcome.error
          << ": nothing was written or kept\n";
      return exit_status::kRefused;
    case TRestoreEnd::kRecordsUnreadable:
      err << "vornex restore: " << outcome.error << '\n';
      return exit_status::kUnavailable;
    case TRestoreEnd::kNotRestored:
      break;
  }
  return kNotRestored;
}

}  // namespace

std::string RestoreUsage() {
  return "usage: vornex restore [ID | --datainfo FILE | --serial SN | --meid M] [--com N]\n"
         "                      [--line-backup STATION:ID] [--force] [--verbose]\n"
         "                      [--bench DIR] [--time-scale S] [--data DIR] [--settings FILE]\n"
         "  (no ID)           list the identity backups still open (the records are only read:\n"
         "                    a data folder without them is refused, never created)\n"
         "  ID                put that backup back on its device (found by its USB socket), then\n"
         "                    read it back and close the backup when it is all there; a device\n"
         "                    that does not run the backup's image yet is named\n"
         "  --datainfo FILE   the same from a DataInfo file (needs --com N)\n"
         "  --serial SN       the open backup of the device with this serial number (as on its\n"
         "                    label) on any station of the line: the latest to reach the line of\n"
         "                    one station's equal backups; backups of several stations or with\n"
         "                    differing values are listed and none is chosen. It is kept here\n"
         "                    once the device shows it is its device (same serial number or\n"
         "                    MEID, or answering neither, NV items blank or equal), and the\n"
         "                    restore and its closing are sent to the line before the end\n"
         "  --meid M          the same by the device's MEID\n"
         "  --line-backup STATION:ID\n"
         "                    with --serial or --meid: the line backup of that station (its id\n"
         "                    or name, as listed) with that id\n"
         "  --com N           the device with the port COMn instead (1 to 255)\n"
         "  --force           restore even when the device does not show it is the backup's\n"
         "                    device, a newer backup of the device is open, the device of a\n"
         "                    DataInfo file has an open backup, or the file has no serial number\n"
         "                    (never a backup from the line)\n"
         "  --verbose         show every item written and read back\n"
         "  --bench DIR       simulated devices of this bench registry\n";
}

int RunRestoreCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (AsksForHelp(args)) {
    out << RestoreUsage();
    return exit_status::kOk;
  }
  std::string mistake;
  const auto options = ParseOptions(args,
                                    {"--datainfo", "--serial", "--meid", "--line-backup", "--com",
                                     "--bench", "--time-scale", "--data", "--settings"},
                                    {"--force", "--verbose"}, true, &mistake);
  if (options) {
    const std::string& id = options->word;
    const bool datainfo = options->Has("--datainfo");
    const bool fromLine = options->Has("--serial") || options->Has("--meid");
    if (!id.empty() && !WholeNumber(id, std::numeric_limits<long long>::max())) {
      mistake = id + " is no backup ID (a whole number from 1)";
    } else if (options->Has("--com") && !WholeNumber(options->Get("--com"), kMostCom)) {
      mistake = "--com " + options->Get("--com") + " is no COM number (1 to 255)";
    } else if (options->Has("--time-scale") && !PositiveDecimal(options->Get("--time-scale"))) {
      mistake = "--time-scale " + options->Get("--time-scale") + " is no number greater than 0";
    } else if (fromLine && (datainfo || !id.empty())) {
      mistake = "--serial or --meid takes no backup ID or --datainfo";
    } else if (fromLine && options->Switch("--force")) {
      mistake = "--force does not apply to a backup from the line";
    } else if (options->Has("--line-backup") &&
               (!fromLine || options->Get("--line-backup").find(':') == std::string::npos)) {
      mistake = "--line-backup STATION:ID goes with --serial SN or --meid M";
    } else if (options->Has("--serial") && options->Has("--meid")) {
      mistake = "--serial and --meid exclude each other";
    } else if (fromLine && options->Get(options->Has("--serial") ? "--serial" : "--meid").empty()) {
      mistake = std::string(options->Has("--serial") ? "--serial" : "--meid") + " needs a value";
    } else if (datainfo && !id.empty()) {
      mistake = "--datainfo and a backup ID (" + id + ") exclude each other";
    } else if (datainfo && !options->Has("--com")) {
      mistake = "--datainfo needs --com N, the port of the file's device";
    } else if (!datainfo && !fromLine && id.empty() && options->Has("--com")) {
      mistake = "--com needs a backup ID, --datainfo FILE, --serial SN or --meid M";
    } else {
      mistake = PathMistake(*options);
    }
  }
  if (!mistake.empty()) return RefuseCommandLine("restore", mistake, RestoreUsage(), err);
  // A folder, a FIFO or a device under the DataInfo file's name is refused before anything is
  // opened.
  if (const std::string other = OtherThanFile(options->Get("--datainfo")); !other.empty()) {
    err << "vornex restore: --datainfo " << options->Get("--datainfo") << " is " << other
        << ", not a regular file: only a DataInfo file is restored\n";
    return exit_status::kRefused;
  }

  const TStationSettings settings = CommandSettings(*options);
  const bool fromLine = options->Has("--serial") || options->Has("--meid");
  if (!options->Has("--datainfo") && !fromLine) {
    // The listing only reads the records, and a backup ID names records that are there: neither
    // creates a data folder or a database (a mistyped --data is refused, not made).
    std::unique_ptr<TStationStore> reading =
        OpenStoreForReading("restore", *options, settings, err);
    if (!reading) return exit_status::kUnavailable;
    if (options->word.empty()) {
      return ListOpenBackups(
          *reading, {options->Get("--data"), options->Get("--bench"), options->Get("--settings")},
          out, err);
    }
  }
  std::unique_ptr<TStationStore> store = OpenStore("restore", *options, settings, err);
  if (!store) return exit_status::kUnavailable;

  if (options->Has("--time-scale"))
    pacing::SetTimeScale(*PositiveDecimal(options->Get("--time-scale")));
  if (options->Has("--bench")) {
    UseBenchDiscovery(options->Get("--bench"));
  } else {
    UseSystemDiscovery();
  }

  const bool force = options->Switch("--force");
  std::string error;
  TIdentityBackup backup;
  if (fromLine) {
    int status = 0;
    auto chosen =
        ChooseLineBackup(*store, settings,
                         {Utf8ToAnsi(options->Get("--serial")), Utf8ToAnsi(options->Get("--meid")),
                          options->Get("--line-backup")},
                         err, &status);
    if (!chosen) return status;
    backup = std::move(*chosen);
  } else if (options->Has("--datainfo")) {
    backup.source = kBackupSourceDataInfo;
    backup.sourceFile = options->Get("--datainfo");
    if (!LoadDataInfo(backup.sourceFile, &backup, &error)) {
      err << "vornex restore: " << error << '\n';
      return exit_status::kRefused;
    }
    // Without a serial number nothing proves that the file is of this device (an NV section
    // alone can be another device's).
    if (backup.at.slots[kSlotSn].empty() && !force) {
      err << "vornex restore: " << backup.sourceFile << " holds no serial number: it is restored "
          << "only with --force and the device named by its port (--com N)\n";
      return exit_status::kRefused;
    }
  } else {
    const auto loaded = store->LoadBackup(
        *WholeNumber(options->word, std::numeric_limits<long long>::max()), &error);
    if (!loaded) {
      err << "vornex restore: " << error << '\n';
      return exit_status::kRefused;
    }
    if (!loaded->open) {
      err << "vornex restore: backup " << loaded->id << " is closed: its identity was verified "
          << "on its device already\n";
      return exit_status::kRefused;
    }
    backup = *loaded;
  }
  // An older backup would take the device back behind what its newest backup holds.
  std::optional<TIdentityBackup> newer;
  if (!force && backup.id != 0 &&
      !NewestOpenBackupOf(*store, backup.deviceKey, backup.at.slots[kSlotSn],
                          backup.at.slots[kSlotMeid], &newer, &error)) {
    err << "vornex restore: " << error << '\n';
    return exit_status::kUnavailable;
  }
  if (newer && newer->id > backup.id) {
    err << "vornex restore: backup " << backup.id
        << " is not the newest open backup of its device: " << BackupName(*newer)
        << " is newer; restore that one: vornex restore " << newer->id
        << "   (or add --force to restore backup " << backup.id << " all the same)\n";
    return exit_status::kRefused;
  }
  const int status = RestoreBackup(*store, std::move(backup), *options, settings, out, err);
  // The closing of a line backup is on the line before the command ends, so that no other
  // station restores the same backup again.
  if (fromLine && status == exit_status::kOk) PushRecordsNow(*store, settings, err);
  return status;
}

}  // namespace vornex
