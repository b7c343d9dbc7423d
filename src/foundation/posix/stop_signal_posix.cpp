// SIGINT, SIGTERM and SIGHUP (the terminal closed) noted in a flag that the front-end polls. A
// SIGHUP that the program was started to ignore (nohup) stays ignored. SIGPIPE is ignored: a
// write to a pipe whose reader has quit then fails with EPIPE, and the front-end that wrote
// takes the failure as a stop request.
#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "foundation/stop_signal.h"

namespace vornex {
namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int /*signal*/) {
  g_stopSignal = 1;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
  struct sigaction hangUp {};
  if (::sigaction(SIGHUP, nullptr, &hangUp) != 0 || hangUp.sa_handler != SIG_IGN) {
    ::sigaction(SIGHUP, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

void NoteStopRequest() {
  g_stopSignal = 1;
}

bool StopSignalled() {
  return g_stopSignal != 0;
}

}  // namespace vornex
