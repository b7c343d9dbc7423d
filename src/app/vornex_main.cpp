// The station program: the station window, with --headless the terminal front-end, and the
// record commands "vornex restore", "vornex history", "vornex report" and "vornex line". Every
// way out ends with a status of the one table in console/exit_status.h.
#include <iostream>
#include <string>
#include <vector>

#include "app/program_start.h"
#include "console/exit_status.h"
#include "console/headless/headless_station.h"
#include "console/line_commands.h"
#include "console/records_commands.h"
#include "console/report_command.h"
#include "console/run_options.h"
#include "console/system_check.h"
#include "console/upkeep_command.h"
#ifdef VORNEX_HAVE_GUI
#include "console/qt/vornex_app.h"
#elif defined(VORNEX_HAVE_WIN32_WINDOW)
#include "console/win32/station_window.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args = vornex::StartProgram(argc, argv);
  if (!args.empty() && (args[0] == "restore" || args[0] == "history")) {
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "restore" ? vornex::RunRestoreCommand(rest, std::cout, std::cerr)
                                : vornex::RunHistoryCommand(rest, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "report") {
    return vornex::RunReportCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "records") {
    return vornex::RunRecordsCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "line") {
    return vornex::RunLineCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "--check-system") {
    return vornex::RunSystemCheckCommand({args.begin() + 1, args.end()}, std::cout, std::cerr);
  }
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << vornex::RunUsage() << '\n'
                << vornex::RestoreUsage() << '\n'
                << vornex::HistoryUsage() << '\n'
                << vornex::ReportUsage() << '\n'
                << vornex::RecordsUsage() << '\n'
                << vornex::LineUsage() << '\n'
                << vornex::SystemCheckUsage() << '\n'
                << vornex::exit_status::kHelp;
      return vornex::exit_status::kOk;
    }
  }
  std::string error;
  const auto options = vornex::ParseRunOptions(args, &error);
  if (!options) {
    std::cerr << "vornex: " << error << "\n(vornex --help lists the options)\n";
    return vornex::exit_status::kUsage;
  }
  if (options->frontEnd == vornex::TFrontEnd::kHeadless) {
    return vornex::RunHeadless(*options, std::cout, std::cerr);
  }
#ifdef VORNEX_HAVE_GUI
  return vornex::CVornexApp::Main(argv[0], *options, std::cerr);
#elif defined(VORNEX_HAVE_WIN32_WINDOW)
  return vornex::RunStationWindow(*options, std::cerr);
#else
  std::cerr << "vornex: this build has no station window; run it with --headless\n";
  return vornex::exit_status::kUnavailable;
#endif
}
