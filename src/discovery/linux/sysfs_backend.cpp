// The sysfs backend: USB serial ports of real devices, found through <sysRoot>/class/tty.
//
// Each entry's `device` link leads to the tty's parent device: for a usb-serial ttyUSB<n> the
// port device, whose parent directory is the USB interface; for a ttyACM<n> the interface
// itself. The interface directory holds bInterfaceNumber; its parent is the USB device
// (idVendor, idProduct, bcdDevice, product), whose directory name ("1-1.2") is the path of the
// USB port that it sits on. The records and COM numbers are described in sysfs_backend.h.
#include "discovery/linux/sysfs_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "discovery/fnv_hash.h"
#include "discovery/linux/port_holders_linux.h"
#include "discovery/linux/read_fd.h"
#include "discovery/note_text.h"
#include "discovery/port_enumeration.h"
#include "discovery/usb_roles.h"
#include "foundation/settings.h"
#include "foundation/text.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;
using usb_roles::TPortRole;

constexpr int kUsbSerialFirstCom = 3;     // ttyUSB0
constexpr int kUsbSerialLastNumber = 60;  // ttyUSB60 -> COM63
constexpr int kAcmFirstCom = 64;          // ttyACM0
constexpr int kAcmLastNumber = 63;        // ttyACM63 -> COM127
// sysfs serves an attribute's text in at most one page; anything longer is not an attribute.
constexpr std::size_t kMaxAttributeBytes = 4096;

constexpr const char* kSerialInterfaceClass = "{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr const char* kModemInterfaceClass = "{2c7089aa-2e0e-11d1-b114-00c04fc2aae4}";
constexpr const char* kNoProductName = "USB Device";

// n of "<prefix><n>" when the rest is decimal digits only (no sign, no leading '+').
std::optional<int> NumberAfter(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix)) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

// The COM number of a tty name, 0 when it has none.
int ComOfTtyName(std::string_view name) {
  if (const auto n = NumberAfter(name, "ttyUSB"); n && *n <= kUsbSerialLastNumber) {
    return kUsbSerialFirstCom + *n;
  }
  if (const auto n = NumberAfter(name, "ttyACM"); n && *n <= kAcmLastNumber) {
    return kAcmFirstCom + *n;
  }
  return 0;
}

// The whole text of an attribute file; nullopt when it is missing or unreadable, or refused
// with a note: the open neither follows a link nor waits (a FIFO in an attribute's place must
// not stall the listing), the file must be a regular one, as every sysfs attribute reports
// itself, and is read to one byte past kMaxAttributeBytes at most.
std::optional<std::string> ReadAttributeFile(const fs::path& file, TDiscoveryNotes& notes) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ELOOP) {
      notes.push_back(
          RefusedNote("sysfs attribute " + NoteText(file.string()) + " refused: symbolic link"));
    }
    return std::nullopt;  // a missing attribute is no problem: several are optional
  }
  struct stat info {};
  std::string text;
  std::string refusal;
  if (::fstat(fd, &info) != 0) {
    refusal = "cannot be examined";
  } else if (!S_ISREG(info.st_mode)) {
    refusal = "not a regular file";
  } else {
    // A read error ends the text where it stands, as for a short attribute.
    text = ReadAtMost(fd, kMaxAttributeBytes + 1);
    if (text.size() > kMaxAttributeBytes) {
      refusal = "larger than " + std::to_string(kMaxAttributeBytes) + " bytes";
    }
  }
  ::close(fd);
  if (refusal.empty()) return text;
  notes.push_back(
      RefusedNote("sysfs attribute " + NoteText(file.string()) + " refused: " + refusal));
  return std::nullopt;
}

// The first line of an attribute file without trailing blanks; nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& file, TDiscoveryNotes& notes) {
  std::optional<std::string> text = ReadAttributeFile(file, notes);
  if (!text) return std::nullopt;
  if (const auto newline = text->find('\n'); newline != std::string::npos) text->resize(newline);
  while (!text->empty() && (text->back() == ' ' || text->back() == '\r' || text->back() == '\t')) {
    text->pop_back();
  }
  return text;
}

// A hex attribute of at most four digits ("05c6", "00"); nullopt otherwise.
std::optional<std::uint16_t> ReadHexAttribute(const fs::path& file, TDiscoveryNotes& notes) {
  const std::optional<std::string> text = ReadAttribute(file, notes);
  if (!text || text->empty() || text->size() > 4) return std::nullopt;
  unsigned value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, ec] = std::from_chars(text->data(), end, value, 16);
  if (ec != std::errc() || stop != end) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// A device string fit for a description: control characters dropped, blanks trimmed.
std::string CleanDeviceString(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out.push_back(c);
  }
  const auto first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  out.erase(0, first);
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string ProductLabel(const std::string& product, TPortRole role) {
  if (product.empty()) return kNoProductName;
  if (role != TPortRole::kDiagnostics && NamesDiagnosticPort(product)) {
    return kNoProductName;
  }
  return product;
}

// What sysfs tells about the USB interface of one tty.
struct TUsbInterface {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::optional<std::uint16_t> revision;
  int number = 0;
  std::string product;
  std::string interfaceName;  // "1-1.2:1.0"
  std::string portPath;       // "1-1.2"
};

// The USB interface of a tty entry, or nullopt when the tty does not belong to one (or the
// tree is incomplete).
std::optional<TUsbInterface> FindUsbInterface(const fs::path& ttyEntry, TDiscoveryNotes& notes) {
  std::error_code ec;
  const fs::path device = fs::canonical(ttyEntry / "device", ec);
  if (ec) return std::nullopt;  // no link, or a dangling one
  fs::path interfaceDir;
  for (const fs::path& candidate : {device, device.parent_path()}) {
    // Whatever stands there is read as the attribute, so that a planted one is noted.
    if (fs::exists(fs::symlink_status(candidate / "bInterfaceNumber", ec))) {
      interfaceDir = candidate;
      break;
    }
  }
  if (interfaceDir.empty()) return std::nullopt;
  const fs::path usbDir = interfaceDir.parent_path();

  TUsbInterface found;
  const auto number = ReadHexAttribute(interfaceDir / "bInterfaceNumber", notes);
  const auto vendorId = ReadHexAttribute(usbDir / "idVendor", notes);
  const auto productId = ReadHexAttribute(usbDir / "idProduct", notes);
  if (!number || !vendorId || !productId) return std::nullopt;
  found.number = *number;
  found.vendorId = *vendorId;
  found.productId = *productId;
  found.revision = ReadHexAttribute(usbDir / "bcdDevice", notes);
  found.product = CleanDeviceString(ReadAttribute(usbDir / "product", notes).value_or(""));
  found.interfaceName = interfaceDir.filename().string();
  found.portPath = usbDir.filename().string();
  if (found.portPath.empty()) return std::nullopt;
  return found;
}

std::string Hex(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The record of one tty; nullopt (noted) when its path does not fit the record.
std::optional<TPortInfo> MakeRecord(const std::string& ttyName, int com, const TUsbInterface& usb,
                                    TPortRole role, const std::string& ttyPath,
                                    TDiscoveryNotes& notes) {
  const std::string ids = "VID_" + Hex("%04X", usb.vendorId) + "&PID_" + Hex("%04X", usb.productId);
  const std::string mi = "MI_" + Hex("%02X", static_cast<unsigned>(usb.number));
  const bool modem = role == TPortRole::kModem;

  TPortInfo info;
  info.com = static_cast<std::uint8_t>(com);
  if (!TakeTtyPath(info, ttyPath, notes)) return std::nullopt;
  info.portClass = modem ? kPortClassModem : kPortClassSerial;
  info.path = "\\\\?\\USB#" + ids + "&" + mi + "#6&" + Hex("%08X", Fnv1a32(usb.portPath)) + "&0&" +
              Hex("%04X", static_cast<unsigned>(usb.number)) + "#" +
              (modem ? kModemInterfaceClass : kSerialInterfaceClass);
  const char* kind = role == TPortRole::kDiagnostics ? "Diagnostics"
                     : modem                         ? "Modem"
                                                     : "Serial Port";
  info.description = ProductLabel(usb.product, role) + " " + kind + " (" + ttyName + ")";
  std::string hardwareId = "USB\\" + ids;
  if (usb.revision) hardwareId += "&REV_" + Hex("%04X", *usb.revision);
  info.hardwareId = hardwareId + "&" + mi;
  info.deviceObjectName = ttyPath;
  info.location = usb.interfaceName;
  info.usb = 1;
  return info;
}

class TSysfsBackend final : public TPortBackend {
 public:
  TSysfsBackend(std::string sysRoot, std::string devRoot, std::string settingsPath,
                std::string procRoot)
      : sysRoot_(std::move(sysRoot)),
        devRoot_(std::move(devRoot)),
        settingsPath_(std::move(settingsPath)),
        procRoot_(std::move(procRoot)) {}

  std::vector<TPortInfo> ListPorts(TDiscoveryNotes& notes) override {
    const std::string settings = settingsPath_.empty() ? SettingsPath() : settingsPath_;
    // The roles of each product, read once per enumeration.
    std::map<std::uint32_t, usb_roles::TInterfaceRoles> roles;

    std::vector<std::pair<int, TPortInfo>> byCom;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(sysRoot_) / "class" / "tty", ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const int com = ComOfTtyName(name);
      if (com == 0) continue;
      const std::optional<TUsbInterface> usb = FindUsbInterface(it->path(), notes);
      if (!usb) continue;
      const std::uint32_t product = (std::uint32_t{usb->vendorId} << 16) | usb->productId;
      auto known = roles.find(product);
      if (known == roles.end()) {
        known = roles.emplace(product, usb_roles::RolesOf(settings, usb->vendorId, usb->productId))
                    .first;
      }
      const TPortRole role = usb_roles::RoleOf(known->second, usb->number);
      std::optional<TPortInfo> record =
          MakeRecord(name, com, *usb, role, (fs::path(devRoot_) / name).string(), notes);
      if (record) byCom.emplace_back(com, std::move(*record));
    }
    std::sort(byCom.begin(), byCom.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TPortInfo> found;
    found.reserve(byCom.size());
    for (auto& entry : byCom) found.push_back(std::move(entry.second));
    TestPortAccess(found, notes, [this](const std::vector<std::string>& ttyPaths) {
      return FindPortHolders(ttyPaths, procRoot_);
    });
    return found;
  }

 private:
  std::string sysRoot_;
  std::string devRoot_;
  std::string settingsPath_;
  std::string procRoot_;
};

}  // namespace

std::unique_ptr<TPortBackend> MakeSysfsBackend(std::string sysRoot, std::string devRoot,
                                               std::string settingsPath, std::string procRoot) {
  return std::make_unique<TSysfsBackend>(std::move(sysRoot), std::move(devRoot),
                                         std::move(settingsPath), std::move(procRoot));
}

std::unique_ptr<TPortBackend> MakeSystemBackend() {
  return MakeSysfsBackend("/sys", "/dev");
}

}  // namespace vornex
