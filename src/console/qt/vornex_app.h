// CVornexApp, the station window's application: one instance per user login (a lock file
// named after the station in the user's runtime folder; a second start ends silently, with no
// window), the choice of device source, the settings, and the window's run until it is closed.
#pragma once

#include <QString>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "console/qt/window_options.h"

class QLockFile;

namespace vornex {

// True when a window can be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set.
bool HasDisplay();

// The single-instance lock file: "<runtime folder>/Fa Factory Multi Path Trelvan App.lock".
QString InstanceLockPath();

// Takes the lock at `path`. Null with *otherInstance = true when another process holds it; null
// with *otherInstance = false when the lock could not be made (the station then runs unguarded).
std::unique_ptr<QLockFile> TakeInstanceLock(const QString& path, bool* otherInstance);

class CVornexApp {
 public:
  // The program's window mode: parses the options (after the program name), then runs the
  // window. The exit status: 2 for bad options or no display, 0 for a second instance or a
  // closed window, the number of FAILED devices with --close-when-done.
  static int Main(const char* programName, const std::vector<std::string>& args, std::ostream& err);

  // Runs the window with parsed options under the single-instance lock; exit status as above.
  static int Run(const char* programName, const TWindowOptions& options);
};

}  // namespace vornex
