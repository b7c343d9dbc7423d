// The state of a simulated device as tests and factory scripts see it: firmware version, flash
// length and digest, the length of an open image stream, identity values, NV store digest and
// item count, diagnostic-interface switch, answering layer, presence and COM numbers, and how
// often each command arrived. As a record for the library's users and as JSON for the program's
// state file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace vornex::sim {

struct TDeviceReport {
  int index = 0;
  std::string key;       // grouping key in the port paths
  bool present = false;  // its ports are on the bench now
  std::string layer;     // "firmware", "download" or "programmer"
  std::string firmwareVersion;
  std::uint64_t flashLength = 0;
  std::string flashSha256;  // lower-case hex
  // Image bytes the running programmer has taken in its current, not yet closed stream; 0 when
  // no stream is open.
  std::uint64_t streamedBytes = 0;
  TIdentity identity;  // device-side bytes (Windows-1252)
  std::size_t nvItemCount = 0;
  std::string nvDigest;  // lower-case hex, see TDeviceModel::NvDigest
  bool diagInterfaceOn = false;
  bool echoOn = true;
  int diagCom = 0;  // COM numbers, kept while the device is away; 0 = none yet
  int modemCom = 0;
  std::vector<int> extraComs;
  std::uint32_t flashCount = 0;  // completed rewrites
  std::uint32_t bootCount = 0;   // reboots
  std::map<std::string, std::uint64_t> commandCounts;
};

// {"devices":[{...}, ...]} with one object per device; texts are converted to UTF-8 and
// escaped, so the result is valid JSON whatever the devices were told.
std::string ReportsToJson(const std::vector<TDeviceReport>& reports);

// Writes the text to a file atomically (temporary file, then rename). False with a reason.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace vornex::sim
