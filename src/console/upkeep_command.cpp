// "vornex records check" reads every page of the records (for reading only); "vornex records
// compact" runs the station's upkeep to its end and rewrites the file without free space.
#include "console/upkeep_command.h"

#include <cstdint>
#include <string>

#include "console/records_options.h"
#include "console/station_records.h"
#include "foundation/text.h"

namespace vornex {
namespace {

// Backups one upkeep step touches here: nobody waits on the command.
constexpr int kCommandUpkeepBackups = 512;

// A size on disk for the operator: "1.2 MiB", "72.0 KiB", "512 bytes".
std::string SizeText(std::uint64_t bytes) {
  const auto value = static_cast<double>(bytes);
  if (bytes >= 1024 * 1024) return FormatBounded(32, "%.1f MiB", value / (1024.0 * 1024.0));
  if (bytes >= 1024) return FormatBounded(32, "%.1f KiB", value / 1024.0);
  return std::to_string(bytes) + " bytes";
}

int Check(const TOptions& options, std::ostream& out, std::ostream& err) {
  std::unique_ptr<TStationStore> store =
      OpenStoreForReading("records check", options, CommandSettings(options), err);
  if (!store) return exit_status::kUnavailable;
  std::string error;
  if (!store->CheckWhole(&error)) {
    err << "vornex records check: " << error << '\n';
    return exit_status::kUnavailable;
  }
  out << "Station records " << store->Path() << " are sound.\n";
  return exit_status::kOk;
}

int Compact(const TOptions& options, std::ostream& out, std::ostream& err) {
  const TStationSettings settings = CommandSettings(options);
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(options.Get("--data"), settings, &error);
  if (!store) {
    err << "vornex records compact: " << error << '\n';
    return exit_status::kUnavailable;
  }
  const std::uint64_t before = store->DiskBytes();
  TUpkeepRules rules;
  rules.keepValuesDays = settings.keepBackupValuesDays;
  rules.waitForLine = !settings.lineConnection.empty();
  TUpkeepStep total;
  for (bool more = true; more;) {
    const auto step = store->Upkeep(rules, kCommandUpkeepBackups, &error);
    if (!step) {
      err << "vornex records compact: " << error << '\n';
      return exit_status::kUnavailable;
    }
    total.packed += step->packed;
    total.dropped += step->dropped;
    more = step->more;
  }
  if (!store->Vacuum(&error)) {
    err << "vornex records compact: " << error << '\n';
    return exit_status::kUnavailable;
  }
  out << FormatBounded(511,
                       "Station records %s: %d closed backups packed, the values of %d dropped "
                       "(kept %d days); %s before, %s now.\n",
                       store->Path().c_str(), total.packed, total.dropped, rules.keepValuesDays,
                       SizeText(before).c_str(), SizeText(store->DiskBytes()).c_str());
  return exit_status::kOk;
}

}  // namespace

std::string RecordsUsage() {
  return "usage: vornex records check [--data DIR] [--settings FILE]\n"
         "       vornex records compact [--data DIR] [--settings FILE]\n"
         "  check    reads the whole file of the station records and checks it (the station\n"
         "           does so at its start only when it was not closed cleanly); only reads\n"
         "  compact  keeps the records small now, as the station does between batches: closed\n"
         "           backups keep their NV records packed, and lose their values\n"
         "           KeepBackupValuesDays after their restore (with a line, never before the\n"
         "           line has them; the job history is kept); then rewrites the file without\n"
         "           free space. Run it while the station is closed.\n";
}

int RunRecordsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (AsksForHelp(args)) {
    out << RecordsUsage();
    return exit_status::kOk;
  }
  const std::string action = args.empty() ? std::string() : args.front();
  if (action != "check" && action != "compact") {
    return RefuseCommandLine("records", "say check or compact", RecordsUsage(), err);
  }
  std::string mistake;
  const auto options =
      ParseOptions({args.begin() + 1, args.end()}, {"--data", "--settings"}, {}, false, &mistake);
  if (options) mistake = PathMistake(*options);
  if (!mistake.empty()) return RefuseCommandLine("records", mistake, RecordsUsage(), err);
  return action == "check" ? Check(*options, out, err) : Compact(*options, out, err);
}

}  // namespace vornex
