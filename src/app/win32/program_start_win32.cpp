// On Windows main() receives the arguments in the ANSI code page, which cannot hold every folder
// name: the wide command line is split again and converted to UTF-8. The console is told that
// the program writes UTF-8.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "app/program_start.h"
#include "foundation/win32/wide_text.h"

namespace vornex {

std::vector<std::string> StartProgram(int argc, char** argv) {
  ::SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

}  // namespace vornex
