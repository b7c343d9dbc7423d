// The headless station's main loop: confirmations from the coordinator and workers are queued
// by the notification target and handled on this thread, one at a time, like window messages.
#include "console/headless/headless_station.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "console/headless/terminal_view.h"
#include "console/confirmation_queue.h"
#include "console/job_report.h"
#include "console/presenter.h"
#include "console/station_records.h"
#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"
#include "foundation/pacing.h"
#include "foundation/stop_signal.h"

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
         "                        [--json FILE] [--settings FILE] [--data DIR]\n"
         "  --bench DIR       simulated devices of this bench registry (default: USB devices)\n"
         "  --image DIR       image folder (default: as Vornex_730.ini says)\n"
         "  --expect N        press Start once N devices are listed (default: first found)\n"
         "  --time-scale S    scale every pause and time limit (default 1)\n"
         "  --json FILE       write one JSON line per device\n"
         "  --settings FILE   settings file (default: Vornex_730.ini beside the program)\n"
         "  --data DIR        station records folder (default: DataFolder of the settings,\n"
         "                    else $XDG_STATE_HOME/vornex or ~/.local/state/vornex)\n";
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
    } else if (arg == "--data") {
      options.dataFolder = value;
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
    // Appended line by line as jobs end: a run that is killed keeps what it has done.
    json.open(options.jsonPath, std::ios::app);
    if (!json) {
      out << "cannot write " << options.jsonPath << '\n';
      return 255;
    }
  }

  std::string notice;
  const std::unique_ptr<TStationStore> store =
      OpenStationRecords(options.dataFolder, settings, &notice);
  if (store) notice = OpenBackupsNotice(*store);
  if (!notice.empty()) out << notice << '\n';
  CatchStopSignals();

  TTerminalView view(out, ::isatty(STDOUT_FILENO) == 1 && !settings.debugMode, settings);
  TConfirmationQueue target;
  TMdlThread coordinator;
  TConsolePresenter console(view, coordinator, settings);
  coordinator.SetNotifyAll(&target, WM_DOWNLOAD_CNF);
  coordinator.SetRecordStore(store.get(), settings.verifyIdentity);
  console.InitPanel();

  std::array<bool, kSlotCount> started{};
  std::array<std::optional<TJobSummary>, kSlotCount> ended{};
  bool pressed = false;
  std::int32_t listedAtStart = 0;
  bool answered = false;  // the download answer arrived: the started slots are known
  bool stopping = false;
  std::set<std::string> listing =
      options.bench.empty() ? std::set<std::string>{} : RegistryListing(options.bench);
  pacing::Sleep(kFirstCheckMs);
  console.SendCheckRequest();

  for (;;) {
    view.Flush();
    if (StopSignalled() && !stopping) {
      stopping = true;
      coordinator.RequestStop();
      out << "Stopping: every job ends at its next safe point...\n";
      if (!pressed) break;
    }
    auto next = target.TakeUntil(pacing::Clock::now() + pacing::Scaled(kWatchTickMs));
    if (next) {
      const std::uint32_t code = next->code;
      std::int32_t listed = 0;
      if (auto* table = std::get_if<std::unique_ptr<TDeviceTable>>(&next->record);
          table && *table) {
        listed = (*table)->count;
      }
      if (auto* answer = std::get_if<std::unique_ptr<TDownloadCnf>>(&next->record);
          answer && *answer) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
          started[static_cast<std::size_t>(slot)] =
              (*answer)->started[static_cast<std::size_t>(slot)] != 0;
        }
        answered = true;
      }
      if (auto* summary = std::get_if<std::unique_ptr<TJobSummary>>(&next->record);
          summary && *summary && (*summary)->slot >= 0 && (*summary)->slot < kSlotCount) {
        if (json.is_open()) json << JobJson(**summary) << std::endl;
        ended[static_cast<std::size_t>((*summary)->slot)] = **summary;
      }
      console.OnConfirm(code, std::move(next->record));

      if (code == CNF_CHECK_DEVICE && !pressed && !stopping) {
        const bool enough = options.expect > 0 ? listed >= options.expect : listed > 0;
        if (enough && console.StartEnabled()) {
          console.Start();
          pressed = true;
          listedAtStart = listed;
        }
      }
    } else if (!pressed && !options.bench.empty()) {
      // Waiting for devices: a port that came or went asks for a new check.
      std::set<std::string> now = RegistryListing(options.bench);
      if (now != listing && console.SendCheckRequest()) listing = std::move(now);
    }

    if (answered) {
      bool done = true;
      for (int slot = 0; slot < kSlotCount; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (started[index] && !ended[index]) done = false;
      }
      if (done) break;
    }
  }
  view.Flush();

  int startedCount = 0;
  int passed = 0;
  int failed = 0;
  int unstarted = 0;  // selected and listed, but no job ran for it
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    if (ended[index]) {
      ++startedCount;
      (ended[index]->pass ? passed : failed) += 1;
    } else if (console.Slot(slot).state == SlotState::kFailed) {
      ++unstarted;
      if (json.is_open()) {
        TJobSummary notStarted;
        notStarted.slot = slot;
        notStarted.diagCom = console.Slot(slot).comPort;
        notStarted.failure = "not started";
        json << JobJson(notStarted) << std::endl;
      }
    }
  }
  // Expected or listed devices that no job flashed (no slot for them, or never started).
  const int neverStarted =
      std::max(0, std::max(options.expect, static_cast<int>(listedAtStart)) - startedCount);
  if (!pressed) {
    out << "Stopped before Start: no device was touched.\n";
  } else {
    out << "Devices: " << options.expect << " expected, " << listedAtStart << " listed, "
        << startedCount << " started, " << passed << " passed, " << failed << " failed, "
        << neverStarted << " never started.\n";
    out << (failed + neverStarted == 0
                ? std::string("All devices passed.\n")
                : std::to_string(failed + neverStarted) + " device(s) FAILED or never started.\n");
  }
  failed += std::max(neverStarted, unstarted);
  return std::min(failed, 255);
}

}  // namespace vornex
