// The headless station: the console logic in a terminal. It sends the first device check,
// presses Start once the expected number of devices is listed (or at the first check that
// lists any), shows one live line per slot, and ends when every started job has given its
// account. An interrupt or termination request stops every job at its next safe point; the run
// then ends as soon as they all have.
// Port changes while it waits for devices trigger new checks. The exit status is the number
// of FAILED slots.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vornex {

struct THeadlessOptions {
  std::string bench;         // bench registry folder; empty: real USB devices (sysfs)
  std::string imageFolder;   // image folder; empty: as the settings say
  int expect = 0;            // devices to wait for before Start; 0: the first non-empty check
  double timeScale = 1.0;
  std::string jsonPath;      // one JSON line per device; empty: none
  std::string settingsPath;  // empty: Vornex_730.ini beside the executable
  std::string dataFolder;    // station records; empty: as the settings say, else the default
};

// Parses the command line (without the program name). Nothing and a message when it is wrong.
std::optional<THeadlessOptions> ParseHeadlessOptions(const std::vector<std::string>& args,
                                                     std::string* error);

// The usage text of the headless options.
std::string HeadlessUsage();

// Runs one batch; returns the number of FAILED slots (at most 255), or 255 when the run could
// not start.
int RunHeadless(const THeadlessOptions& options, std::ostream& out);

}  // namespace vornex
