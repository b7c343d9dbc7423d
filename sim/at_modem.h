// The modem port of a simulated device: AT command lines that end in CR (LF is ignored), echoed
// as received while echo is on (ATE1, the default; ATE0 turns it off), answered in the shapes
// the station expects:
//   value read:  "\r\n+NAME: value\r\n\r\nOK\r\n"
//   write, plain command:  "\r\nOK\r\n"
//   anything else:  "\r\nERROR\r\n"
// Commands: AT, ATE0/ATE1, AT+MDPARA=DIAG,ON|OFF (and AT+MDPARA? to read it), AT+MDVER, and the
// identity values AT+NEWSN, AT+NEWMEID, AT+MDTFLAG with their "=value" forms (values stored as
// sent). Command names are matched without regard to letter case; values are kept as they are.
// With the atWritesFail fault the identity writes answer ERROR and change nothing; reads still
// work. The commands named in atRefused (without "=value") answer the error result, reads and
// writes alike, and change nothing. The reply style words every reply as some real modems do:
// "+CME ERROR: 10" for ERROR, an unsolicited result or an empty line after every final result,
// or CR alone at the end of every line. Pure: bytes in, reply bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocols/packet.h"
#include "sim/device_model.h"
#include "sim/sim_config.h"

namespace vornex::sim {

// A line longer than this (without its CR) is answered with ERROR, as a modem's command buffer
// overflows.
constexpr std::size_t kAtLineLimitBytes = 512;

class TAtModem {
 public:
  // The faults, when given, are the device's own and outlive the modem.
  explicit TAtModem(TDeviceModel& model, const TDeviceFaults* faults = nullptr)
      : model_(model), faults_(faults) {}

  // Feeds received bytes; returns what the modem writes back (echo and replies), possibly empty.
  TByteVector Feed(const std::uint8_t* bytes, std::size_t length);
  // Power-on state: echo on, no partial line.
  void Reboot();
  bool EchoOn() const { return echo_; }

 private:
  void Answer(const std::string& line, TByteVector* out);
  // The reply to one command line, without the echo, in the plain style.
  std::string Reply(const std::string& line);
  // A plain reply in the device's reply style.
  std::string Styled(std::string reply) const;
  // True when the device refuses this command (its name without "=value").
  bool Refused(std::string_view command) const;

  TDeviceModel& model_;
  const TDeviceFaults* faults_;
  std::string line_;
  bool overflow_ = false;
  bool echo_ = true;
};

}  // namespace vornex::sim
