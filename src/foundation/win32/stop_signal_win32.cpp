// Ctrl+C, Ctrl+Break, the closing of the console window and system shutdown, noted in a flag
// that the front-end polls. The system calls the handler on a thread of its own.
#include <windows.h>

#include <atomic>

#include "foundation/stop_signal.h"

namespace vornex {
namespace {

std::atomic<bool> g_stopSignal{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stopSignal.store(true);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The system ends the process as soon as this handler returns from these events. Holding
      // the handler gives the front-end the system's grace time to end every job at a safe
      // point; the process ends when the front-end has finished or when that time is up.
      g_stopSignal.store(true);
      ::Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CatchStopSignals() {
  ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

bool StopSignalled() {
  return g_stopSignal.load();
}

}  // namespace vornex
