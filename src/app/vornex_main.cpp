// The station program. With --headless it runs the terminal front-end.
#include <iostream>
#include <string>
#include <vector>

#include "console/headless/headless_station.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  bool headless = false;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << vornex::HeadlessUsage();
      return 0;
    }
    if (arg == "--headless") headless = true;
  }
  if (!headless) {
    std::cerr << "vornex: this build has no station window; run it with --headless\n"
              << vornex::HeadlessUsage();
    return 2;
  }
  std::string error;
  const auto options = vornex::ParseHeadlessOptions(args, &error);
  if (!options) {
    std::cerr << "vornex: " << error << '\n' << vornex::HeadlessUsage();
    return 2;
  }
  return vornex::RunHeadless(*options, std::cout);
}
