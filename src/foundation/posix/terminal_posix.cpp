// Terminals on Linux interpret escapes by themselves.
#include <sys/ioctl.h>
#include <unistd.h>

#include "foundation/terminal.h"

namespace vornex::terminal {

bool StdoutIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

bool EnableEscapes() {
  return StdoutIsTerminal();
}

int StdoutColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace vornex::terminal
