// Folders on Linux: the executable from /proc, the temporary folder and the record folder from
// the environment.
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "foundation/os_paths.h"

namespace vornex::os {
namespace {

// The variable's value; empty when it is not set.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  std::string path(buffer.data(), static_cast<std::size_t>(n));
  const auto cut = path.find_last_of('/');
  if (cut == std::string::npos) return {};
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

std::string TempFolder() {
  const std::string folder = Environment("TMPDIR");
  return folder.empty() ? "/tmp/" : folder;
}

std::string StateFolder() {
  const std::string state = Environment("XDG_STATE_HOME");
  if (!state.empty()) return state + (state.back() == '/' ? "" : "/") + "vornex";
  const std::string home = Environment("HOME");
  if (!home.empty()) return home + (home.back() == '/' ? "" : "/") + ".local/state/vornex";
  return {};
}

std::string LiteralFolder(const std::string& folder) {
  return folder;
}

char PathSeparator() {
  return '/';
}

bool IsPathSeparator(char c) {
  return c == '/';
}

}  // namespace vornex::os
