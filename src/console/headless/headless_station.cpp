// The headless station's main loop: confirmations from the coordinator and workers are queued
// by the notification target and handled on this thread, one at a time, like window messages.
#include "console/headless/headless_station.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "console/headless/run_record.h"
#include "console/headless/terminal_view.h"
#include "console/confirmation_queue.h"
#include "console/presenter.h"
#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"

namespace vornex {
namespace {

constexpr std::uint32_t kWatchTickMs = 250;

// The names of the bench registry's port files: a change means ports came or went.
std::set<std::string> RegistryListing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.ends_with(bench::kPortFileSuffix)) names.insert(name);
  }
  return names;
}

bool ParseNumber(const std::string& text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
}

}  // namespace

std::string HeadlessUsage() {
  return "usage: vornex --headless [--bench DIR] [--image DIR] [--expect N] [--time-scale S]\n"
         "                        [--json FILE] [--settings FILE]\n"
         "  --bench DIR       simulated devices of this bench registry (default: USB devices)\n"
         "  --image DIR       image folder (default: as Vornex_730.ini says)\n"
         "  --expect N        press Start once N devices are listed (default: first found)\n"
         "  --time-scale S    scale every pause and time limit (default 1)\n"
         "  --json FILE       write one JSON line per device\n"
         "  --settings FILE   settings file (default: Vornex_730.ini beside the program)\n";
}

std::optional<THeadlessOptions> ParseHeadlessOptions(const std::vector<std::string>& args,
                                                     std::string* error) {
  THeadlessOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--headless") continue;
    if (i + 1 >= args.size()) {
      *error = "missing value after " + arg;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    double number = 0;
    if (arg == "--bench") {
      options.bench = value;
    } else if (arg == "--image") {
      options.imageFolder = value;
    } else if (arg == "--json") {
      options.jsonPath = value;
    } else if (arg == "--settings") {
      options.settingsPath = value;
    } else if (arg == "--expect" && ParseNumber(value, &number) && number >= 0 && number <= 8) {
      options.expect = static_cast<int>(number);
    } else if (arg == "--time-scale" && ParseNumber(value, &number) && number > 0) {
      options.timeScale = number;
    } else {
      *error = "bad option: " + arg + " " + value;
      return std::nullopt;
    }
  }
  return options;
}

int RunHeadless(const THeadlessOptions& options, std::ostream& out) {
  pacing::SetTimeScale(options.timeScale);
  if (!options.bench.empty()) {
    UseBenchDiscovery(options.bench);
  } else {
    UseSysfsDiscovery();
  }
  StationSettings settings =
      LoadSettings(options.settingsPath.empty() ? SettingsPath() : options.settingsPath);
  if (!options.imageFolder.empty()) {
    settings.autoPath = false;
    settings.imagePath = options.imageFolder;
  }

  std::ofstream json;
  if (!options.jsonPath.empty()) {
    json.open(options.jsonPath, std::ios::trunc);
    if (!json) {
      out << "cannot write " << options.jsonPath << '\n';
      return 255;
    }
  }

  TTerminalView view(out, ::isatty(STDOUT_FILENO) == 1 && !settings.debugMode, settings);
  TConfirmationQueue target;
  TMdlThread coordinator;
  TConsolePresenter console(view, coordinator, settings);
  coordinator.SetNotifyAll(&target, WM_DOWNLOAD_CNF);
  console.InitPanel();

  std::array<TRunRecord, kSlotCount> records{};
  bool started = false;
  bool answered = false;  // the download answer arrived: the started slots are known
  std::set<std::string> listing =
      options.bench.empty() ? std::set<std::string>{} : RegistryListing(options.bench);
  pacing::Sleep(kFirstCheckMs);
  console.SendCheckRequest();

  for (;;) {
    view.Flush();
    auto next = target.TakeUntil(pacing::Clock::now() + pacing::Scaled(kWatchTickMs));
    if (next) {
      const std::uint32_t code = next->code;
      if (code == CNF_SINGLE) {
        if (const auto* cnf = std::get_if<std::unique_ptr<TSingleCnf>>(&next->record);
            cnf && *cnf && (*cnf)->slot >= 0 && (*cnf)->slot < kSlotCount) {
          TRunRecord& record = records[static_cast<std::size_t>((*cnf)->slot)];
          record.com = console.Slot((*cnf)->slot).comPort;
          RecordReport(record, **cnf);
        }
      }
      std::int32_t listed = 0;
      if (code == CNF_CHECK_DEVICE) {
        if (const auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&next->record);
            table && *table) {
          listed = (*table)->count;
        }
      }
      if (code == CNF_DOWNLOAD_DEVICE) {
        if (const auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&next->record);
            answer && *answer) {
          for (int slot = 0; slot < kSlotCount; ++slot) {
            if ((*answer)->started[static_cast<std::size_t>(slot)] != 0) {
              records[static_cast<std::size_t>(slot)].started = true;
            }
          }
        }
        answered = true;
      }
      console.OnConfirm(code, std::move(next->record));

      if (code == CNF_CHECK_DEVICE && !started) {
        const bool enough = options.expect > 0 ? listed >= options.expect : listed > 0;
        if (enough && console.StartEnabled()) {
          console.Start();
          started = true;
        }
      }
    } else if (!started && !options.bench.empty()) {
      // Waiting for devices: a port that came or went asks for a new check.
      std::set<std::string> now = RegistryListing(options.bench);
      if (now != listing && console.SendCheckRequest()) listing = std::move(now);
    }

    if (answered) {
      const bool done = std::all_of(records.begin(), records.end(), [](const TRunRecord& r) {
        return !r.started || r.finished;
      });
      if (done) break;
    }
  }
  view.Flush();

  int failed = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const TRunRecord& record = records[static_cast<std::size_t>(slot)];
    const SlotState state = console.Slot(slot).state;
    if (state == SlotState::kFailed) ++failed;
    if (json.is_open() && (record.started || state == SlotState::kFailed)) {
      TRunRecord shown = record;
      shown.com = console.Slot(slot).comPort;
      if (state == SlotState::kFailed) shown.verdict = CNF_FAIL;
      WriteRunJson(json, slot, shown);
      json << '\n';
    }
  }
  out << (failed == 0 ? "All devices passed.\n" : std::to_string(failed) + " device(s) FAILED.\n");
  return std::min(failed, 255);
}

}  // namespace vornex
