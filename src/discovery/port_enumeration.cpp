// The process-wide backend choice and the common part of every enumeration: USB ports only,
// one port per COM number, serial before modem, at most 120 records, each listed COM number's
// tty for the resolver, the notes for the caller; and the access test that every backend runs.
#include "discovery/port_enumeration.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "discovery/group_key.h"
#include "discovery/note_text.h"
#include "discovery/port_holders.h"
#include "foundation/text.h"
#include "serial/com_resolver.h"

namespace vornex {
namespace {

// Guards the backend and serialises enumerations.
std::mutex g_mutex;
std::unique_ptr<TPortBackend> g_backend;  // guarded by g_mutex
bool g_chosen = false;                    // guarded by g_mutex; false = system backend on demand

// Listing position of a class: serial ports, then modem ports, then anything else.
int ClassRank(std::int32_t portClass) {
  if (portClass == kPortClassSerial) return 0;
  if (portClass == kPortClassModem) return 1;
  return 2;
}

// Claimants shown by name in a conflict's note; more are only counted.
constexpr std::size_t kShownClaimants = 2;

// Removes every port whose COM number another port claims too, and every port that shares a
// grouping key with one of them, noting each conflict and each port withheld with its device.
void RefuseConflicts(std::vector<TPortInfo>& found, TDiscoveryNotes& notes) {
  std::map<std::int32_t, std::vector<std::size_t>> claims;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i].com != 0) claims[found[i].com].push_back(i);
  }
  std::vector<bool> refused(found.size(), false);
  std::set<std::string> doubtfulKeys;  // upper case
  for (const auto& [com, claimants] : claims) {
    if (claimants.size() < 2) continue;
    std::string text = "COM" + std::to_string(com) + " claimed by " +
                       std::to_string(claimants.size()) + " ports, none listed:";
    for (std::size_t n = 0; n < claimants.size(); ++n) {
      const TPortInfo& port = found[claimants[n]];
      refused[claimants[n]] = true;
      const std::string key = GroupKeyOfPath(port.path);
      if (!key.empty()) doubtfulKeys.insert(ToUpperAscii(key));
      if (n < kShownClaimants) {
        text += (n == 0 ? " " : ", ") + NoteText(port.ttyPath) + " <" + key + ">";
      }
    }
    if (claimants.size() > kShownClaimants) text += ", ...";
    notes.push_back({TNoteKind::kClaimed, com, std::move(text)});
  }
  for (std::size_t i = 0; i < found.size() && !doubtfulKeys.empty(); ++i) {
    if (refused[i]) continue;
    const std::string key = GroupKeyOfPath(found[i].path);
    if (key.empty() || !doubtfulKeys.contains(ToUpperAscii(key))) continue;
    refused[i] = true;
    notes.push_back(WithheldNote(found[i].com, key));
  }
  std::size_t next = 0;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (refused[i]) continue;
    if (next != i) found[next] = std::move(found[i]);
    ++next;
  }
  found.resize(next);
}

// The distinct notes, at most kMaxDiscoveryNotes of them, the last one counting any beyond.
TDiscoveryNotes Distinct(TDiscoveryNotes all) {
  TDiscoveryNotes kept;
  std::set<std::string> seen;
  for (TDiscoveryNote& note : all) {
    if (seen.insert(note.text).second) kept.push_back(std::move(note));
  }
  if (kept.size() > kMaxDiscoveryNotes) {
    const std::size_t more = kept.size() - (kMaxDiscoveryNotes - 1);
    kept.resize(kMaxDiscoveryNotes - 1);
    kept.push_back(NotShownNote(more));
  }
  return kept;
}

// Puts the backend in place and hands back the one used until now; none was when `chosen`
// comes back false (enumerations would have made the system's own).
std::unique_ptr<TPortBackend> Choose(std::unique_ptr<TPortBackend> backend,
                                     bool* chosen = nullptr) {
  std::lock_guard lock(g_mutex);
  if (chosen != nullptr) *chosen = g_chosen;
  g_chosen = true;
  std::swap(g_backend, backend);
  return backend;
}

}  // namespace

void UseBenchDiscovery(std::string folder) {
  Choose(MakeBenchBackend(std::move(folder)));
}

void UseSystemDiscovery() {
  Choose(MakeSystemBackend());
}

std::unique_ptr<TPortBackend> UseDiscoveryBackend(std::unique_ptr<TPortBackend> backend) {
  bool chosen = false;
  std::unique_ptr<TPortBackend> previous = Choose(std::move(backend), &chosen);
  return chosen ? std::move(previous) : MakeSystemBackend();
}

std::int32_t EnumeratePorts(TPortTable& table, TDiscoveryNotes* notes) {
  std::lock_guard lock(g_mutex);
  if (!g_chosen) {
    g_backend = MakeSystemBackend();
    g_chosen = true;
  }
  std::vector<TPortInfo> found;
  TDiscoveryNotes problems;
  if (g_backend) found = g_backend->ListPorts(problems);

  std::erase_if(found, [](const TPortInfo& port) { return port.usb != 1; });
  RefuseConflicts(found, problems);
  if (notes != nullptr) *notes = Distinct(std::move(problems));
  std::stable_sort(found.begin(), found.end(), [](const TPortInfo& a, const TPortInfo& b) {
    return ClassRank(a.portClass) < ClassRank(b.portClass);
  });

  std::int32_t count = 0;
  for (TPortInfo& port : found) {
    if (count == kMaxPortCount) break;
    // Added, never replaced wholesale: a number missing from this listing may belong to a
    // device that is off the bus for a moment while its worker still opens it by number.
    if (port.com != 0 && !port.ttyPath.empty()) {
      com_resolver::Register(port.com, port.ttyPath.str());
    }
    table[static_cast<std::size_t>(count++)] = std::move(port);
  }
  return count;
}

bool TakeTtyPath(TPortInfo& port, const std::string& ttyPath, TDiscoveryNotes& notes) {
  if (Utf16Length(ttyPath) > decltype(TPortInfo::ttyPath)::kCapacity) {
    notes.push_back(RefusedNote(
        "COM" + std::to_string(port.com) + " refused: tty path too long: " + NoteText(ttyPath),
        port.com));
    return false;
  }
  port.ttyPath = ttyPath;
  return true;
}

void TestPortAccess(std::vector<TPortInfo>& ports, TDiscoveryNotes& notes) {
  TestPortAccess(ports, notes, [](const std::vector<std::string>& ttyPaths) {
    return FindPortHolders(ttyPaths);
  });
}

void TestPortAccess(std::vector<TPortInfo>& ports, TDiscoveryNotes& notes,
                    const THolderLookup& findHolders) {
  std::vector<std::string> ttys;
  ttys.reserve(ports.size());
  for (TPortInfo& port : ports) {
    ttys.push_back(port.ttyPath.str());
    if (port.ttyPath.empty()) continue;  // nothing to open: the number is not known
    const TTtyTest test = TestOpenTty(port.ttyPath.str());
    port.openable = test.result == TTtyOpen::kOpened ? 1 : 0;
    port.denied = test.result == TTtyOpen::kDenied ? 1 : 0;
    port.heldBy.Clear();
    if (port.denied != 0) notes.push_back(DeniedNote(port.com, port.ttyPath.str()));
  }
  const std::vector<std::vector<TPortHolder>> holders = findHolders(ttys);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (holders[i].empty()) continue;
    const std::string text = HoldersText(holders[i]);
    ports[i].openable = 0;
    ports[i].heldBy = text;
    notes.push_back(HeldNote(ports[i].com, text));
  }
}

}  // namespace vornex
