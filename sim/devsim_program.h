// The vornex-devsim program: command line, bench set-up and the run until SIGINT/SIGTERM.
//
//   vornex-devsim --devices N --bench DIR [--time-scale S] [--firmware VERSION]
//                 [--flash-mib N] [--fault SLOT:KIND[=ARG] ...] [--programmer FILE.hex]
//                 [--state FILE] [--swap SLOT[:blank|:download] ...]
//
// Devices are numbered from 0 (device 0 sits on bench socket 0); SLOT is such a number or
// "all". The fault and option kinds are listed by DevsimUsage() (--help). SIGUSR2 carries out
// the swaps: the first puts a new device into each socket named, every later one puts the
// device taken out back in its place (and takes the other out).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

namespace vornex::sim {

struct TDevsimOptions {
  int devices = 0;
  std::string bench;
  double timeScale = 1.0;
  std::string firmware;                       // every device's version; empty = default
  std::uint32_t flashMiB = kDefaultFlashMiB;  // every device's flash
  std::vector<std::string> faults;            // "SLOT:KIND[=ARG]", applied in order
  std::string programmerPath;                 // Intel HEX; empty = any program starts
  std::string statePath;           // empty = state JSON to standard output on SIGUSR1 only
  std::vector<std::string> swaps;  // "SLOT[:blank|:download]", carried out on SIGUSR2
  bool help = false;
};

// The --help text, with every fault kind.
std::string DevsimUsage();

// Parses the arguments (without the program name). False with a reason.
bool ParseDevsimArguments(const std::vector<std::string>& args, TDevsimOptions* options,
                          std::string* error);

// Applies one "SLOT:KIND[=ARG]" to the device settings. False with a reason.
bool ApplyFault(std::string_view fault, std::vector<TDeviceConfig>* devices, std::string* error);

// The bench configuration the options describe (reads the programmer file). False with a reason.
bool MakeBenchConfig(const TDevsimOptions& options, TBenchConfig* config, std::string* error);

// The whole program; returns its exit status (0 after a signal, 1 when the bench cannot start,
// 2 for a bad command line).
int RunDevsim(const std::vector<std::string>& args);

}  // namespace vornex::sim
