// The per-product table of port roles and its override in the station's settings.
#include "discovery/usb_roles.h"

#include <cstdio>

#include "foundation/profile.h"
#include "foundation/text.h"

namespace vornex::usb_roles {
namespace {

struct TBuiltInEntry {
  std::uint16_t vendorId;
  std::uint16_t productId;
  const char* roles;
};

constexpr TBuiltInEntry kBuiltIn[] = {
    {0x05C6, 0x9004, "00=Diagnostics,02=Modem"},
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// One or two hex digits; -1 otherwise.
int ParseInterfaceNumber(std::string_view text) {
  if (text.empty() || text.size() > 2) return -1;
  int value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

std::optional<TPortRole> ParseRole(std::string_view text) {
  if (EqualsNoCase(text, "Diagnostics")) return TPortRole::kDiagnostics;
  if (EqualsNoCase(text, "Modem")) return TPortRole::kModem;
  if (EqualsNoCase(text, "Serial")) return TPortRole::kSerial;
  return std::nullopt;
}

}  // namespace

std::string ProductKey(std::uint16_t vendorId, std::uint16_t productId) {
  char key[16];
  std::snprintf(key, sizeof key, "%04X:%04X", static_cast<unsigned>(vendorId),
                static_cast<unsigned>(productId));
  return key;
}

std::optional<TInterfaceRoles> ParseRoles(std::string_view text) {
  TInterfaceRoles roles;
  bool any = false;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);

    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) continue;
    const int number = ParseInterfaceNumber(Trim(item.substr(0, equals)));
    const std::optional<TPortRole> role = ParseRole(Trim(item.substr(equals + 1)));
    if (number < 0 || !role) continue;
    roles[number] = *role;  // a later item for the same interface wins
    any = true;
  }
  if (!any) return std::nullopt;
  return roles;
}

TInterfaceRoles BuiltInRoles(std::uint16_t vendorId, std::uint16_t productId) {
  for (const TBuiltInEntry& entry : kBuiltIn) {
    if (entry.vendorId == vendorId && entry.productId == productId) {
      return ParseRoles(entry.roles).value_or(TInterfaceRoles{});
    }
  }
  return {};
}

TInterfaceRoles RolesOf(const std::string& settingsPath, std::uint16_t vendorId,
                        std::uint16_t productId) {
  const std::string value =
      profile::ReadString(settingsPath, kSection, ProductKey(vendorId, productId));
  if (std::optional<TInterfaceRoles> roles = ParseRoles(value)) return *roles;
  return BuiltInRoles(vendorId, productId);
}

bool IsKnownProduct(const std::string& settingsPath, std::uint16_t vendorId,
                    std::uint16_t productId) {
  for (const TBuiltInEntry& entry : kBuiltIn) {
    if (entry.vendorId == vendorId && entry.productId == productId) return true;
  }
  return ParseRoles(profile::ReadString(settingsPath, kSection, ProductKey(vendorId, productId)))
      .has_value();
}

TPortRole RoleOf(const TInterfaceRoles& roles, int interfaceNumber) {
  const auto it = roles.find(interfaceNumber);
  return it == roles.end() ? TPortRole::kSerial : it->second;
}

}  // namespace vornex::usb_roles
