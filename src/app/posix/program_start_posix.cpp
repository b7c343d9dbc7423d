// On POSIX systems main() receives the bytes as typed and the terminal shows UTF-8 as it comes.
#include "app/program_start.h"

namespace vornex {

std::vector<std::string> StartProgram(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace vornex
