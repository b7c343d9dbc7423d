// CVornexApp, the station window's application: one instance per user login (a lock file
// named after the station in the user's runtime folder; a second start ends silently, with no
// window; one started while the running one finishes its jobs to close says so), the run's
// setup, and the window's run until it is closed. The lock is held until every thread has
// stopped after the window closed, so that no new start reaches for a device a job still holds.
#pragma once

#include <QString>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "console/run_options.h"

class QLockFile;

namespace vornex {

// Empty when a window can be shown (a platform is chosen with QT_QPA_PLATFORM, a Wayland
// display is set, or the X display of DISPLAY answers); else what the operator is told.
std::string DisplayProblem();

// The single-instance lock file: "<runtime folder>/Fa Factory Multi Path Trelvan App.lock".
QString InstanceLockPath();

// Takes the lock at `path`. Null with *otherInstance = true when another process holds it; null
// with *otherInstance = false when the lock could not be made (the station then runs unguarded).
std::unique_ptr<QLockFile> TakeInstanceLock(const QString& path, bool* otherInstance);

// Beside the lock while the running instance finishes its jobs to close: "<lock path>.closing".
QString ClosingMarkPath();

class CVornexApp {
 public:
  // The program's window mode: checks the display, then runs the window under the
  // single-instance lock. The exit status: 2 without a display, 0 for a second instance or a
  // closed window, 1 for a second instance during a shutdown, the run driver's exit status with
  // --close-when-done.
  static int Main(const char* programName, const TRunOptions& options, std::ostream& err);

  // Runs the window under the single-instance lock (no display check); exit status as above.
  static int Run(const char* programName, const TRunOptions& options, std::ostream& err);
};

}  // namespace vornex
