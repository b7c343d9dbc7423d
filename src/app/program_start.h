// What each system needs when the program starts: the arguments as UTF-8 texts, whatever the
// system hands to main(), and output that shows the station's UTF-8 texts as written and whose
// failure (a reader that quit) never ends the program.
#pragma once

#include <string>
#include <vector>

namespace vornex {

// Prepares the program's output and returns the arguments after the program name.
std::vector<std::string> StartProgram(int argc, char** argv);

}  // namespace vornex
