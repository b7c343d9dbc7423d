// The station window on Windows: a native dialog on the same console logic as the other
// front-ends (presenter, run driver, coordinator with its eight workers).
#pragma once

#include <ostream>

#include "console/run_options.h"

namespace vornex {

// Runs the window under the single-instance mutex until it is closed. The exit status: 0 for a
// second instance (which ends silently) or a closed window, the run driver's exit status with
// --close-when-done, exit_status::kUnavailable when the window could not be made.
int RunStationWindow(const TRunOptions& options, std::ostream& err);

}  // namespace vornex
