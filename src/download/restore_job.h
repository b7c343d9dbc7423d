// The restore job: puts one identity backup back on its device outside a download job, with the
// same steps as the last ones of a download job. It finds the device (by the backup's key or a
// port the operator names), resets it back into its firmware when it waits in download mode,
// checks that it is the backup's device, writes the identity back, reads it back and compares,
// tells whether the device runs the backup's image, and records the job in the station record
// store; a verified restore closes the backup, any other end leaves it open. A device is written
// only when it shows that it is the backup's device (identity_evidence.h). "vornex restore"
// runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "download/identity_backup.h"
#include "records/identity_record.h"
#include "records/job_summary.h"

namespace vornex {

class TStationStore;

// Where a restore job tells what it found and did: whole lines as they stand, besides the
// identity steps' reports (0..1000 progress, -2 failure, -5 information).
class TRestoreReporter : public TStepReporter {
 public:
  virtual void Line(const std::string& text) = 0;

 protected:
  ~TRestoreReporter() = default;
};

// What a restore job is asked to do.
struct TRestoreRequest {
  // The backup: one of the store (id > 0), or read from a DataInfo file or another station's
  // backup from the line (id 0, source kBackupSourceLine, its origin named), which is kept in the
  // store once the device has shown it is its device, before the device is written.
  TIdentityBackup backup;
  // The device with the port of this COM number; 0 for the device with the backup's key.
  std::int32_t com = 0;
  // Restore even when the device does not show that it is the backup's device
  // (identity_evidence.h), or the device of a DataInfo file has an open backup.
  bool force = false;
  // Read the identity back and compare it (VerifyIdentity).
  bool verifyIdentity = true;
};

// How a restore job ended.
enum class TRestoreEnd : std::uint8_t {
  kRestored,           // the identity is on the device; the job is recorded
  kNotRestored,        // summary.failure says why; the job is recorded, the backup stays open
  kRefusedImport,      // a DataInfo file for a device with the open backup `held`: nothing
                       // written, nothing recorded
  kRecordsUnreadable,  // the store's open backups could not be read (`error`): nothing written
  kNotShown,           // a line backup for a device that does not show it is its device (`error`
                       // says why): nothing written, nothing kept or recorded
};

struct TRestoreOutcome {
  TRestoreEnd end = TRestoreEnd::kNotRestored;
  TJobSummary summary;                  // the job's account, as recorded
  std::optional<TIdentityBackup> held;  // kRefusedImport
  std::string error;                    // kRecordsUnreadable, kNotShown
};

// Runs the restore job; every line it has to say goes to the reporter while it runs.
TRestoreOutcome RunRestoreJob(TStationStore& store, TRestoreRequest request,
                              TRestoreReporter& reporter);

// The newest open backup in the store that may be of the device with this key, serial number
// or MEID (an empty value matches nothing); none when there is none. False with *error when the
// records cannot be read.
bool NewestOpenBackupOf(TStationStore& store, const std::string& key, const std::string& sn,
                        const std::string& meid, std::optional<TIdentityBackup>* newest,
                        std::string* error);

}  // namespace vornex
