// A device's identity as the station saves it before a rewrite and writes back afterwards: the
// AT identity values (serial number, MEID, test flag) and the NV items read over the diagnostic
// port, with what identifies the device and the image. Plain records below the store, shared by
// the device worker, the station record store and the recovery command.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vornex {

// The AT identity saved by a backup: SN, IMEI, MEID, BRADDR, TFLAG (IMEI and BRADDR stay empty).
// An empty slot is a value the device did not give (its command failed or answered ERROR).
struct TIdentityBlock {
  std::array<std::string, 5> slots;
  bool operator==(const TIdentityBlock&) const = default;
};
constexpr int kSlotSn = 0;
constexpr int kSlotImei = 1;
constexpr int kSlotMeid = 2;
constexpr int kSlotBraddr = 3;
constexpr int kSlotTflag = 4;

// One saved NV item: item number (little-endian) and its 128 data bytes.
struct TNvRecord {
  std::array<std::uint8_t, 130> bytes{};
  std::uint16_t Item() const { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }
  bool operator==(const TNvRecord&) const = default;
};

struct TNvStore {
  std::vector<TNvRecord> records;
};

// Where a backup came from.
constexpr const char* kBackupSourceJob = "job";            // a download job of the station
constexpr const char* kBackupSourceDataInfo = "datainfo";  // imported from a DataInfo file
constexpr const char* kBackupSourceLine = "line";  // copied from another station over the line

// One identity backup with the device and image it belongs to.
struct TIdentityBackup {
  std::int64_t id = 0;    // given by the store
  std::string createdAt;  // local time "YYYY-MM-DD HH:MM:SS", given by the store
  std::string source = kBackupSourceJob;
  std::string sourceFile;  // the DataInfo file of an import
  std::int32_t slot = -1;  // 0..7, -1 when not taken by a job
  std::string deviceKey;   // grouping key of the device's ports
  std::int32_t diagCom = 0;
  std::int32_t modemCom = 0;
  std::string firmwareVersion;  // the device's version before the rewrite
  std::string imageTag;
  std::string imageSha256;         // lower-case hex
  std::uint32_t itemSwitches = 0;  // kItemAt / kItemNv of the image set
  TIdentityBlock at;
  std::vector<TNvRecord> nv;  // in the order read, duplicates included
  // While open: why it is still open (the failure of its job; empty while the job runs).
  std::string openReason;
  bool open = true;
  // A copy of another station's backup taken from the line: that station's id and the backup's
  // id there; empty and 0 for a backup of this station's own.
  std::string originStation;
  std::int64_t originId = 0;
};

}  // namespace vornex
