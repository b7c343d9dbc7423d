// The headless station's main loop: confirmations from the coordinator and workers are queued
// by the notification target and handled on this thread, one at a time, like window messages.
// The run starts and ends with what is left to do about the identity backups still open.
// An output that fails (the terminal closed, the reader of the output or of the --json file
// quit) is given up and taken as a request for the safe stop, like an interrupt: the run goes
// on to its end with every job recorded in the station records.
#include "console/headless/headless_station.h"

#include <fstream>
#include <iostream>

#include "console/confirmation_queue.h"
#include "console/exit_status.h"
#include "console/headless/terminal_view.h"
#include "console/job_report.h"
#include "console/station_core.h"
#include "foundation/stop_signal.h"
#include "foundation/terminal.h"

namespace vornex {

int RunHeadless(const TRunOptions& options, std::ostream& out, std::ostream& err) {
  // Before the first write: a reader that has already quit must not end the process.
  CatchStopSignals();
  TRunSetup setup = PrepareRun(options);
  const TStationSettings& settings = setup.settings;

  std::ofstream json;
  if (!options.jsonPath.empty()) {
    // Appended line by line as jobs end: a run that is killed keeps what it has done.
    json.open(options.jsonPath, std::ios::app);
    if (!json) {
      err << "vornex: cannot write the --json file " << options.jsonPath << '\n';
      return exit_status::kUnavailable;
    }
  }

  // The live slot table needs the terminal on standard output taking cursor escapes; any other
  // output gets plain lines.
  const bool liveRedraw = !settings.debugMode && &out == &std::cout && terminal::EnableEscapes();
  TTerminalView view(out, liveRedraw, settings, terminal::StdoutColumns);
  TConfirmationQueue target;
  TStationSetup station{std::move(setup), options.dataFolder, true, RestoreOptionsOf(options)};
  TStationCore core(std::move(station), view, target, [&](const std::string& line) {
    view.Flush();
    view.ShowNotice(line, "");
    view.Flush();
  });
  if (!core.StartNotice().empty()) out << core.StartNotice() << '\n';
  TRunDriver& driver = core.Driver();
  const TConsolePresenter& console = core.Presenter();

  // A failed output is written to no more; the first failure asks for the safe stop.
  const auto watchOutputs = [&] {
    if (json.is_open() && json.fail()) {
      json.close();
      NoteStopRequest();
    }
    if (view.OutputLost()) NoteStopRequest();
  };
  driver.OnJobEnded([&](const TJobSummary& summary) {
    if (!json.is_open()) return;
    json << JobJson(summary) << std::endl;
    watchOutputs();
  });
  core.Begin();
  while (!driver.Over()) {
    view.Flush();
    watchOutputs();
    if (auto next = target.TakeUntil(pacing::TClock::now() + pacing::Scaled(kDriverTickMs))) {
      core.Confirm(next->code, std::move(next->record));
    }
    core.Tick();
  }
  view.Flush();
  // What is left to do, in the words of the start.
  const std::string left = core.Shutdown();

  if (json.is_open()) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (driver.JobEnd(slot) || console.Slot(slot).state != SlotState::kFailed) continue;
      TJobSummary notStarted;
      notStarted.slot = slot;
      notStarted.diagCom = console.Slot(slot).comPort;
      notStarted.failure = kNotStartedText;
      json << JobJson(notStarted) << std::endl;
    }
  }
  if (const std::string report = driver.Report(); !report.empty()) {
    view.ShowNotice(report, "");
    view.Flush();
  }
  for (const std::string& line : core.SocketCallout()) {
    view.ShowNotice(line, "");
    view.Flush();
  }
  if (const std::string line = core.LineText(); !line.empty()) {
    view.ShowNotice(line, "");
    view.Flush();
  }
  if (!left.empty()) {
    view.ShowNotice(left, "");
    view.Flush();
  }
  return driver.ExitStatus();
}

}  // namespace vornex
