// The bench registry backend: the ports that the device simulator has registered in its
// folder, each with its tty and tested for access like any other port. Where the system names
// COM ports itself (Windows), a port is opened by its COM number, whatever tty its record
// gives; elsewhere by the tty of its record.
#include <string>
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
      const std::string systemTty = ComTtyPath(port.info.com);
      const std::string& tty = systemTty.empty() ? port.ttyPath : systemTty;
      if (TakeTtyPath(port.info, tty, notes)) found.push_back(std::move(port.info));
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
