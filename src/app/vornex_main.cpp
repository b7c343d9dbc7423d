// The station program: the station window, with --headless the terminal front-end, and the
// record commands "vornex restore" and "vornex history".
#include <iostream>
#include <string>
#include <vector>

#include "console/headless/headless_station.h"
#include "console/records_commands.h"
#ifdef VORNEX_HAVE_GUI
#include "console/qt/vornex_app.h"
#include "console/qt/window_options.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "restore" || args[0] == "history")) {
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "restore" ? vornex::RunRestoreCommand(rest, std::cout, std::cerr)
                                : vornex::RunHistoryCommand(rest, std::cout, std::cerr);
  }
  bool headless = false;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
#ifdef VORNEX_HAVE_GUI
      std::cout << vornex::WindowUsage() << '\n';
#endif
      std::cout << vornex::HeadlessUsage() << '\n'
                << vornex::RestoreUsage() << '\n'
                << vornex::HistoryUsage();
      return 0;
    }
    if (arg == "--headless") headless = true;
  }
  if (!headless) {
#ifdef VORNEX_HAVE_GUI
    return vornex::CVornexApp::Main(argv[0], args, std::cerr);
#else
    std::cerr << "vornex: this build has no station window; run it with --headless\n"
              << vornex::HeadlessUsage();
    return 2;
#endif
  }
  std::string error;
  const auto options = vornex::ParseHeadlessOptions(args, &error);
  if (!options) {
    std::cerr << "vornex: " << error << '\n' << vornex::HeadlessUsage();
    return 2;
  }
  return vornex::RunHeadless(*options, std::cout);
}
