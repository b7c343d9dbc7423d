// TSdlThread, the device worker of one slot (A..H). It lives as long as the station and runs
// one download job at a time on its own thread, narrating every step to the console with
// Report and ending every job with a typed TJobSummary. Between jobs its slot index is -1 and it
// reports nothing.
//
// Identity first: the backup is committed to the station record store before the device is
// switched into download mode (a job that cannot commit it ends without touching the device),
// and a job passes only when the identity read back after the restore equals the backup; then
// the backup is closed. Every other end leaves the backup open in the store for recovery.
//
// Stopping (RequestStop, when the station closes): a job that has not begun its image update
// ends before touching the device; during the image stream it ends after the block in flight;
// once the stream is complete it runs on through reset, restore and verification, since
// stopping there is what would strand the device without its identity. A job stopped before or
// during its stream ends FAILED "Interrupted" with its backup open.
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

#include "download/identity_backup.h"
#include "download/identity_evidence.h"
#include "download/step_clock.h"
#include "messaging/thread_base.h"
#include "protocols/usb_device.h"
#include "records/identity_record.h"
#include "records/job_summary.h"

namespace vornex {

// Workers inside their image update right now; no worker resets its device while another is
// still being flashed (for at most 30 waits of 3000 ms).
extern std::atomic<std::uint8_t> g_nDownLoadCount;

// The protocol phases that the progress scale knows, in the order of its slots.
constexpr std::array<std::uint8_t, 8> kProgressPhases = {0, 2, 3, 4, 5, 13, 9, 30};

class TSdlThread final : public TBaseThread, private TStepReporter {
 public:
  TSdlThread();
  ~TSdlThread();

  // 1 while a job runs, else 0. Written by the worker's thread, read by the console's.
  std::int32_t BusyFlag() const { return busy_.load(std::memory_order_relaxed); }

  // Asks the running job, and every later one, to end at its next safe point (see above). Safe
  // from any thread; stays in force for the life of the worker.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }

  // Posts one CNF_SINGLE report: value 0..1000 is progress, -1 pass, -2 failure, -5 information,
  // -7 silent; any other value above 1000 is sent as that code. The text is formatted into at
  // most 511 units (longer text is cut). Nothing is posted between jobs.
  void Report(std::int32_t value, const char* format = nullptr, ...) VORNEX_PRINTF(3, 4);

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
  // The steps from connecting to the verdict; returns with the verdict reported.
  void RunSteps(TWorkerJob& job);
  // From download mode to the verdict: image update, reset, restore and read-back.
  void FlashAndRestore(TWorkerJob& job);
  // The identity written back, read back and compared; the backup closed when it all arrived.
  void RestoreAndClose(TWorkerJob& job);
  // Reports the failure, notes it in the summary and in the store's open backup.
  void Fail(const char* text);
  // Fails the job "Interrupted" with its cause: stopped before the device was written to, or
  // during its image stream.
  void Interrupted(bool midStream);
  // Logs what lies behind the failure about to be reported and keeps the first in the summary.
  void Cause(const std::string& cause);
  // The firmware version the device tells now; empty without a modem port or an answer.
  std::string ReadVersion();
  void EndJob(std::uint32_t startTick);
  static void OnLibProgress(void* user, std::int32_t status, const void* data);
  void StepReport(std::int32_t value, const std::string& text) override;
  void StepBegins(TTimedStep step) override { clock_->Begin(step); }

  // Open backups and the evidence of whose they are (open_backup.cpp).
  // A device found in download mode: finished from its open backup in the store, if it has one;
  // whether it is that backup's device is asked only after its reboot.
  void FinishStranded(TWorkerJob& job, std::uint8_t flags);
  // Whether the job's image is on the device already (it finishes from an open backup).
  bool ImageOnDevice(const TWorkerJob& job) const;
  // Takes an open backup from the store as the job's backup, in place of a new one. Empty, or
  // the failure text when it lacks items the job's image set keeps.
  std::string AdoptOpenBackup(const TWorkerJob& job, TIdentityBackup backup);
  // The open backup in the store that the device answering `device` shows to be its own (where
  // several of one device are open, the newest); none when it shows none to be.
  struct TOpenBackupChoice {
    std::optional<TIdentityBackup> backup;
    std::string storeError;  // the store could not be read
    std::string ambiguity;   // backups of different devices fit a blank device: the cause
  };
  TOpenBackupChoice DecidingOpenBackup(const TWorkerJob& job, const TIdentityBlock& device);
  // After the reboot, before anything is written: true when the device shows that it is the
  // device of the job's backup; else the job has failed with the reason and the remedy.
  bool ShowsItsBackup(const TWorkerJob& job);
  // After a verified PASS: closes the device's other open backups that hold exactly what was
  // read back, as superseded by this job.
  void CloseSupersededBackups();
  // The cause when a port of the device is held by another program (*diagnostic: the
  // diagnostic port); empty when none is.
  std::string HeldPortCause(const TWorkerJob& job, bool* diagnostic);

  // Version check (version_check.cpp).
  std::int32_t CheckVersion(const std::string& tag);

  // Identity backup (worker.cpp): reads it whole and commits it to the store, or, when the store
  // holds an open backup of the device, takes that one (*fromOpenBackup) without reading the NV
  // items. Empty when the job may go on; else the failure text (the device is untouched,
  // nothing of it committed). A blank identity is never taken unless the job says so.
  std::string BackupDeviceData(const TWorkerJob& job, bool* fromOpenBackup);
  // Writes the DataInfo file of the backup and reports its name (and a failure to write it).
  void SaveDataInfo();
  void DiscardBackup();

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
  std::optional<TIdentityBackup> backup_;  // of the running job, until the restore is verified
  // What a device answering no serial number and no MEID after its reboot shows of itself.
  TBlankRule afterRewrite_ = TBlankRule::kOwnRewrite;
  std::int32_t restoreFailed_ = 0;
  TJobSummary summary_;              // of the running job
  std::optional<TStepClock> clock_;  // times the steps of the running job into summary_
  TStationStore* store_ = nullptr;   // of the running job
  std::atomic<bool> stop_{false};
};

}  // namespace vornex
