// SIGINT and SIGTERM noted in a flag that the front-end polls.
#include <signal.h>

#include <csignal>

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
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool StopSignalled() {
  return g_stopSignal != 0;
}

}  // namespace vornex
