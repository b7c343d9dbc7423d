// Folders on Windows: the executable's own module path (long paths included), the temporary
// folder GetTempPath names and the user's local application data for the records.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "foundation/os_paths.h"
#include "foundation/win32/wide_text.h"

namespace vornex::os {
namespace {

// The longest path Windows hands out (\\?\ paths), in UTF-16 units with the terminating NUL.
constexpr DWORD kLongPathUnits = 32768;

// The variable's value; empty when it is not set.
std::wstring Environment(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n counts the NUL when the buffer was too small
  }
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

}  // namespace

std::string ExecutableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    // Cut to the buffer: the path is longer. Grow up to the longest path there is.
    if (path.size() >= kLongPathUnits) return {};
    path.resize(std::min<std::size_t>(path.size() * 2, kLongPathUnits));
  }
  const auto cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return {};
  // "C:\vornex.exe" lives in "C:\", not in "C:" (the drive's current folder).
  const bool root = cut == 0 || (cut == 2 && path[1] == L':');
  return win32::Narrow(std::wstring_view(path).substr(0, root ? cut + 1 : cut));
}

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD n = ::GetTempPathW(static_cast<DWORD>(std::size(buffer)), buffer);
  if (n == 0 || n >= std::size(buffer)) return {};
  return win32::Narrow(std::wstring_view(buffer, n));
}

std::string StateFolder() {
  std::wstring base = Environment(L"LOCALAPPDATA");
  if (base.empty()) {
    const std::wstring profile = Environment(L"USERPROFILE");
    if (profile.empty()) return {};
    base = profile + (IsSeparator(profile.back()) ? L"" : L"\\") + L"AppData\\Local";
  }
  if (!IsSeparator(base.back())) base.push_back(L'\\');
  return win32::Narrow(base + L"Vornex");
}

std::string LiteralFolder(const std::string& folder) {
  const std::wstring wide = win32::Wide(folder);
  if (wide.empty() || wide.starts_with(L"\\\\?\\") || wide.starts_with(L"\\\\.\\")) return folder;
  // The full path resolves "." and ".." and the current folder, which the literal form does not.
  std::wstring full(kLongPathUnits, L'\0');
  const DWORD n = ::GetFullPathNameW(wide.c_str(), kLongPathUnits, full.data(), nullptr);
  if (n == 0 || n >= kLongPathUnits) return folder;
  full.resize(n);
  // "\\server\share" becomes "\\?\UNC\server\share", "C:\x" becomes "\\?\C:\x".
  const std::wstring literal =
      full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  return win32::Narrow(literal);
}

char PathSeparator() {
  return '\\';
}

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace vornex::os
