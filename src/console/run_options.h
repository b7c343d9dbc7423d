// The station's command line, one parser and one set of rules for both front-ends: the window
// (the default) and the terminal (--headless). Options that only one front-end has are refused
// by the other with a word on where they belong. Paths are checked here: a folder or file that
// does not exist, or a path longer than the 259 characters the station's records hold, is
// refused with its reason rather than taken and cut.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vornex {

enum class TFrontEnd { kWindow, kHeadless };

struct TRunOptions {
  TFrontEnd frontEnd = TFrontEnd::kWindow;
  std::string bench;         // bench registry folder; empty: real USB devices
  std::string imageFolder;   // image folder; empty: as the settings say
  std::string settingsPath;  // empty: Vornex_730.ini beside the executable
  std::string dataFolder;    // station records; empty: as the settings say, else the default
  double timeScale = 1.0;
  // Press Start once this many devices are listed (--expect or --autostart, 1..8); 0: the
  // operator presses it in the window, the first check that lists any device in the terminal.
  int autostart = 0;
  double waitSeconds = 0;  // give up when the devices are not there after this long; 0: never
  // The terminal only.
  std::string jsonPath;  // one JSON line per device; empty: none
  // The window only.
  std::string screenshotFile;  // save a PNG of the window in the middle of the run
  int screenshotPercent = 50;  // ... once every started slot has reached this progress
  // Close when every started job has ended; the exit status is then that of a terminal run.
  bool closeWhenDone = false;
};

// Parses the command line (without the program name); nothing and the reason when it is wrong.
std::optional<TRunOptions> ParseRunOptions(const std::vector<std::string>& args,
                                           std::string* error);

// The usage text of both front-ends.
std::string RunUsage();

}  // namespace vornex
