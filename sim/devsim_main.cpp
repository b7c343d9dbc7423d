// vornex-devsim: simulated devices for the station's demo and manual runs (see
// sim/devsim_program.h for the command line).
#include <string>
#include <vector>

#include "sim/devsim_program.h"

int main(int argc, char** argv) {
  return vornex::sim::RunDevsim(std::vector<std::string>(argv + 1, argv + argc));
}
