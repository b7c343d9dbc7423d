// Registry keys and values for discovery on Windows.
#include "discovery/win32/registry.h"

#include <cwchar>
#include <iterator>

#include "foundation/win32/wide_text.h"

namespace vornex::win32 {
namespace {

// The raw data of a value of one of the types wanted; nullopt otherwise. The value may change
// between the size query and the read: a value that grew is asked for again.
std::optional<std::wstring> ReadWide(HKEY key, std::string_view name, DWORD* type) {
  const std::wstring wideName = Wide(name);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD size = 0;
    if (::RegQueryValueExW(key, wideName.c_str(), nullptr, type, nullptr, &size) != ERROR_SUCCESS ||
        size > kMaxValueBytes) {
      return std::nullopt;
    }
    if (*type != REG_SZ && *type != REG_EXPAND_SZ && *type != REG_MULTI_SZ) return std::nullopt;
    std::wstring units(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    const LONG result = ::RegQueryValueExW(key, wideName.c_str(), nullptr, type,
                                           reinterpret_cast<BYTE*>(units.data()), &got);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) return std::nullopt;
    units.resize(got / sizeof(wchar_t));
    return units;
  }
  return std::nullopt;
}

}  // namespace

TRegKey& TRegKey::operator=(TRegKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = other.key_;
    other.key_ = nullptr;
  }
  return *this;
}

TRegKey TRegKey::Open(HKEY parent, std::string_view path, REGSAM access, LONG* error) {
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(parent, Wide(path).c_str(), 0, access, &key);
  if (error != nullptr) *error = result;
  return result == ERROR_SUCCESS ? TRegKey(key) : TRegKey();
}

void TRegKey::Close() {
  if (key_ != nullptr) ::RegCloseKey(key_);
  key_ = nullptr;
}

std::string TextUpToNul(const wchar_t* units, std::size_t count) {
  return Narrow(std::wstring_view(units, ::wcsnlen(units, count)));
}

std::optional<std::string> ReadText(HKEY key, std::string_view name) {
  DWORD type = 0;
  const std::optional<std::wstring> units = ReadWide(key, name, &type);
  if (!units || type == REG_MULTI_SZ) return std::nullopt;
  return TextUpToNul(units->data(), units->size());
}

std::optional<std::vector<std::string>> ReadTexts(HKEY key, std::string_view name) {
  DWORD type = 0;
  const std::optional<std::wstring> units = ReadWide(key, name, &type);
  if (!units || type == REG_EXPAND_SZ) return std::nullopt;
  std::vector<std::string> texts;
  std::size_t at = 0;
  while (at < units->size()) {
    const std::size_t length = ::wcsnlen(units->data() + at, units->size() - at);
    if (length == 0) break;  // the empty string that ends the list
    texts.push_back(Narrow(std::wstring_view(units->data() + at, length)));
    if (type == REG_SZ) break;
    at += length + 1;
  }
  return texts;
}

std::vector<std::string> SubKeyNames(HKEY key) {
  std::vector<std::string> names;
  // Key names are at most 255 characters.
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG result =
        ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    names.push_back(Narrow(std::wstring_view(name, length)));
  }
  return names;
}

std::vector<std::string> TextValues(HKEY key) {
  std::vector<std::string> values;
  DWORD maxName = 0;
  DWORD maxData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
    return values;
  }
  if (maxData > kMaxValueBytes) maxData = kMaxValueBytes;
  std::wstring name(maxName + 1, L'\0');
  std::wstring data(maxData / sizeof(wchar_t) + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LONG result = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (result == ERROR_MORE_DATA) continue;  // grown since the query, or too large: skipped
    if (result != ERROR_SUCCESS) break;
    if (type != REG_SZ) continue;
    values.push_back(TextUpToNul(data.data(), dataBytes / sizeof(wchar_t)));
  }
  return values;
}

}  // namespace vornex::win32
