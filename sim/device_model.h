// What one simulated device remembers: its firmware (flash content, digest, version), its
// identity values (serial number, MEID, test flag), its NV item store, its diagnostic-interface
// switch, and counters of everything it was asked. A rewrite installs new firmware and wipes
// identity and NV data to factory blanks, as on the real device; the station must put them back.
// A device whose rewrite was cut off after the erase holds no firmware at all and starts its boot
// downloader at power-on until an image is installed.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "protocols/packet.h"

namespace vornex::sim {

constexpr std::size_t kNvItemBytes = 128;
constexpr std::size_t kImageTagBytes = 32;
// Identity blanks after a rewrite.
constexpr const char* kBlankTestFlag = "0";

using TNvData = std::array<std::uint8_t, kNvItemBytes>;

struct TIdentity {
  std::string serialNumber;
  std::string meid;
  std::string testFlag;
};

struct TDeviceModel {
  std::string firmwareVersion;
  TByteVector flash;
  std::string flashSha256;  // lower-case hex digest of flash
  TIdentity identity;
  std::map<std::uint16_t, TNvData> nvItems;  // the active items
  bool diagInterfaceOn = false;
  bool firmwareErased = false;   // no firmware to start: power-on runs the boot downloader
  std::uint32_t flashCount = 0;  // completed rewrites
  std::uint32_t bootCount = 0;   // reboots after a reset (or a replug)
  std::map<std::string, std::uint64_t> commandCounts;

  // Counts one received command under its name ("AT+MDVER", "diag:26", ...).
  void Count(std::string_view name);
  // Makes the image the device's firmware: flash content and digest, version = its tag; then
  // identity values become blanks and every NV item's data becomes zeros (items stay active).
  void InstallFirmware(TByteVector image);
  // A rewrite cut off after the erase: flash, digest and version are empty and firmwareErased is
  // set; identity values and NV items stay as they were, unreadable until firmware runs again.
  void EraseFirmware();
  // SHA-256 over the active items in ascending order, each as item number (2 bytes, low byte
  // first) followed by its 128 data bytes.
  std::string NvDigest() const;
};

// The version text an image carries: its last 32 bytes (the whole image when shorter), cut at
// the first 0xFF and then at the first zero byte.
std::string ImageTag(const TByteVector& image);

// A factory-fresh device: a small synthetic firmware image whose tag is the version (when the
// version fits a tag), identity values and NV data derived from the socket's key and the
// device's generation there (0: the device the bench started with; every device put into the
// socket later has the next one), and the factory NV set. The test flag is the generation plus
// one, so that the devices of one socket differ in every identity value.
TDeviceModel MakeFactoryDevice(std::string_view key, std::string_view firmwareVersion,
                               int generation = 0);

}  // namespace vornex::sim
