// The identity steps of a device: reading the AT identity values and the NV items before a
// rewrite, writing them back afterwards, and reading them back to prove that they arrived. The
// device worker runs them inside a download job; the recovery command runs the restore and its
// verification for a backup taken from the station record store or a DataInfo file (its file:
// download/data_info.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/identity_evidence.h"
#include "foundation/text.h"
#include "protocols/usb_device.h"
#include "records/identity_record.h"
#include "records/job_summary.h"

namespace vornex {

// Where the identity steps tell what they do, with the values of the worker's reports: 0..1000
// progress, -2 failure, -5 information.
class TStepReporter {
 public:
  virtual void StepReport(std::int32_t value, const std::string& text) = 0;
  // A timed step begins (the read-back after the writes of a restore).
  virtual void StepBegins(TTimedStep /*step*/) {}

 protected:
  ~TStepReporter() = default;
};

// Formats a report text (at most 511 units) and hands it to the reporter.
void Say(TStepReporter& reporter, std::int32_t value, const char* format, ...) VORNEX_PRINTF(3, 4);

// How a restore ended.
struct TRestoreResult {
  bool ok = false;        // the identity is on the device: verified, or every write succeeded
  bool verified = false;  // it was read back and compared
  int atWriteFailures = 0;
  int nvWriteFailures = 0;
  int atDiffer = 0;         // AT values that did not read back equal
  int nvDiffer = 0;         // NV records that did not read back equal
  TIdentityBlock readBack;  // the AT values read back (when verified)
  std::string failure;      // the operator's text when not ok

  // Notes the outcome in a job's account: values read back, differences, restore and
  // verification steps.
  void NoteIn(TJobSummary& summary) const;
};

// The identity operations on one connected device.
class TIdentityKeeper {
 public:
  TIdentityKeeper(TUsbDevice& device, TStepReporter& reporter)
      : device_(device), reporter_(reporter) {}

  // Reads SN, MEID and TFLAG into `at`; 1 when at least one value was read. A value the device
  // refused (ERROR) stays empty; one it did not answer at all is a gap, noted in `gaps`.
  std::int32_t BackupAtItems(TIdentityBlock& at, std::vector<std::string>& gaps);
  // Reads every listed NV item, in list order, appending one record per item read; the number
  // of records read. An item the device says it does not have is skipped; items it did not
  // answer for are a gap, noted in `gaps`.
  std::int32_t BackupNvItems(std::vector<TNvRecord>& nv, std::vector<std::string>& gaps);

  // Writes the backup's identity back (NV items when ItemNV is on, AT values when ItemAT is on),
  // then, with `verify`, reads it back and compares. ok when every value reads back equal (an
  // item whose write failed but reads back equal is fine); without `verify`, when every write
  // succeeded. With ItemNV on and no NV record to write, the restore fails.
  TRestoreResult RestoreDeviceData(const TIdentityBackup& backup, bool verify);

  // One AT identity value as the device answers it now (SN, MEID or TFLAG slot); nullopt when
  // its command failed.
  std::optional<std::string> ReadAtValue(int slot);
  // The serial number and MEID the device answers now (empty slots: not given), nothing else.
  TIdentityBlock AnsweredIdentity();
  // The device's NV items for the evidence of whose backup it is (identity_evidence.h): each
  // read at most once however often the reader is asked.
  TNvItemReader NvItemReader();

 private:
  // The number of failed writes.
  int RestoreNvItems(const std::vector<TNvRecord>& nv);
  int RestoreAtItems(const TIdentityBlock& at);
  // Reads back every value of the backup that the restore wrote and counts the differences.
  void VerifyIdentity(const TIdentityBackup& backup, TRestoreResult& result);

  TUsbDevice& device_;
  TStepReporter& reporter_;
};

}  // namespace vornex
