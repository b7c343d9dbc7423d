// The command line of the station window: where the devices are (USB or a bench registry), the
// image folder, the settings file, the time scale, and the options of unattended runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vornex {

struct TWindowOptions {
  std::string bench;        // bench registry folder; empty: real USB devices
  std::string imageFolder;  // image folder; empty: as the settings say
  double timeScale = 1.0;
  std::string settingsPath;    // empty: Vornex_730.ini beside the executable
  std::string dataFolder;      // station records; empty: as the settings say, else the default
  int autostart = 0;           // press Start once this many devices are listed; 0: the operator
  std::string screenshotFile;  // save a PNG of the window in the middle of the run
  int screenshotPercent = 50;  // ... once every started slot has reached this progress
  bool closeWhenDone = false;  // close when every started job has ended; exit status = FAILED
};

// Parses the window's options (without the program name). Nothing and a message when wrong.
std::optional<TWindowOptions> ParseWindowOptions(const std::vector<std::string>& args,
                                                 std::string* error);

// The usage text of the window's options.
std::string WindowUsage();

}  // namespace vornex
