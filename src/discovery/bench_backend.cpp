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
    notes.push_back(NotShownNote(more));
  }
  return notes;
}

class TBenchBackend final : public TPortBackend {
 public:
  explicit TBenchBackend(std::string folder) : folder_(std::move(folder)) {}

  std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) override {
    std::vector<std::string> refusals;
    std::vector<bench::TBenchPort> ports = bench::ReadPorts(folder_, &refusals);
    TDiscoveryNotes mine;
    for (std::string& refusal : refusals) mine.push_back(RefusedNote(std::move(refusal)));
    std::vector<TPortInfo> found;
    for (bench::TBenchPort& port : ports) {
      const std::string systemTty = ComTtyPath(port.info.com);
      const std::string& tty = systemTty.empty() ? port.ttyPath : systemTty;
      TDiscoveryNotes refused;
      if (TakeTtyPath(port.info, tty, refused)) {
        found.push_back(std::move(port.info));
      } else {
        for (const TDiscoveryNote& note : refused) {
          mine.push_back(
              RefusedNote("bench record " + NoteText(port.fileName) + ": " + note.text, note.com));
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
  std::vector<std::string> texts;
  for (const TDiscoveryNote& note : g_lastNotes) texts.push_back(note.text);
  return texts;
}

}  // namespace bench
}  // namespace vornex
