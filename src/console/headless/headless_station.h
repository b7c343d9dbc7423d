// The headless station: the console logic in a terminal, driven by the run driver. It shows one
// live line per slot, presses Start once the expected number of devices is listed (or at the
// first check that lists any), and ends when every started job has given its account, when it
// gives up waiting, or at once when stopped before Start. An interrupt, hang-up or termination
// request, or an output that fails (the terminal closed, the reader of a pipe quit), stops every
// job at its next safe point. The exit status is that of console/exit_status.h.
#pragma once

#include <ostream>

#include "console/run_options.h"

namespace vornex {

// Runs one batch; returns the exit status of the run driver, or exit_status::kUnavailable when
// the run could not start (what kept it is said on `err`).
int RunHeadless(const TRunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vornex
