// Registry keys and values for discovery on Windows: keys closed with their object, texts read
// as UTF-8, sizes bounded (a value larger than kMaxValueBytes is no value discovery wants).
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornex::win32 {

constexpr std::size_t kMaxValueBytes = 64 * 1024;

// An open registry key. Move-only.
class TRegKey {
 public:
  TRegKey() = default;
  explicit TRegKey(HKEY key) : key_(key) {}
  ~TRegKey() { Close(); }
  TRegKey(TRegKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  TRegKey& operator=(TRegKey&& other) noexcept;
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;

  // parent\path opened with `access`; a closed key when it cannot be, the reason in *error.
  static TRegKey Open(HKEY parent, std::string_view path, REGSAM access = KEY_READ,
                      LONG* error = nullptr);

  bool IsOpen() const { return key_ != nullptr; }
  HKEY Get() const { return key_; }
  void Close();

 private:
  HKEY key_ = nullptr;
};

// A REG_SZ or REG_EXPAND_SZ value (not expanded), up to its first NUL; nullopt when the value is
// missing, of another type or too large.
std::optional<std::string> ReadText(HKEY key, std::string_view name);
// The strings of a REG_MULTI_SZ value (a REG_SZ one gives its one string); nullopt as above.
std::optional<std::vector<std::string>> ReadTexts(HKEY key, std::string_view name);
// The names of the key's sub-keys, in the registry's order.
std::vector<std::string> SubKeyNames(HKEY key);
// The data of the key's REG_SZ values, in the registry's order.
std::vector<std::string> TextValues(HKEY key);

// UTF-8 of wide units up to the first NUL (or all of them when there is none).
std::string TextUpToNul(const wchar_t* units, std::size_t count);

}  // namespace vornex::win32
