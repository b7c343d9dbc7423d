// The bench registry backend: the ports that the device simulator has registered in its
// folder, each with the tty of its record and tested for access like any other port.
#include <utility>

#include "discovery/bench_registry.h"
#include "discovery/port_enumeration.h"

namespace vornex {
namespace {

class TBenchBackend final : public TPortBackend {
 public:
  explicit TBenchBackend(std::string folder) : folder_(std::move(folder)) {}

  std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) override {
    std::vector<TPortInfo> found;
    for (bench::BenchPort& port : bench::ReadPorts(folder_, &notes)) {
      if (TakeTtyPath(port.info, port.ttyPath, notes)) found.push_back(std::move(port.info));
    }
    TestPortAccess(found, notes);
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
