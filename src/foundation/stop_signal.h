// The operator's request to stop a running station from outside (Ctrl+C, a closed terminal or
// console window, the end of the login session, a service manager's stop), or from within when
// the station's own output has gone: caught once, then polled by the front-end, which lets every
// job end at a safe point. None of these ends the process by itself.
#pragma once

namespace vornex {

// From now on an interrupt, hang-up or termination request is only noted, not fatal, and a
// write to an output whose reader has gone fails instead of ending the process.
void CatchStopSignals();
// Notes a stop request from within the program (its output failed). Safe from any thread.
void NoteStopRequest();
// True once such a request has arrived.
bool StopSignalled();

}  // namespace vornex
