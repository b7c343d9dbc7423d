// Parsing of the station window's command line.
#include "console/qt/window_options.h"

#include <cstdlib>

namespace vornex {
namespace {

bool ParseNumber(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && end != text.c_str() && *end == '\0';
}

}  // namespace

std::string WindowUsage() {
  return "usage: vornex [--bench DIR] [--image DIR] [--time-scale S] [--settings FILE]\n"
         "              [--data DIR] [--autostart N] [--screenshot FILE.png [--screenshot-at PERCENT]]\n"
         "              [--close-when-done]\n"
         "  opens the station window (needs a display)\n"
         "  --bench DIR            simulated devices in this bench registry (default: USB)\n"
         "  --image DIR            image folder (default: as Vornex_730.ini says)\n"
         "  --time-scale S         scale every pause and time limit (default 1)\n"
         "  --settings FILE        settings file (default: Vornex_730.ini beside the program)\n"
         "  --data DIR             station records folder (default: DataFolder of the settings,\n"
         "                         else $XDG_STATE_HOME/vornex or ~/.local/state/vornex)\n"
         "  --autostart N          press Start once N devices are listed\n"
         "  --screenshot FILE.png  save a picture of the window in the middle of the run\n"
         "  --screenshot-at P      ... once every started slot is at P percent (default 50)\n"
         "  --close-when-done      close the window when every started job has ended;\n"
         "                         the exit status is then the number of FAILED devices\n";
}

std::optional<TWindowOptions> ParseWindowOptions(const std::vector<std::string>& args,
                                                 std::string* error) {
  TWindowOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--close-when-done") {
      options.closeWhenDone = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = "missing value after " + arg;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    double number = 0;
    if (arg == "--bench" && !value.empty()) {
      options.bench = value;
    } else if (arg == "--image" && !value.empty()) {
      options.imageFolder = value;
    } else if (arg == "--settings" && !value.empty()) {
      options.settingsPath = value;
    } else if (arg == "--data" && !value.empty()) {
      options.dataFolder = value;
    } else if (arg == "--screenshot" && !value.empty()) {
      options.screenshotFile = value;
    } else if (arg == "--time-scale" && ParseNumber(value, &number) && number > 0) {
      options.timeScale = number;
    } else if (arg == "--autostart" && ParseNumber(value, &number) && number >= 1 && number <= 8 &&
               number == static_cast<int>(number)) {
      options.autostart = static_cast<int>(number);
    } else if (arg == "--screenshot-at" && ParseNumber(value, &number) && number >= 0 &&
               number <= 100) {
      options.screenshotPercent = static_cast<int>(number);
    } else {
      *error = "bad option: " + arg + " " + value;
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace vornex
