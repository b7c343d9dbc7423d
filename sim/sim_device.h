// One simulated device: its memory (TDeviceModel), its modem (TAtModem) and diagnostic
// (TDiagFramer + TDiagEngine) behaviour, its ports with their pseudo-terminals, its injected
// faults, and its timeline: when its ports vanish and when they come back. The bench owns the
// devices, drives their ports from its I/O thread and carries out the timeline (COM numbers,
// registry files, port links); the device decides what happens.
//
// A device's life:
// - The modem answers only while the firmware runs; in the boot downloader and the programmer
//   it stays silent, as the firmware's AT interpreter is not running.
// - A reset (0x0B answered) makes every port vanish kVanishDelayMs later. Unless the device
//   never returns, they come back kVanishDelayMs + bootDelayMs after the reset under the same
//   key, with the same COM numbers (new ones with renumberOnReset), freshly booted: firmware
//   layer, echo on, diagnostic interface off, RAM and an unfinished (unclosed) stream lost.
//   With the serialAfterReset fault it then answers that serial number. With damagedResetReply
//   the reset's acknowledge goes out with a broken CRC, and the device reboots all the same.
// - With reenumerateOnDownloadMode, 0x3A makes the ports vanish too; the boot downloader comes
//   back kDownloadReenumerateMs after it as the diagnostic port alone, under its COM number.
// - With reenumerateOnProgrammerStart, the same happens after the go command; the programmer's
//   port comes back after kProgrammerReenumerateMs, renumbered when renumberOnReset is set.
// - Between a reply that ends an enumeration and the vanishing, nothing is answered; the ports
//   vanish once the station has read that reply, so that the reply is not lost in the hang-up.
// - Unplugged (by the bench's user or mid-stream by the injected fault), it vanishes at once.
// - A device whose firmware is erased (a rewrite cut off after the erase) starts its boot
//   downloader at every power-on and shows its diagnostic port alone, until an image is
//   installed.
// - With diagBusy or modemBusy, another program holds that port from each enumeration on.
// - Taken out of its socket (TakenOut), it keeps its memory and forgets its timeline; put back,
//   it is attached again, freshly booted.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/bench_registry.h"
#include "foundation/pacing.h"
#include "sim/at_modem.h"
#include "sim/diag_engine.h"
#include "sim/diag_framer.h"
#include "sim/pty.h"
#include "sim/sim_config.h"
#include "sim/state_report.h"

namespace vornex::sim {

enum class TSimPortRole { kDiag, kModem, kExtra };

// Bytes that may wait for a slow reader on one port; beyond this they are dropped, as a real
// device's transmit buffer overruns.
constexpr std::size_t kMaxPendingOutputBytes = 64 * 1024;

struct TSimPort {
  TSimPortRole role = TSimPortRole::kExtra;
  int interfaceNumber = 0;    // USB interface: 0 diagnostics, 1 modem, 2.. extra
  int com = 0;                // kept while the device is away; 0 before the first enumeration
  std::unique_ptr<TPty> pty;  // present while the port is on the bench
  TByteVector pendingOutput;  // replies the station has not taken yet
  bool stalled = false;       // the master failed; not polled again until re-enumerated
};

// Which ports the next enumeration brings, and how.
struct TEnumeration {
  bool allPorts = true;     // false: the diagnostic port alone (download layers)
  bool renumber = false;    // new COM numbers
  bool reboot = false;      // the firmware starts afresh
  bool afterReset = false;  // the reboot follows a reset (not a replug)
};

// A device as it is put into a socket: its settings and faults, and what sets it apart from a
// factory-fresh device.
struct TNewcomer {
  TDeviceConfig config;
  // It answers an empty serial number and MEID; its NV items are its own (never all zeros).
  bool blankIdentity = false;
  // Its last rewrite was cut off after the erase: it boots into the boot downloader.
  bool firmwareErased = false;
};

class TSimDevice {
 public:
  // The device of generation `generation` in socket `index` (see MakeFactoryDevice).
  TSimDevice(int index, int generation, const TNewcomer& device,
             const TProgrammerImage* programmer);
  TSimDevice(const TSimDevice&) = delete;
  TSimDevice& operator=(const TSimDevice&) = delete;

  int Index() const { return index_; }
  const std::string& Key() const { return key_; }
  const TDeviceConfig& Config() const { return config_; }
  std::vector<TSimPort>& Ports() { return ports_; }
  const std::vector<TSimPort>& Ports() const { return ports_; }
  bool Present() const { return present_; }
  // False when power-on brings the boot downloader's diagnostic port alone (firmware erased).
  bool AllPortsAtPowerOn() const { return !model_.firmwareErased; }
  // Bumped whenever presence, layer, firmware or the open stream's length change, and after every
  // input it handled (its command counts, identity and NV items may have changed), so that
  // waiters can look again.
  std::uint64_t Revision() const { return revision_; }

  // The registry record of one of its ports under its current COM number.
  bench::TBenchPort PortRecord(const TSimPort& port, const std::string& ttyPath) const;

  // Bytes the station wrote to one of the device's ports; replies go to the port's output.
  void OnInput(TSimPort& port, const std::uint8_t* bytes, std::size_t length);

  // Timeline. When the next step is due; none while nothing is scheduled.
  std::optional<pacing::TClock::time_point> NextStepAt() const;
  // True when the ports should vanish now (the step is then taken off the timeline); the bench
  // removes them and calls Detached.
  bool DueDetach();
  // True when the ports should come back now, with `how`; the bench brings them and calls
  // Attached.
  bool DueAttach(TEnumeration* how);
  // The ports are gone now.
  void Detached();
  // The ports of `how` are back now.
  void Attached(const TEnumeration& how);
  // Unplugged by the bench's user: gone now, until Replug.
  void Unplug();
  // Plugged in again: back at once, freshly booted. Nothing while it is present.
  void Replug();
  // Taken out of its socket by the bench's user, its ports gone: nothing is left on its timeline
  // (a reboot under way never ends while it is out).
  void TakenOut();
  // Every injected fault is gone from now on; a port already held busy stays held until the
  // device's next enumeration.
  void ClearFaults() { config_.faults = TDeviceFaults{}; }

  // A snapshot of the device's state; without `nvDigest`, the digest stays empty (it hashes every
  // NV item, too much to do at every change of a device).
  TDeviceReport Report(bool nvDigest = true) const;
  // One NV item's data; none when the item is inactive.
  std::optional<TNvData> NvItem(std::uint16_t item) const;

 private:
  void OnDiagInput(TSimPort& port, const std::uint8_t* bytes, std::size_t length);
  // Adds replies to a port's output; on overrun the older ones are dropped.
  void Queue(TSimPort& port, const TByteVector& bytes);
  void OnLifeEvent(TLifeEvent event);
  // True when the station has taken every reply written to the device's ports.
  bool RepliesTaken() const;
  // The ports vanish kVanishDelayMs from now, or as soon as the station has read the last reply
  // after that (at most kVanishLimitMs from now); with comeBack they return backAfterMs from now,
  // or right after vanishing when that is later.
  void ScheduleVanish(std::uint32_t backAfterMs, std::optional<TEnumeration> comeBack);

  int index_;
  std::string key_;
  TDeviceConfig config_;
  TDeviceModel model_;
  TAtModem modem_;
  TDiagFramer framer_;
  TDiagEngine engine_;
  std::vector<TSimPort> ports_;
  bool present_ = false;
  bool halted_ = false;  // between a reply that ends an enumeration and the ports vanishing
  std::uint32_t diagReplies_ = 0;
  std::uint64_t revision_ = 0;
  std::optional<pacing::TDeadline> detachAt_;
  std::optional<pacing::TDeadline> readerLimit_;  // how long a vanishing waits for the station
  std::optional<pacing::TDeadline> attachAt_;
  TEnumeration nextEnumeration_;
};

// The grouping key of the device on bench socket `index`: 8 upper-case hexadecimal digits.
std::string SocketKey(int index);

}  // namespace vornex::sim
