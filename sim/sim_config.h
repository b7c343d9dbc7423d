// What a simulated bench is made of: the settings and injected faults of each device, the
// programmer that the boot downloaders expect, and the fixed delays of a device's life (reboot,
// re-enumeration). Plain records, filled by the library's user or by the program's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "protocols/packet.h"

namespace vornex::sim {

constexpr int kMaxDevices = 16;
constexpr int kMaxExtraPorts = 2;
// COM numbers are handed out from here upward (COM1 and COM2 belong to the machine).
constexpr int kFirstComNumber = 3;
constexpr int kLastComNumber = 255;

// A device's life, in milliseconds at time scale 1 (all on the pacing clock):
// how long a reset device stays away after its ports vanished (shorter than the station's wait);
constexpr std::uint32_t kBootDelayMs = 6000;
// the same for a device configured to reboot slowly (longer than the station's wait);
constexpr std::uint32_t kSlowBootDelayMs = 17000;
// from the reply that ends an enumeration (reset, download mode, programmer start) until the
// ports vanish, at the least; they vanish once the station has read the reply (looked at every
// kVanishRecheckMs), or after kVanishLimitMs when nobody reads it;
constexpr std::uint32_t kVanishDelayMs = 100;
constexpr std::uint32_t kVanishRecheckMs = 20;
constexpr std::uint32_t kVanishLimitMs = 3000;
// from the switch into download mode, or the start of the programmer, until the re-enumerated
// port is back, when the device is configured to re-enumerate there.
constexpr std::uint32_t kDownloadReenumerateMs = 2500;
constexpr std::uint32_t kProgrammerReenumerateMs = 2500;

constexpr const char* kDefaultFirmwareVersion = "VX730-R1.0.0";

// Flash that a device's programmer can write, in MiB: unless configured, and at most (a stream
// write addresses its block with a 32-bit offset).
constexpr std::uint32_t kDefaultFlashMiB = 32;
constexpr std::uint32_t kMaxFlashMiB = 1024;

// How a running programmer answers stream writes.
enum class TStreamReplies {
  kAcknowledge,  // 0x08, the normal case
  kLogReport,    // a 0x0D text report instead; the data is written
  kErrorReport,  // a 0x0E text report instead; the data is not written
};

// How a modem words its replies; real modems differ from the plain shape.
enum class TAtReplyStyle {
  kPlain,               // "\r\n+NAME: value\r\n\r\nOK\r\n", errors "\r\nERROR\r\n"
  kCmeErrors,           // errors as "\r\n+CME ERROR: 10\r\n"
  kUnsolicitedAfterOk,  // an unsolicited result line follows every final result
  kCrOnly,              // every line ends in CR alone
  kBlankAfterOk,        // an empty line follows every final result
};

// Faults injected into one device.
struct TDeviceFaults {
  bool silentDiag = false;        // the diagnostic port never answers
  bool silentModem = false;       // the modem port never answers (no echo either)
  std::uint32_t badCrcReply = 0;  // this diagnostic reply (1 = the first) has a broken CRC
  bool refuseBlocks = false;      // download-mode write blocks are refused (0x03)
  TStreamReplies streamReplies = TStreamReplies::kAcknowledge;
  bool nvReadsFail = false;                       // every NV read answers a non-zero status
  bool noReturn = false;                          // after a reset the device never comes back
  bool diagBusy = false;                          // another opener holds the diagnostic port
  bool modemBusy = false;                         // another opener holds the modem port
  std::optional<std::uint64_t> unplugAfterBytes;  // unplugged for good once this much is streamed
  std::set<std::uint16_t> nvWriteFailItems;       // writes of these items fail and change nothing
  std::set<std::uint16_t> nvStuckItems;  // writes of these items succeed but change nothing
  bool atWritesFail = false;  // the identity writes (serial, MEID, test flag) answer ERROR
  // When set: every reboot after a reset answers this serial number, as if another device had
  // come back on the socket; later serial writes work normally.
  std::string serialAfterReset;
  bool errorReportOnClose = false;  // the programmer's close gets a 0x0E report; nothing installed
  bool errorReportOnReset = false;  // the programmer's reset gets a 0x0E report; no reboot
  bool damagedResetReply = false;   // the reset's acknowledge arrives damaged; the device reboots
  TAtReplyStyle atReplyStyle = TAtReplyStyle::kPlain;
  // AT commands (names as sent, without "=value") that this modem answers with an error result.
  std::set<std::string> atRefused;
};

struct TDeviceConfig {
  std::string firmwareVersion;  // empty: kDefaultFirmwareVersion
  int extraPorts = 0;           // serial ports besides modem and diagnostics, 0..kMaxExtraPorts
  std::uint32_t bootDelayMs = kBootDelayMs;
  std::uint32_t flashMiB = kDefaultFlashMiB;  // 1..kMaxFlashMiB
  bool renumberOnReset = false;               // new COM numbers after a reset or programmer start
  bool reenumerateOnDownloadMode = false;     // 0x3A makes the device leave and come back
  bool reenumerateOnProgrammerStart = false;  // so does the start of the programmer
  TDeviceFaults faults;
};

// The programmer that a boot downloader accepts: these bytes, written to RAM from this address.
struct TProgrammerImage {
  TByteVector data;
  std::uint32_t startAddress = 0;
};

struct TBenchConfig {
  std::string folder;                  // registry folder; dev/ below it holds the port links
  std::vector<TDeviceConfig> devices;  // 1..kMaxDevices
  // Without one, a go command starts any program that was written to its address.
  std::optional<TProgrammerImage> programmer;
};

}  // namespace vornex::sim
