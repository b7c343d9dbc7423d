// The bench registry backend: the ports that the device simulator has registered in its
// folder, each tested for exclusive access on its tty.
#include <utility>

#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"

namespace vornex {
namespace {

class TBenchBackend final : public TPortBackend {
 public:
  explicit TBenchBackend(std::string folder) : folder_(std::move(folder)) {}

  std::vector<TFoundPort> ListPorts(TDiscoveryNotes& notes) override {
    std::vector<TFoundPort> found;
    for (bench::BenchPort& port : bench::ReadPorts(folder_, &notes)) {
      port.info.openable = TestOpenTty(port.ttyPath) ? 1 : 0;
      found.push_back({std::move(port.info), std::move(port.ttyPath)});
    }
    return found;
  }

 private:
  std::string folder_;
};

}  // namespace

std::unique_ptr<TPortBackend> MakeBenchBackend(std::string folder) {
  return std::make_unique<TBenchBackend>(std::move(folder));
}

}  // namespace vornex
