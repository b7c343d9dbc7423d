// Which USB interface of a product is its diagnostic port and which its modem port. The station
// cannot tell from a tty alone; a per-product table says it, keyed by vendor and product id.
//
// Built in: 05C6:9004 has its diagnostic port on interface 00 and its modem on interface 02;
// every other interface, and every interface of other products, is a plain serial port.
//
// The station's settings file (Vornex_730.ini beside the executable) may replace the entry of
// a product in section [UsbPorts], one key per product, "VVVV:PPPP" in hex (any letter case):
//
//   [UsbPorts]
//   05C6:9004=00=Diagnostics,02=Modem,03=Serial
//
// The value lists "<interface number in hex>=<role>" items separated by commas; roles are
// Diagnostics, Modem and Serial (any letter case). A setting replaces the whole built-in entry
// of its product: interfaces it does not name are plain serial ports. Items that do not parse
// are ignored; a value without any valid item leaves the built-in entry in force.
//
// The products of the table, built in or set, are the station's products: where the system
// lists ports by product (the registry method of Windows), only theirs are listed.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vornex::usb_roles {

constexpr const char* kSection = "UsbPorts";

enum class TPortRole { kSerial, kDiagnostics, kModem };

// Interface number -> role; interfaces not listed are kSerial.
using TInterfaceRoles = std::map<int, TPortRole>;

// The settings key of a product: "05C6:9004".
std::string ProductKey(std::uint16_t vendorId, std::uint16_t productId);

// The roles of "00=Diagnostics,02=Modem"; nullopt when the text holds no valid item.
std::optional<TInterfaceRoles> ParseRoles(std::string_view text);

// The built-in entry of a product; empty (all plain serial) for a product the table lacks.
TInterfaceRoles BuiltInRoles(std::uint16_t vendorId, std::uint16_t productId);

// The roles in force for a product: the settings file's entry if it has a valid one, else the
// built-in entry. An absent file or section is no error.
TInterfaceRoles RolesOf(const std::string& settingsPath, std::uint16_t vendorId,
                        std::uint16_t productId);

// True for a product the station knows: one with a built-in entry, or with a valid entry in the
// settings file.
bool IsKnownProduct(const std::string& settingsPath, std::uint16_t vendorId,
                    std::uint16_t productId);

// The role of one interface number under a product's roles.
TPortRole RoleOf(const TInterfaceRoles& roles, int interfaceNumber);

}  // namespace vornex::usb_roles
