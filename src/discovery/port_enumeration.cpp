// The process-wide backend choice and the common part of every enumeration: USB ports only,
// serial before modem, at most 120 records, COM -> tty table for the resolver.
#include "discovery/port_enumeration.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

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

void Choose(std::unique_ptr<TPortBackend> backend) {
  std::lock_guard lock(g_mutex);
  g_backend = std::move(backend);
  g_chosen = true;
}

}  // namespace

void UseBenchDiscovery(std::string folder) {
  Choose(MakeBenchBackend(std::move(folder)));
}

void UseSysfsDiscovery(std::string sysRoot, std::string devRoot) {
  Choose(MakeSysfsBackend(std::move(sysRoot), std::move(devRoot)));
}

void UseDiscoveryBackend(std::unique_ptr<TPortBackend> backend) {
  Choose(std::move(backend));
}

std::int32_t EnumeratePorts(TPortTable& table) {
  std::lock_guard lock(g_mutex);
  if (!g_chosen) {
    g_backend = MakeSystemBackend();
    g_chosen = true;
  }
  std::vector<TFoundPort> found;
  if (g_backend) found = g_backend->ListPorts();

  std::erase_if(found, [](const TFoundPort& port) { return port.info.usb != 1; });
  std::stable_sort(found.begin(), found.end(), [](const TFoundPort& a, const TFoundPort& b) {
    return ClassRank(a.info.portClass) < ClassRank(b.info.portClass);
  });

  std::map<std::int32_t, std::string> ttys;
  std::int32_t count = 0;
  for (TFoundPort& port : found) {
    if (count == kMaxPortCount) break;
    // A COM number listed twice keeps the tty of its first record.
    if (port.info.com != 0 && !port.ttyPath.empty()) ttys.emplace(port.info.com, port.ttyPath);
    table[static_cast<std::size_t>(count++)] = std::move(port.info);
  }
  com_resolver::ReplaceAll(std::move(ttys));
  return count;
}

}  // namespace vornex
