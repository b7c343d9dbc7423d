// Terminals on Linux interpret escapes by themselves.
#include <unistd.h>

#include "foundation/terminal.h"

namespace vornex::terminal {

bool StdoutIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

bool EnableEscapes() {
  return StdoutIsTerminal();
}

}  // namespace vornex::terminal
