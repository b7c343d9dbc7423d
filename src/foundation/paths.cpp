// Executable and temporary folders.
#include "foundation/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace vornex::paths {
namespace {
std::mutex g_overrideMutex;
std::string g_exeFolderOverride;  // guarded by g_overrideMutex
}  // namespace

std::string ExeFolder() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (!g_exeFolderOverride.empty()) return g_exeFolderOverride;
  }
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return ".";
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  const auto cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = (env != nullptr && *env != '\0') ? env : "/tmp";
  if (folder.back() != '/') folder.push_back('/');
  return folder;
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

void OverrideExeFolder(std::string folder) {
  std::lock_guard lock(g_overrideMutex);
  g_exeFolderOverride = std::move(folder);
}

}  // namespace vornex::paths
