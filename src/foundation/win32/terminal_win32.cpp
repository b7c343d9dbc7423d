// Consoles on Windows: standard output is a console when it answers GetConsoleMode; escapes
// work once the console is switched to virtual-terminal processing (Windows 10 and later).
#include <windows.h>

#include "foundation/terminal.h"

namespace vornex::terminal {
namespace {

// The console mode of standard output; false when it is no console.
bool StdoutMode(HANDLE* out, DWORD* mode) {
  *out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (*out == nullptr || *out == INVALID_HANDLE_VALUE) return false;
  return ::GetConsoleMode(*out, mode) != 0;
}

}  // namespace

bool StdoutIsTerminal() {
  HANDLE out = nullptr;
  DWORD mode = 0;
  return StdoutMode(&out, &mode);
}

bool EnableEscapes() {
  HANDLE out = nullptr;
  DWORD mode = 0;
  if (!StdoutMode(&out, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  // Older consoles refuse the flag: they would print the escapes as text.
  return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int StdoutColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace vornex::terminal
