// The operator's request to stop a running station from outside (Ctrl+C, a service manager's
// stop): caught once, then polled by the front-end, which lets every job end at a safe point.
#pragma once

namespace vornex {

// From now on an interrupt or termination request is only noted, not fatal.
void CatchStopSignals();
// True once such a request has arrived.
bool StopSignalled();

}  // namespace vornex
