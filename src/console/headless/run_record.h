// What a headless run keeps of each slot for factory systems: port, verdict, elapsed time,
// firmware versions before and after, and the identity values the station read and wrote back,
// gathered from the workers' reports. Written as one JSON line per device.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "coordination/messages.h"

namespace vornex {

struct TRunRecord {
  bool started = false;      // a job ran for the slot
  bool finished = false;     // its "Download Finished" report arrived
  std::int32_t verdict = 0;  // CNF_PASS, CNF_FAIL, or 0 while undecided
  std::int32_t com = 0;
  std::uint32_t elapsedMs = 0;
  std::string lastText;      // the last failure or pass text
  std::string versionBefore;
  std::string versionAfter;  // the image's version, once the device was flashed
  std::string serialNumber, meid, testFlag;      // read by the backup
  bool serialRestored = false, meidRestored = false, testFlagRestored = false;
};

// Takes what the run records need from one worker report.
void RecordReport(TRunRecord& record, const TSingleCnf& report);

// One JSON object (no line end) for the slot.
void WriteRunJson(std::ostream& out, int slot, const TRunRecord& record);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& text);

}  // namespace vornex
