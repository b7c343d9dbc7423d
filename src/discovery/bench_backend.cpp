// The bench registry backend: the ports that the device simulator has registered in its
// folder, each with its tty and tested for access like any other port. Where the system names
// COM ports itself (Windows), a port is opened by its COM number, whatever tty its record
// gives; elsewhere by the tty of its record. The notes of its last listing are kept for the
// front-ends.
#include <mutex>
#include <string>
#include <utility>

#include "discovery/bench_registry.h"
#include "discovery/note_text.h"
#include "discovery/port_enumeration.h"

namespace vornex {
namespace {

std::mutex g_notesMutex;
TDiscoveryNotes g_lastNotes;  // guarded by g_notesMutex

// The notes as an enumeration hands them on: at most kMaxDiscoveryNotes, the last one counting
// the rest.
TDiscoveryNotes Bounded(TDiscoveryNotes notes) {
  if (notes.size() > kMaxDiscoveryNotes) {
    const std::size_t more = notes.size() - (kMaxDiscoveryNotes - 1);
    notes.resize(kMaxDiscoveryNotes - 1);
    notes.push_back(std::to_string(more) + " more problems not shown");
  }
  return notes;
}

class TBenchBackend final : public TPortBackend {
 public:
  explicit TBenchBackend(std::string folder) : folder_(std::move(folder)) {}

  std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) override {
    TDiscoveryNotes mine;
    std::vector<TPortInfo> found;
    for (bench::BenchPort& port : bench::ReadPorts(folder_, &mine)) {
      const std::string systemTty = ComTtyPath(port.info.com);
      const std::string& tty = systemTty.empty() ? port.ttyPath : systemTty;
      TDiscoveryNotes refused;
      if (TakeTtyPath(port.info, tty, refused)) {
        found.push_back(std::move(port.info));
      } else {
        for (const std::string& note : refused) {
          mine.push_back("bench record " + NoteText(port.fileName) + ": " + note);
        }
      }
    }
    TestPortAccess(found, mine);
    notes.insert(notes.end(), mine.begin(), mine.end());
    std::lock_guard lock(g_notesMutex);
    g_lastNotes = Bounded(std::move(mine));
    return found;
  }

 private:
  std::string folder_;
};

}  // namespace

std::unique_ptr<TPortBackend> MakeBenchBackend(std::string folder) {
  return std::make_unique<TBenchBackend>(std::move(folder));
}

namespace bench {

std::vector<std::string> LastListingNotes() {
  std::lock_guard lock(g_notesMutex);
  return g_lastNotes;
}

}  // namespace bench
}  // namespace vornex
