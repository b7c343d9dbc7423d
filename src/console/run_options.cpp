// Parsing and checking of the station's command line.
#include "console/run_options.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "foundation/text.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

enum class TKind { kFlag, kFolder, kNewFolder, kFile, kNewFile, kNumber };
enum class TOwner { kBoth, kWindow, kHeadless };

struct TOptionRule {
  const char* name;
  TKind kind;
  TOwner owner;
};

constexpr TOptionRule kRules[] = {
    {"--headless", TKind::kFlag, TOwner::kBoth},
    {"--bench", TKind::kFolder, TOwner::kBoth},
    {"--image", TKind::kFolder, TOwner::kBoth},
    {"--settings", TKind::kFile, TOwner::kBoth},
    {"--data", TKind::kNewFolder, TOwner::kBoth},
    {"--time-scale", TKind::kNumber, TOwner::kBoth},
    {"--expect", TKind::kNumber, TOwner::kBoth},
    {"--autostart", TKind::kNumber, TOwner::kBoth},
    {"--wait", TKind::kNumber, TOwner::kBoth},
    {"--json", TKind::kNewFile, TOwner::kHeadless},
    {"--screenshot", TKind::kNewFile, TOwner::kWindow},
    {"--screenshot-at", TKind::kNumber, TOwner::kWindow},
    {"--close-when-done", TKind::kFlag, TOwner::kWindow},
};

const TOptionRule* FindRule(const std::string& name) {
  for (const TOptionRule& rule : kRules) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

bool ParseNumber(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(*value);
}

// Why a path option's value cannot be used; empty when it can.
std::string PathProblem(const std::string& name, TKind kind, const std::string& value) {
  if (value.empty()) return name + " needs a path";
  if (Utf16Length(value) > kMaxPathUnits) {
    return name + ": the path is longer than 259 characters: " + value;
  }
  std::error_code ec;
  const fs::path path(value);
  switch (kind) {
    case TKind::kFolder:
      if (!fs::is_directory(path, ec)) return name + ": no such folder: " + value;
      break;
    case TKind::kFile:
      if (!fs::is_regular_file(path, ec)) return name + ": no such file: " + value;
      break;
    case TKind::kNewFile: {
      const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
      if (!fs::is_directory(parent, ec)) {
        return name + ": no such folder for the file: " + parent.string();
      }
      if (fs::is_directory(path, ec)) return name + ": this is a folder, not a file: " + value;
      break;
    }
    default:
      break;
  }
  return {};
}

// Applies one numeric option; the reason when the value is out of its range.
std::string ApplyNumber(const std::string& name, double number, TRunOptions& options) {
  const bool whole = number == std::floor(number);
  if (name == "--time-scale") {
    if (number <= 0) return "--time-scale takes a number greater than 0";
    options.timeScale = number;
  } else if (name == "--expect" || name == "--autostart") {
    if (!whole || number < 1 || number > 8) {
      return name + " takes a whole number of devices from 1 to 8";
    }
    options.autostart = static_cast<int>(number);
  } else if (name == "--wait") {
    if (number <= 0) return "--wait takes a number of seconds greater than 0";
    options.waitSeconds = number;
  } else if (name == "--screenshot-at") {
    if (!whole || number < 0 || number > 100) {
      return "--screenshot-at takes a whole percentage from 0 to 100";
    }
    options.screenshotPercent = static_cast<int>(number);
  }
  return {};
}

}  // namespace

std::string RunUsage() {
  return "usage: vornex [--bench DIR] [--image DIR] [--settings FILE] [--data DIR]\n"
         "              [--autostart N [--wait S]] [--time-scale S]\n"
         "              [--screenshot FILE.png [--screenshot-at P]] [--close-when-done]\n"
         "       vornex --headless [--bench DIR] [--image DIR] [--settings FILE] [--data DIR]\n"
         "              [--expect N [--wait S]] [--time-scale S] [--json FILE]\n"
         "  Without --headless the station window opens (it needs a display); with it the\n"
         "  station runs one batch in the terminal and its exit status is the number of\n"
         "  devices that FAILED or never started (the table of exit statuses is below).\n"
         "  --bench DIR            simulated devices of this bench registry (default: USB)\n"
         "  --image DIR            image folder (default: as Vornex_730.ini says)\n"
         "  --settings FILE        settings file (default: Vornex_730.ini beside the program)\n"
         "  --data DIR             station records folder (default: DataFolder of the settings,\n"
         "                         else $XDG_STATE_HOME/vornex or ~/.local/state/vornex)\n"
         "  --expect N, --autostart N\n"
         "                         press Start once N devices (1..8) are listed (terminal\n"
         "                         default: the first check that lists any device)\n"
         "  --wait S               give up after S seconds without enough devices\n"
         "  --time-scale S         scale every pause and time limit (default 1)\n"
         "  --json FILE            terminal: append one JSON line per device\n"
         "  --screenshot FILE.png  window: save a picture of the window in the middle of the run\n"
         "  --screenshot-at P      ... once every started slot is at P percent (default 50)\n"
         "  --close-when-done      window: close when every started job has ended; the exit\n"
         "                         status is then that of the terminal\n";
}

std::optional<TRunOptions> ParseRunOptions(const std::vector<std::string>& args,
                                           std::string* error) {
  TRunOptions options;
  for (const std::string& arg : args) {
    if (arg == "--headless") options.frontEnd = TFrontEnd::kHeadless;
  }
  const bool headless = options.frontEnd == TFrontEnd::kHeadless;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    const TOptionRule* rule = FindRule(name);
    if (rule == nullptr) {
      *error = "unknown option: " + name;
      return std::nullopt;
    }
    if (rule->owner == TOwner::kWindow && headless) {
      *error = name + " is an option of the station window, not of --headless";
      return std::nullopt;
    }
    if (rule->owner == TOwner::kHeadless && !headless) {
      *error = name + " is an option of --headless";
      return std::nullopt;
    }
    if (rule->kind == TKind::kFlag) {
      if (name == "--close-when-done") options.closeWhenDone = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      *error = "missing value after " + name;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (rule->kind == TKind::kNumber) {
      double number = 0;
      std::string problem = ParseNumber(value, &number)
                                ? ApplyNumber(name, number, options)
                                : name + " takes a number, not \"" + value + "\"";
      if (!problem.empty()) {
        *error = std::move(problem);
        return std::nullopt;
      }
      continue;
    }
    if (std::string problem = PathProblem(name, rule->kind, value); !problem.empty()) {
      *error = std::move(problem);
      return std::nullopt;
    }
    if (name == "--bench") options.bench = value;
    if (name == "--image") options.imageFolder = value;
    if (name == "--settings") options.settingsPath = value;
    if (name == "--data") options.dataFolder = value;
    if (name == "--json") options.jsonPath = value;
    if (name == "--screenshot") options.screenshotFile = value;
  }
  return options;
}

}  // namespace vornex
