// On POSIX systems main() receives the bytes as typed and the terminal shows UTF-8 as it comes.
// A reader of the output that quits early (the output piped into head) must never end the
// program in the middle of a device operation, a restore among them: SIGPIPE is ignored from
// the start, so that such writes fail instead.
#include <signal.h>

#include "app/program_start.h"

namespace vornex {

std::vector<std::string> StartProgram(int argc, char** argv) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace vornex
