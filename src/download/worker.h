// TSdlThread, the device worker of one slot (A..H). It lives as long as the station and runs
// one download job at a time on its own thread, narrating every step to the console with
// Report. Between jobs its slot index is -1 and it reports nothing.
//
// Who owns which deadline: the job's own paces (1000 ms before connecting, 2000 ms before the
// reset, 500 ms before the restore, the 3000 ms waits for other devices' downloads) live here
// and in the step files beside it; each device operation owns its exchanges' attempt counts
// and the serial port owns its per-read and per-write limits. Nothing here retries a step.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "coordination/thread_base.h"
#include "protocols/usb_device.h"

namespace vornex {

// Workers inside their image update right now; no worker resets its device while another is
// still being flashed (for at most 30 waits of 3000 ms).
extern std::atomic<std::uint8_t> g_nDownLoadCount;

// The AT identity saved by a backup: SN, IMEI, MEID, BRADDR, TFLAG (IMEI and BRADDR stay empty).
struct TIdentityBlock {
  std::array<std::string, 5> slots;
};
constexpr int kSlotSn = 0;
constexpr int kSlotMeid = 2;
constexpr int kSlotTflag = 4;

// One saved NV item: item number (little-endian) and its 128 data bytes.
struct TNvRecord {
  std::array<std::uint8_t, 130> bytes{};
  std::uint16_t Item() const { return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)); }
};

struct TNvStore {
  std::vector<TNvRecord> records;
};

// The protocol phases that the progress scale knows, in the order of its slots.
constexpr std::array<std::uint8_t, 8> kProgressPhases = {0, 2, 3, 4, 5, 13, 9, 30};

class TSdlThread : public TBaseThread {
 public:
  TSdlThread();
  ~TSdlThread();

  // 1 while a job runs, else 0. Written by the worker's thread, read by the console's.
  std::int32_t BusyFlag() const { return busy_.load(std::memory_order_relaxed); }

  // Posts one CNF_SINGLE report: value 0..1000 is progress, -1 pass, -2 failure, -5 information,
  // -7 silent; any other value above 1000 is sent as that code. The text is formatted into at
  // most 511 units (longer text is cut). Nothing is posted between jobs.
  void Report(std::int32_t value, const char* format = nullptr, ...)
      __attribute__((format(printf, 3, 4)));

  // Maps a protocol progress record of the running job onto the slot's 0..1000 scale; nothing
  // for an unknown phase. Exposed for the progress tests.
  std::optional<std::uint32_t> ProgressPosition(std::uint8_t phase, std::uint8_t percent) const;
  // Sets the phase weights and bases from the two file sizes in bytes.
  void SetProgressScale(std::uint64_t programmerBytes, std::uint64_t imageBytes);

 protected:
  void OnRequest(std::uint32_t type, TRequestRecord record) override;

 private:
  // The sequence of one job (worker.cpp).
  void RunDownloadJob(std::unique_ptr<TWorkerJob> job);
  void EndJob(std::uint32_t startTick);
  std::int32_t SwitchDiagOff(const TUsbGroup& group);
  static void OnLibProgress(void* user, std::int32_t status, const void* data);

  // Version check (version_check.cpp).
  std::int32_t CheckVersion(const std::string& tag);

  // Identity backup and restore (identity_backup.cpp).
  std::int32_t BackupDeviceData(const TWorkerJob& job);
  std::int32_t BackupAtItems();
  std::int32_t BackupNvItems();
  std::int32_t RestoreDeviceData(const TWorkerJob& job);
  std::int32_t RestoreNvItems();
  std::int32_t RestoreAtItems();
  void SaveDataInfo();
  void DiscardBackup();

  // Reset and re-discovery (reset_rediscovery.cpp).
  std::uint8_t ResetAndReopen(TWorkerJob& job);
  std::int32_t FindDeviceAgain(TWorkerJob& job);

  // Image update (image_update.cpp).
  std::int32_t UpdateDeviceImage(const TWorkerJob& job);

  std::atomic<std::int32_t> busy_{0};
  std::int32_t slot_ = -1;
  std::int32_t com_ = -1;
  std::unique_ptr<TUsbDevice> device_;
  std::array<std::uint32_t, 8> phaseWeights_{};
  std::array<std::uint32_t, 8> phaseBases_{};
  std::uint32_t weightTotal_ = 1;
  std::uint32_t jobStartTick_ = 0;
  std::unique_ptr<TIdentityBlock> identity_;
  std::unique_ptr<TNvStore> nvStore_;
  std::int32_t restoreFailed_ = 0;
};

}  // namespace vornex
