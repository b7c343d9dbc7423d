// Port holders on Windows: not known (discovery/port_holders.h). The handle tables of other
// processes are open only to privileged calls, and the programs that Linux looks for (a modem
// manager) are Linux's own.
#include "discovery/port_holders.h"

namespace vornex {

std::vector<std::vector<TPortHolder>> FindPortHolders(const std::vector<std::string>& ttyPaths,
                                                      const std::string&) {
  return std::vector<std::vector<TPortHolder>>(ttyPaths.size());
}

std::vector<std::int32_t> ProcessesNamed(std::string_view, const std::string&) {
  return {};
}

}  // namespace vornex
