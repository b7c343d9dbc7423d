// Command line and run loop of vornex-devsim.
#include "sim/devsim_program.h"

#include <signal.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>
#include <utility>

#include "foundation/pacing.h"
#include "sim/intel_hex.h"
#include "sim/sim_bench.h"

namespace vornex::sim {
namespace {

enum class TArgument { kNone, kOptional, kRequired };

struct TFaultKind {
  const char* name;
  TArgument argument;
  const char* help;
  // Applies the kind with its argument (empty when none was given); false with a reason.
  std::function<bool(TDeviceConfig&, std::string_view, std::string*)> apply;
};

template <typename Number>
bool ParseNumber(std::string_view text, Number* value) {
  const char* end = text.data() + text.size();
  const auto [rest, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && rest == end && !text.empty();
}

bool Flag(bool TDeviceConfig::*member, TDeviceConfig& config) {
  config.*member = true;
  return true;
}

bool Reason(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

// "ITEM[,ITEM...]": NV item numbers, added to the set; nothing added when one is not a number.
bool ParseItems(std::string_view text, std::set<std::uint16_t>* items) {
  std::set<std::uint16_t> parsed;
  for (;;) {
    const auto comma = text.find(',');
    std::uint16_t item = 0;
    if (!ParseNumber(text.substr(0, comma), &item)) return false;
    parsed.insert(item);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  items->insert(parsed.begin(), parsed.end());
  return true;
}

// "SLOT[:blank|:download]" of --swap: the socket and the device put into it (the default device
// otherwise). False with a reason.
bool ParseSwap(std::string_view text, int devices, const TDeviceConfig& device, int* slot,
               TNewcomer* newcomer, std::string* error) {
  const auto colon = text.find(':');
  const std::string_view kind =
      colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  if (!ParseNumber(text.substr(0, colon), slot) || *slot < 0 || *slot >= devices) {
    return Reason(error, "--swap names no device in " + std::string(text) + " (devices are 0 to " +
                             std::to_string(devices - 1) + ")");
  }
  *newcomer = TNewcomer{device};
  if (kind == "blank") {
    newcomer->blankIdentity = true;
  } else if (kind == "download") {
    newcomer->firmwareErased = true;
  } else if (colon != std::string_view::npos) {
    return Reason(error, "--swap takes SLOT, SLOT:blank or SLOT:download");
  }
  return true;
}

// Every kind a --fault can name, with its help line: the one place that lists them.
const std::vector<TFaultKind>& FaultKinds() {
  static const std::vector<TFaultKind> kKinds = {
      {"silent-diag", TArgument::kNone, "the diagnostic port never answers",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.silentDiag = true;
         return true;
       }},
      {"silent-modem", TArgument::kNone, "the modem port never answers, not even with an echo",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.silentModem = true;
         return true;
       }},
      {"bad-crc", TArgument::kRequired, "=N: the N-th diagnostic reply (1 = first) has a bad CRC",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         if (!ParseNumber(arg, &c.faults.badCrcReply) || c.faults.badCrcReply == 0) {
           return Reason(error, "bad-crc needs a reply number from 1");
         }
         return true;
       }},
      {"refuse-blocks", TArgument::kNone, "the boot downloader refuses every write block (0x03)",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.refuseBlocks = true;
         return true;
       }},
      {"stream-reports", TArgument::kOptional,
       "[=log|error]: stream writes get text reports instead of acknowledges: log (0x0D, data "
       "written; the default) or error (0x0E, data not written)",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         if (arg.empty() || arg == "log") {
           c.faults.streamReplies = TStreamReplies::kLogReport;
         } else if (arg == "error") {
           c.faults.streamReplies = TStreamReplies::kErrorReport;
         } else {
           return Reason(error, "stream-reports takes log or error");
         }
         return true;
       }},
      {"nv-read-fail", TArgument::kNone, "every NV read answers a failure status",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.nvReadsFail = true;
         return true;
       }},
      {"nv-write-fail", TArgument::kRequired,
       "=ITEM[,ITEM...]: NV writes of these items answer a failure status, change nothing",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         if (!ParseItems(arg, &c.faults.nvWriteFailItems)) {
           return Reason(error, "nv-write-fail takes NV item numbers");
         }
         return true;
       }},
      {"nv-stuck", TArgument::kRequired,
       "=ITEM[,ITEM...]: NV writes of these items answer done, the items keep their data",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         if (!ParseItems(arg, &c.faults.nvStuckItems)) {
           return Reason(error, "nv-stuck takes NV item numbers");
         }
         return true;
       }},
      {"at-writes-fail", TArgument::kNone,
       "the identity writes (AT+NEWSN=, AT+NEWMEID=, AT+MDTFLAG=) answer ERROR",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.atWritesFail = true;
         return true;
       }},
      {"at-style", TArgument::kRequired,
       "=plain|cme|unsolicited|cr-only|blank: errors as +CME ERROR: 10, +CREG: 1 or an empty "
       "line after every final result, or CR alone at the end of every line",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         static const std::pair<std::string_view, TAtReplyStyle> kStyles[] = {
             {"plain", TAtReplyStyle::kPlain},
             {"cme", TAtReplyStyle::kCmeErrors},
             {"unsolicited", TAtReplyStyle::kUnsolicitedAfterOk},
             {"cr-only", TAtReplyStyle::kCrOnly},
             {"blank", TAtReplyStyle::kBlankAfterOk}};
         for (const auto& [name, style] : kStyles) {
           if (arg != name) continue;
           c.faults.atReplyStyle = style;
           return true;
         }
         return Reason(error, "at-style takes plain, cme, unsolicited, cr-only or blank");
       }},
      {"at-refuse", TArgument::kRequired,
       "=COMMAND[,COMMAND...]: these AT commands (AT+NEWMEID: reads and writes) answer the "
       "style's error result",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         for (;;) {
           const auto comma = arg.find(',');
           const std::string_view command = arg.substr(0, comma);
           if (command.empty()) return Reason(error, "at-refuse takes AT command names");
           c.faults.atRefused.emplace(command);
           if (comma == std::string_view::npos) return true;
           arg.remove_prefix(comma + 1);
         }
       }},
      {"serial-after-reset", TArgument::kRequired,
       "=TEXT: every reboot after a reset answers this serial number",
       [](TDeviceConfig& c, std::string_view arg, std::string*) {
         c.faults.serialAfterReset = std::string(arg);
         return true;
       }},
      {"close-error-report", TArgument::kNone,
       "the programmer answers its close with an error report (0x0E); nothing is installed",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.errorReportOnClose = true;
         return true;
       }},
      {"reset-error-report", TArgument::kNone,
       "the programmer answers the reset with an error report (0x0E); it does not reboot",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.errorReportOnReset = true;
         return true;
       }},
      {"slow-reboot", TArgument::kOptional,
       "[=MS]: a reset takes MS ms until the device is back (default 17000)",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         c.bootDelayMs = kSlowBootDelayMs;
         if (!arg.empty() && !ParseNumber(arg, &c.bootDelayMs)) {
           return Reason(error, "slow-reboot takes milliseconds");
         }
         return true;
       }},
      {"no-return", TArgument::kNone, "after a reset the device never comes back",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.noReturn = true;
         return true;
       }},
      {"busy", TArgument::kNone, "another opener holds the diagnostic port (exclusive lock)",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.diagBusy = true;
         return true;
       }},
      {"modem-busy", TArgument::kNone, "another opener holds the modem port (exclusive lock)",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.modemBusy = true;
         return true;
       }},
      {"damaged-reset-reply", TArgument::kNone,
       "the programmer's reset acknowledge (0x0C) has a broken CRC; the device reboots",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         c.faults.damagedResetReply = true;
         return true;
       }},
      {"unplug-after", TArgument::kRequired,
       "=BYTES: unplugged for good by the stream write that reaches BYTES of flash data",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         std::uint64_t bytes = 0;
         if (!ParseNumber(arg, &bytes)) return Reason(error, "unplug-after takes a byte count");
         c.faults.unplugAfterBytes = bytes;
         return true;
       }},
      {"firmware", TArgument::kRequired,
       "=VERSION: the device runs this version (a newer one tests the downgrade refusal)",
       [](TDeviceConfig& c, std::string_view arg, std::string*) {
         c.firmwareVersion = std::string(arg);
         return true;
       }},
      {"renumber", TArgument::kNone,
       "new COM numbers whenever the device comes back from a reset or programmer start",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         return Flag(&TDeviceConfig::renumberOnReset, c);
       }},
      {"reenum-download", TArgument::kNone,
       "entering download mode makes the ports vanish; the diagnostic port comes back under "
       "the same COM number",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         return Flag(&TDeviceConfig::reenumerateOnDownloadMode, c);
       }},
      {"reenum-programmer", TArgument::kNone,
       "starting the programmer makes the ports vanish; the diagnostic port comes back",
       [](TDeviceConfig& c, std::string_view, std::string*) {
         return Flag(&TDeviceConfig::reenumerateOnProgrammerStart, c);
       }},
      {"extra-ports", TArgument::kRequired, "=N: 0 to 2 serial ports besides modem and diagnostics",
       [](TDeviceConfig& c, std::string_view arg, std::string* error) {
         if (!ParseNumber(arg, &c.extraPorts) || c.extraPorts < 0 ||
             c.extraPorts > kMaxExtraPorts) {
           return Reason(error, "extra-ports takes 0, 1 or 2");
         }
         return true;
       }},
  };
  return kKinds;
}

}  // namespace

std::string DevsimUsage() {
  std::string text =
      "usage: vornex-devsim --devices N --bench DIR [--time-scale S] [--firmware VERSION]\n"
      "                     [--flash-mib N] [--fault SLOT:KIND[=ARG] ...] [--programmer FILE.hex]\n"
      "                     [--state FILE] [--swap SLOT[:KIND] ...]\n"
      "\n"
      "Simulated devices on pseudo-terminals, announced in the bench registry DIR (one record\n"
      "per port, links in DIR/dev). Runs until SIGINT or SIGTERM, then removes its records.\n"
      "\n"
      "  --devices N          1 to 16 devices, numbered 0 to N-1\n"
      "  --bench DIR          registry folder (created when missing)\n"
      "  --time-scale S       factor on every delay (reboot, re-enumeration); default 1\n"
      "  --firmware VERSION   firmware version of every device\n"
      "  --flash-mib N        flash of every device, 1 to " +
      std::to_string(kMaxFlashMiB) + " MiB; default " + std::to_string(kDefaultFlashMiB) +
      "\n"
      "  --fault SLOT:KIND    fault or option of device SLOT (a number, or all); repeatable\n"
      "  --programmer FILE    Intel HEX programmer that the boot downloaders expect\n"
      "                       (default: any program written to the go address starts)\n"
      "  --state FILE         state JSON written on SIGUSR1 and at exit (default: on SIGUSR1\n"
      "                       to standard output)\n"
      "  --swap SLOT[:KIND]   on the first SIGUSR2 a new device goes into socket SLOT (KIND\n"
      "                       blank: it answers no serial number or MEID; download: its\n"
      "                       firmware is erased, it boots into download mode); every later\n"
      "                       SIGUSR2 swaps the device taken out back in; repeatable\n"
      "\n"
      "Kinds:\n";
  for (const TFaultKind& kind : FaultKinds()) {
    std::string name = kind.name;
    if (kind.argument == TArgument::kRequired) name += "=...";
    if (kind.argument == TArgument::kOptional) name += "[=...]";
    text +=
        "  " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') + kind.help + "\n";
  }
  return text;
}

bool ParseDevsimArguments(const std::vector<std::string>& args, TDevsimOptions* options,
                          std::string* error) {
  TDevsimOptions result;
  bool haveDevices = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool haveValue = false;
    if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      haveValue = true;
    }
    if (name == "--help" || name == "-h") {
      result.help = true;
      continue;
    }
    if (!haveValue) {
      if (i + 1 >= args.size()) return Reason(error, name + " needs a value");
      value = args[++i];
    }
    if (name == "--devices") {
      if (!ParseNumber(value, &result.devices) || result.devices < 1 ||
          result.devices > kMaxDevices) {
        return Reason(error, "--devices takes 1 to " + std::to_string(kMaxDevices));
      }
      haveDevices = true;
    } else if (name == "--bench") {
      result.bench = value;
    } else if (name == "--time-scale") {
      char* end = nullptr;
      result.timeScale = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !std::isfinite(result.timeScale) ||
          result.timeScale <= 0.0) {
        return Reason(error, "--time-scale takes a positive number");
      }
    } else if (name == "--firmware") {
      result.firmware = value;
    } else if (name == "--flash-mib") {
      if (!ParseNumber(value, &result.flashMiB) || result.flashMiB < 1 ||
          result.flashMiB > kMaxFlashMiB) {
        return Reason(error, "--flash-mib takes 1 to " + std::to_string(kMaxFlashMiB));
      }
    } else if (name == "--fault") {
      result.faults.push_back(value);
    } else if (name == "--programmer") {
      result.programmerPath = value;
    } else if (name == "--state") {
      result.statePath = value;
    } else if (name == "--swap") {
      result.swaps.push_back(value);
    } else {
      return Reason(error, "unknown option " + name);
    }
  }
  if (!result.help) {
    if (!haveDevices) return Reason(error, "--devices is required");
    if (result.bench.empty()) return Reason(error, "--bench is required");
    for (const std::string& swap : result.swaps) {
      int slot = 0;
      TNewcomer newcomer;
      if (!ParseSwap(swap, result.devices, {}, &slot, &newcomer, error)) return false;
    }
  }
  *options = std::move(result);
  return true;
}

bool ApplyFault(std::string_view fault, std::vector<TDeviceConfig>* devices, std::string* error) {
  const auto colon = fault.find(':');
  if (colon == std::string_view::npos) return Reason(error, "a fault is SLOT:KIND[=ARG]");
  const std::string_view slot = fault.substr(0, colon);
  std::string_view kindName = fault.substr(colon + 1);
  std::string_view argument;
  bool haveArgument = false;
  if (const auto equals = kindName.find('='); equals != std::string_view::npos) {
    argument = kindName.substr(equals + 1);
    kindName = kindName.substr(0, equals);
    haveArgument = true;
  }

  int first = 0;
  int last = static_cast<int>(devices->size()) - 1;
  if (slot != "all") {
    int number = -1;
    if (!ParseNumber(slot, &number) || number < 0 || number > last) {
      return Reason(error, "no device " + std::string(slot) + " (devices are 0 to " +
                               std::to_string(last) + ", or all)");
    }
    first = last = number;
  }
  for (const TFaultKind& kind : FaultKinds()) {
    if (kindName != kind.name) continue;
    if (kind.argument == TArgument::kNone && haveArgument) {
      return Reason(error, std::string(kind.name) + " takes no argument");
    }
    if (kind.argument == TArgument::kRequired && (!haveArgument || argument.empty())) {
      return Reason(error, std::string(kind.name) + " needs =ARG");
    }
    for (int i = first; i <= last; ++i) {
      if (!kind.apply((*devices)[static_cast<std::size_t>(i)], argument, error)) return false;
    }
    return true;
  }
  return Reason(error, "unknown fault kind " + std::string(kindName) + " (see --help)");
}

bool MakeBenchConfig(const TDevsimOptions& options, TBenchConfig* config, std::string* error) {
  TBenchConfig result;
  result.folder = options.bench;
  TDeviceConfig device;
  device.firmwareVersion = options.firmware;
  device.flashMiB = options.flashMiB;
  result.devices.assign(static_cast<std::size_t>(options.devices), device);
  for (const std::string& fault : options.faults) {
    if (!ApplyFault(fault, &result.devices, error)) return false;
  }
  if (!options.programmerPath.empty()) {
    THexImage image;
    if (!ReadIntelHexFile(options.programmerPath, &image, error)) return false;
    result.programmer = TProgrammerImage{std::move(image.data), image.startAddress};
  }
  *config = std::move(result);
  return true;
}

int RunDevsim(const std::vector<std::string>& args) {
  TDevsimOptions options;
  std::string error;
  if (!ParseDevsimArguments(args, &options, &error)) {
    std::fprintf(stderr, "vornex-devsim: %s\n\n%s", error.c_str(), DevsimUsage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(DevsimUsage().c_str(), stdout);
    return 0;
  }
  TBenchConfig config;
  if (!MakeBenchConfig(options, &config, &error)) {
    std::fprintf(stderr, "vornex-devsim: %s\n", error.c_str());
    return 2;
  }
  pacing::SetTimeScale(options.timeScale);

  // The signals are taken by sigwait below; blocked before the I/O thread starts, so that
  // thread inherits the mask and never runs a handler.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A closed standard output must not end the bench before it has removed its records.
  ::signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<TSimBench> bench = TSimBench::Create(std::move(config), &error);
  if (!bench) {
    std::fprintf(stderr, "vornex-devsim: %s\n", error.c_str());
    return 1;
  }
  for (const TDeviceReport& report : bench->Reports()) {
    std::printf("device %d key %s diag COM%d modem COM%d\n", report.index, report.key.c_str(),
                report.diagCom, report.modemCom);
  }
  std::printf("bench ready: %d devices in %s\n", bench->DeviceCount(), bench->Folder().c_str());
  std::fflush(stdout);

  auto writeState = [&] {
    if (options.statePath.empty()) {
      std::fputs(bench->StateJson().c_str(), stdout);
      std::fflush(stdout);
    } else if (!bench->WriteState(options.statePath, &error)) {
      std::fprintf(stderr, "vornex-devsim: %s\n", error.c_str());
    }
  };
  // The first SIGUSR2 brings the newcomers, every later one swaps back what was taken out.
  TDeviceConfig newcomerConfig;
  newcomerConfig.firmwareVersion = options.firmware;
  newcomerConfig.flashMiB = options.flashMiB;
  bool swapped = false;
  auto swapSockets = [&] {
    for (const std::string& swap : options.swaps) {
      int slot = 0;
      TNewcomer newcomer;
      // Checked with the other options already.
      ParseSwap(swap, bench->DeviceCount(), newcomerConfig, &slot, &newcomer, nullptr);
      if (!bench->Swap(slot, swapped ? std::nullopt : std::optional(newcomer), &error)) {
        std::fprintf(stderr, "vornex-devsim: socket %d: %s\n", slot, error.c_str());
        continue;
      }
      // Its identity is in the state file (made printable there).
      std::printf("socket %d: %s, %s\n", slot, swapped ? "device taken out put back" : "new device",
                  bench->Report(slot).layer.c_str());
    }
    swapped = true;
    std::fflush(stdout);
  };
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGUSR2) {
      swapSockets();
    } else if (signal == SIGUSR1) {
      writeState();
    } else {
      break;
    }
  }
  if (!options.statePath.empty()) writeState();
  for (const std::string& problem : bench->Problems()) {
    std::fprintf(stderr, "vornex-devsim: %s\n", problem.c_str());
  }
  bench.reset();
  return 0;
}

}  // namespace vornex::sim
