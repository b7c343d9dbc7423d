// The process-wide table from COM numbers to tty paths. Discovery threads write it while ports
// opened by number read it, so every access takes the one mutex.
#include "serial/com_resolver.h"

#include <mutex>
#include <utility>

namespace vornex::com_resolver {
namespace {

std::mutex g_mutex;
std::map<std::int32_t, std::string> g_table;

}  // namespace

void Register(std::int32_t com, std::string ttyPath) {
  std::lock_guard lock(g_mutex);
  g_table[com] = std::move(ttyPath);
}

void Clear() {
  std::lock_guard lock(g_mutex);
  g_table.clear();
}

std::map<std::int32_t, std::string> Entries() {
  std::lock_guard lock(g_mutex);
  return g_table;
}

void Replace(std::map<std::int32_t, std::string> table) {
  std::lock_guard lock(g_mutex);
  g_table = std::move(table);
}

std::optional<std::string> Resolve(std::int32_t com) {
  std::lock_guard lock(g_mutex);
  const auto it = g_table.find(com);
  if (it == g_table.end()) return std::nullopt;
  return it->second;
}

}  // namespace vornex::com_resolver
