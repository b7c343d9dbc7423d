// "vornex restore" and "vornex history": the station record store for the operator. Each
// command checks its whole command line before it opens anything, and refuses a mistake by
// naming the option and its value. A listing opens the records for reading only.
#include "console/records_commands.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "console/exit_status.h"
#include "console/job_report.h"
#include "console/station_records.h"
#include "discovery/port_enumeration.h"
#include "download/download_limits.h"
#include "download/identity_backup.h"
#include "download/reset_rediscovery.h"
#include "foundation/local_time.h"
#include "foundation/pacing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "messaging/image_set.h"
#include "protocols/connection_flags.h"
#include "protocols/usb_device.h"

namespace vornex {
namespace {

// The device object of a recovery logs into "ROrUdi_201.txt" (when that file exists).
constexpr std::int32_t kRecoveryDeviceNumber = 201;
// The firmware version, as the download job reads it.
constexpr const char* kVersionCommand = "AT+MDVER";
// "vornex restore ID" that did not restore: the backup stays open.
constexpr int kNotRestored = 1;
// COM numbers are kept in 8 bits.
constexpr long long kMostCom = 255;

// Options of one command: "--name value" pairs, "--name" switches and at most one plain word.
struct Options {
  std::map<std::string, std::string> values;
  std::set<std::string> switches;
  std::string word;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  bool Switch(const std::string& name) const { return switches.count(name) != 0; }
  std::string Get(const std::string& name) const {
    const auto it = values.find(name);
    return it != values.end() ? it->second : std::string();
  }
};

// Nullopt with the mistake in *error: an unknown option, one given twice, one without its
// value, or a plain word the command does not take (`takesWord`: at most one).
std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    const std::set<std::string>& withValue,
                                    const std::set<std::string>& switches, bool takesWord,
                                    std::string* error) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (withValue.count(arg) != 0) {
      if (i + 1 >= args.size()) {
        *error = "missing value after " + arg;
        return std::nullopt;
      }
      if (options.Has(arg)) {
        *error = arg + " is given twice";
        return std::nullopt;
      }
      options.values[arg] = args[++i];
    } else if (switches.count(arg) != 0) {
      options.switches.insert(arg);
    } else if (arg.starts_with("-") && arg.size() > 1) {
      *error = "unknown option: " + arg;
      return std::nullopt;
    } else if (!takesWord || !options.word.empty()) {
      *error = "unexpected word: " + arg;
      return std::nullopt;
    } else {
      options.word = arg;
    }
  }
  return options;
}

// A whole number from 1 to `most` written in digits only; nullopt otherwise.
std::optional<long long> WholeNumber(const std::string& text, long long most) {
  if (text.empty() || text.size() > 18 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value < 1 || value > most) return std::nullopt;
  return value;
}

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

// True for a real local time "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss": a month 1 to 12, a day the
// month has (29 February only in leap years), hours 00 to 23, minutes and seconds 00 to 59.
bool IsDate(const std::string& text) {
  constexpr std::string_view kForm = "dddd-dd-dd dd:dd:dd";
  if (text.size() != 10 && text.size() != kForm.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  const auto number = [&text](std::size_t at, std::size_t length) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(number(0, 4))},
                                         std::chrono::month{number(5, 2)},
                                         std::chrono::day{number(8, 2)}};
  if (!date.ok()) return false;
  return text.size() == 10 || (number(11, 2) <= 23 && number(14, 2) <= 59 && number(17, 2) <= 59);
}

// The first path option whose value cannot be used, as the mistake; empty when none.
std::string PathMistake(const Options& options) {
  std::error_code ec;
  for (const auto& [name, value] : options.values) {
    const bool file = name == "--settings" || name == "--datainfo";
    const bool folder = name == "--bench" || name == "--data";
    if (!file && !folder) continue;
    if (value.empty()) return name + " needs a path";
    if (Utf16Length(value) > kMaxPathUnits) {
      return name + ": the path is longer than 259 characters: " + value;
    }
    if (file && !std::filesystem::is_regular_file(paths::FsPath(value), ec)) {
      return name + ": no such file: " + value;
    }
    // A missing --data folder is the records' to refuse: it is not a mistake for every use.
    if (name == "--bench" && !std::filesystem::is_directory(paths::FsPath(value), ec)) {
      return name + ": no such folder: " + value;
    }
  }
  return {};
}

// Says the mistake on the command line and the usage; the exit status.
int RefuseCommandLine(const char* command, const std::string& mistake, const std::string& usage,
                      std::ostream& err) {
  err << "vornex " << command << ": " << mistake << '\n' << usage;
  return exit_status::kUsage;
}

StationSettings CommandSettings(const Options& options) {
  return LoadSettings(options.Has("--settings") ? options.Get("--settings") : SettingsPath());
}

// The store for a command that writes into it (created when it is not there yet).
std::unique_ptr<TStationStore> OpenStore(const char* command, const Options& options,
                                         const StationSettings& settings, std::ostream& err) {
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(options.Get("--data"), settings, &error);
  if (!store) err << "vornex " << command << ": station records unavailable: " << error << '\n';
  return store;
}

// The store for a command that only reads it: nothing is created for it.
std::unique_ptr<TStationStore> OpenStoreForReading(const char* command, const Options& options,
                                                   const StationSettings& settings,
                                                   std::ostream& err) {
  std::string error;
  std::unique_ptr<TStationStore> store =
      OpenStationStoreForReading(options.Get("--data"), settings, &error);
  if (!store) err << "vornex " << command << ": " << error << '\n';
  return store;
}

// "COM5 (diagnostics), COM6 (modem)": the device's ports, with the role of those that have one.
std::string PortsText(const TUsbGroup& group) {
  const std::int32_t diag = DiagCom(group);
  std::string text;
  for (int i = 0; i < group.portCount && i < kMaxGroupPorts; ++i) {
    const TPortInfo& port = group.ports[static_cast<std::size_t>(i)];
    if (!text.empty()) text += ", ";
    text += FormatBounded(16, "COM%d", static_cast<int>(port.com));
    if (port.portClass == kPortClassModem) {
      text += " (modem)";
    } else if (diag != 0 && port.com == diag) {
      text += " (diagnostics)";
    }
  }
  return text;
}

// What the restore wrote back, in one line: "  restored 812 NV items and the AT values".
std::string RestoredText(const TIdentityBackup& backup, const TRestoreResult& result) {
  std::string what;
  if ((backup.itemSwitches & kItemNv) != 0) {
    const int count = static_cast<int>(backup.nv.size());
    what = result.nvWriteFailures == 0
               ? FormatBounded(64, "%d NV items", count)
               : FormatBounded(64, "%d of %d NV items", count - result.nvWriteFailures, count);
  }
  if ((backup.itemSwitches & kItemAt) != 0) {
    what += what.empty() ? "the AT values" : " and the AT values";
    if (result.atWriteFailures != 0) {
      what += FormatBounded(64, " (%d not written)", result.atWriteFailures);
    }
  }
  if (what.empty()) return "  restored nothing: the backup keeps neither NV items nor AT values";
  return "  restored " + what;
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
        b.openReason.empty() ? "its job never ended (station stopped)" : b.openReason.c_str());
  }
  out << "Start again finishes each of these devices when it is attached. Restore one with: "
      << RestoreCommand(restore) << "   (add --com N when the device is on another USB socket)\n";
  return exit_status::kOk;
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

// The newest open backup in the store that may be of the device with this key, serial number
// or MEID (an empty value matches nothing); none when there is none. False with *error when the
// records cannot be read.
bool NewestOpenBackupOf(TStationStore& store, const std::string& key, const std::string& sn,
                        const std::string& meid, std::optional<TIdentityBackup>* newest,
                        std::string* error) {
  auto found = store.OpenBackupsMatching(key, sn, meid, error);
  if (!found) return false;
  newest->reset();
  if (!found->empty()) *newest = std::move(found->front());
  return true;
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
// file, holds what the device had before. The exit status.
int RefuseImportOverOpenBackup(const TIdentityBackup& held, int com, std::ostream& err) {
  err << "vornex restore: the device on COM" << com << " has the open " << BackupName(held)
      << ": not written from a DataInfo file; restore that backup instead: vornex restore "
      << held.id << " --com " << com << "   (or add --force to write the file all the same)\n";
  return exit_status::kRefused;
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
// id comes from a DataInfo file: it is refused for a device that has an open backup in the
// store and kept in the store before the device is written. Each
// step's result is said in one line; a device that does not run the backup's image afterwards
// (stopped before its image was complete and reset back into its old firmware) is named as one
// that still needs it. The exit status.
int RestoreBackup(TStationStore& store, TIdentityBackup backup, const Options& options,
                  const StationSettings& settings, std::ostream& out, std::ostream& err) {
  const bool force = options.Switch("--force");
  const bool import = backup.id == 0;
  TerminalReporter reporter(out, options.Switch("--verbose"));
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
      if (backup.id == 0) return kNotRestored;
      store.SetOpenReason(backup.id, "restore failed: " + failure, &error);
      out << "Backup " << backup.id << " stays open.\n";
      return kNotRestored;
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
    return exit_status::kOk;
  };

  const int com =
      options.Has("--com") ? static_cast<int>(*WholeNumber(options.Get("--com"), kMostCom)) : 0;
  TUsbDevice device(kRecoveryDeviceNumber);
  std::optional<TUsbGroup> group = FindDevice(device, backup.deviceKey, com);
  if (!group) {
    return finish(com > 0 ? FormatBounded(511, "no device has the port COM%d", com)
                          : "device " + backup.deviceKey +
                                " is not attached (plug it into the same USB socket, or name "
                                "its port with --com N)");
  }
  summary.deviceKey = group->key.str();
  out << "Device " << (summary.deviceKey.empty() ? "" : summary.deviceKey + " ")
      << "found: " << PortsText(*group) << '\n';
  std::optional<TIdentityBackup> held;
  std::string error;
  if (import && !force) {
    if (!NewestOpenBackupOf(store, summary.deviceKey, "", "", &held, &error)) {
      err << "vornex restore: " << error << '\n';
      return exit_status::kUnavailable;
    }
    if (held) return RefuseImportOverOpenBackup(*held, com, err);
  }
  std::uint8_t flags = device.ConnectUSB(*group, kConnectOpenMs);
  summary.Step(TJobStep::kConnect) = flags != 0 ? TStepOutcome::kOk : TStepOutcome::kFailed;
  if ((flags & kFlagDownloadAnswered) != 0) {
    // Stopped in download mode or in its programmer: back into its firmware first.
    out << "  the device is in download mode: resetting it\n";
    const TResetOutcome reset = ResetAndReopen(device, *group, reporter);
    flags = reset.flags;
    summary.Step(TJobStep::kReset) = reset.found ? TStepOutcome::kOk : TStepOutcome::kFailed;
    if (reset.found) out << "  reset back from download mode: " << PortsText(*group) << '\n';
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
      const bool read =
          NewestOpenBackupOf(store, "", sn.value_or(""), meid.value_or(""), &held, &error);
      if (!read || held) device.ClosePorts();
      if (!read) {
        err << "vornex restore: " << error << '\n';
        return exit_status::kUnavailable;
      }
      if (held) return RefuseImportOverOpenBackup(*held, com, err);
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
  out << RestoredText(backup, result) << '\n';
  if (!result.verified) {
    out << "  not read back (VerifyIdentity=OFF)\n";
  } else if (result.ok) {
    out << "  read back equal\n";
  } else {
    out << FormatBounded(128, "  read back: %d AT, %d NV items differ\n", result.atDiffer,
                         result.nvDiffer);
  }
  // A device stopped before its image was complete was reset back into its old firmware: its
  // identity is back, its image is still to come.
  std::string stillToFlash;
  if (result.ok && !backup.imageTag.empty()) {
    char reply[kAtReplyBytes] = {};
    const std::string tag = AnsiToUtf8(backup.imageTag);
    if (device.ModemPort() == nullptr ||
        device.SendAtCommand(reply, kVersionCommand, sizeof reply) == 0) {
      out << "  firmware version not read (no answer to " << kVersionCommand << ")\n";
      stillToFlash = "The device did not tell its firmware version: check that it runs " + tag +
                     ", else press Start with that image to finish it (its identity is restored).";
    } else if (!EqualsNoCase(reply, backup.imageTag)) {
      summary.versionAfter = reply;
      out << "  runs " << AnsiToUtf8(reply) << ", not the backup's image " << tag << '\n';
      stillToFlash = "The device still runs " + AnsiToUtf8(reply) + ", not " + tag +
                     ": press Start with that image to finish it (its identity is restored).";
    } else {
      summary.versionAfter = reply;
      out << "  runs " << tag << ", the backup's image\n";
    }
  }
  SwitchDiagOff(device, *group, reporter);
  const int status = finish(result.ok ? std::string() : result.failure);
  if (status == exit_status::kOk && !stillToFlash.empty()) out << stillToFlash << '\n';
  return status;
}

}  // namespace

std::string RestoreUsage() {
  return "usage: vornex restore [ID | --datainfo FILE] [--com N] [--force] [--verbose]\n"
         "                      [--bench DIR] [--time-scale S] [--data DIR] [--settings FILE]\n"
         "  (no ID)           list the identity backups still open (the records are only read:\n"
         "                    a data folder without them is refused, never created)\n"
         "  ID                put that backup back on its device (found by its USB socket), then\n"
         "                    read it back and close the backup when it is all there; a device\n"
         "                    that does not run the backup's image yet is named\n"
         "  --datainfo FILE   the same from a DataInfo file (needs --com N)\n"
         "  --com N           the device with the port COMn instead (1 to 255)\n"
         "  --force           restore even when the device answers another serial number\n"
         "                    (or MEID), a newer backup of the device is open, the device of a\n"
         "                    DataInfo file has an open backup, or the file has no serial number\n"
         "  --verbose         show every item written and read back\n"
         "  --bench DIR       simulated devices of this bench registry\n";
}

std::string HistoryUsage() {
  return "usage: vornex history [--json | --csv] [--since DATE] [--serial SN] [--key KEY]\n"
         "                      [--limit N] [--data DIR] [--settings FILE]\n"
         "  past jobs, newest first; DATE is YYYY-MM-DD or YYYY-MM-DD hh:mm:ss; N from 1; the\n"
         "  records are only read (a data folder without them is refused, never created)\n";
}

int RunRestoreCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      out << RestoreUsage();
      return exit_status::kOk;
    }
  }
  std::string mistake;
  const auto options =
      ParseOptions(args, {"--datainfo", "--com", "--bench", "--time-scale", "--data", "--settings"},
                   {"--force", "--verbose"}, true, &mistake);
  if (options) {
    const std::string& id = options->word;
    const bool datainfo = options->Has("--datainfo");
    if (!id.empty() && !WholeNumber(id, std::numeric_limits<long long>::max())) {
      mistake = id + " is no backup ID (a whole number from 1)";
    } else if (options->Has("--com") && !WholeNumber(options->Get("--com"), kMostCom)) {
      mistake = "--com " + options->Get("--com") + " is no COM number (1 to 255)";
    } else if (options->Has("--time-scale") && !PositiveDecimal(options->Get("--time-scale"))) {
      mistake = "--time-scale " + options->Get("--time-scale") + " is no number greater than 0";
    } else if (datainfo && !id.empty()) {
      mistake = "--datainfo and a backup ID (" + id + ") exclude each other";
    } else if (datainfo && !options->Has("--com")) {
      mistake = "--datainfo needs --com N, the port of the file's device";
    } else if (!datainfo && id.empty() && options->Has("--com")) {
      mistake = "--com needs a backup ID or --datainfo FILE";
    } else {
      mistake = PathMistake(*options);
    }
  }
  if (!mistake.empty()) return RefuseCommandLine("restore", mistake, RestoreUsage(), err);

  const StationSettings settings = CommandSettings(*options);
  if (!options->Has("--datainfo")) {
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
  if (options->Has("--datainfo")) {
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
  return RestoreBackup(*store, std::move(backup), *options, settings, out, err);
}

int RunHistoryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      out << HistoryUsage();
      return exit_status::kOk;
    }
  }
  std::string mistake;
  const auto options =
      ParseOptions(args, {"--since", "--serial", "--key", "--limit", "--data", "--settings"},
                   {"--json", "--csv"}, false, &mistake);
  if (options) {
    if (options->Switch("--json") && options->Switch("--csv")) {
      mistake = "--json and --csv exclude each other";
    } else if (options->Has("--limit") &&
               !WholeNumber(options->Get("--limit"), std::numeric_limits<int>::max())) {
      mistake = "--limit " + options->Get("--limit") + " is no whole number from 1";
    } else if (options->Has("--since") && !IsDate(options->Get("--since"))) {
      mistake =
          "--since " + options->Get("--since") + " is no date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)";
    } else {
      mistake = PathMistake(*options);
    }
  }
  if (!mistake.empty()) return RefuseCommandLine("history", mistake, HistoryUsage(), err);

  std::unique_ptr<TStationStore> store =
      OpenStoreForReading("history", *options, CommandSettings(*options), err);
  if (!store) return exit_status::kUnavailable;
  THistoryFilter filter;
  filter.since = options->Get("--since");
  filter.serial = Utf8ToAnsi(options->Get("--serial"));
  filter.key = options->Get("--key");
  if (options->Has("--limit")) {
    filter.limit =
        static_cast<int>(*WholeNumber(options->Get("--limit"), std::numeric_limits<int>::max()));
  }
  std::string error;
  const auto jobs = store->History(filter, &error);
  if (!jobs) {
    err << "vornex history: " << error << '\n';
    return exit_status::kUnavailable;
  }
  if (options->Switch("--json")) {
    for (const TJobSummary& job : *jobs) out << JobJson(job) << '\n';
  } else if (options->Switch("--csv")) {
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
  return exit_status::kOk;
}

}  // namespace vornex
