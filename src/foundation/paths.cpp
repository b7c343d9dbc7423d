// Executable, temporary and record folders; the system's answers come from os_paths.h.
#include "foundation/paths.h"

#include <mutex>

#include "foundation/os_paths.h"

namespace vornex::paths {
namespace {
std::mutex g_overrideMutex;
std::string g_exeFolderOverride;   // guarded by g_overrideMutex
std::string g_tempFolderOverride;  // guarded by g_overrideMutex
}  // namespace

std::string ExeFolder() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (!g_exeFolderOverride.empty()) return g_exeFolderOverride;
  }
  std::string folder = os::ExecutableFolder();
  return folder.empty() ? "." : folder;
}

std::string TempFolder() {
  {
    std::lock_guard lock(g_overrideMutex);
    if (!g_tempFolderOverride.empty()) return Join(g_tempFolderOverride, "");
  }
  const std::string folder = os::TempFolder();
  return folder.empty() ? Join(".", "") : Join(folder, "");
}

std::string StateFolder() {
  return os::StateFolder();
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || !os::IsPathSeparator(path.back())) path.push_back(os::PathSeparator());
  path.append(name);
  return path;
}

std::filesystem::path FsPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::filesystem::path LiteralFsPath(std::string_view folder) {
  return FsPath(os::LiteralFolder(std::string(folder)));
}

std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

void OverrideExeFolder(std::string folder) {
  std::lock_guard lock(g_overrideMutex);
  g_exeFolderOverride = std::move(folder);
}

void OverrideTempFolder(std::string folder) {
  std::lock_guard lock(g_overrideMutex);
  g_tempFolderOverride = std::move(folder);
}

}  // namespace vornex::paths
