// The NV items a simulated device carries from the factory: its calibration and configuration
// items, the set that the station preserves across a rewrite, less a few that this model never
// activated (their reads answer "inactive").
#pragma once

#include <cstdint>
#include <vector>

namespace vornex::sim {

// Active item numbers of a factory-fresh device, ascending.
std::vector<std::uint16_t> FactoryNvItems();
// Item numbers that the station asks for but this model leaves inactive.
const std::vector<std::uint16_t>& InactiveNvItems();

}  // namespace vornex::sim
