// The typed account of one job that a device worker or a restore gives at its end: which
// device, which image, what identity went in and came out, how each step went and the verdict.
// A plain record below the store and the message contract: the front-ends show it and the
// station record store keeps it as the station's history; nobody reads these facts out of
// report texts.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "records/identity_record.h"

namespace vornex {

// The steps of a job, in the order they run.
enum class TJobStep : std::uint8_t {
  kConnect = 0,
  kVersionCheck,
  kBackup,       // read and committed to the store
  kImageUpdate,  // download mode, programmer, flash image
  kReset,        // reset and found again
  kRestore,      // identity written back
  kVerify,       // identity read back and compared
  kCount
};
constexpr std::size_t kJobStepCount = static_cast<std::size_t>(TJobStep::kCount);

enum class TStepOutcome : std::uint8_t { kNotRun = 0, kOk, kFailed, kSkipped };
// One letter per outcome, in the order above.
constexpr char kStepLetters[] = {'-', 'o', 'x', 's'};

// What a summary is about: a download job or a recovery from a stored backup.
constexpr const char* kJobKindFlash = "flash";
constexpr const char* kJobKindRestore = "restore";

struct TJobSummary {
  std::int64_t id = 0;  // given by the store
  std::string kind = kJobKindFlash;
  std::int32_t slot = -1;
  std::string deviceKey;
  std::int32_t diagCom = 0;  // ports at the start of the job
  std::int32_t modemCom = 0;
  std::int32_t diagComAfter = 0;  // ports after the reset; 0 when the device was not found
  std::int32_t modemComAfter = 0;
  std::string versionBefore;  // as the device told it before the rewrite
  std::string versionAfter;   // as the device told it after the restore; empty when not read
  std::string imageTag;
  std::string imageSha256;
  TIdentityBlock identityBefore;  // backed up
  TIdentityBlock identityAfter;   // read back after the restore
  std::int32_t nvBackedUp = 0;    // NV records saved
  std::int32_t nvDiffer = 0;      // NV records that did not read back equal
  std::int32_t atDiffer = 0;      // AT values that did not read back equal
  bool identityVerified = false;  // read back and compared (not just written)
  std::array<TStepOutcome, kJobStepCount> steps{};
  bool pass = false;
  std::string failure;        // the last failure text the operator saw; empty on PASS
  std::string cause;          // what lay behind it (no reply on COM5, no version tag ...)
  std::int64_t backupId = 0;  // the backup of this job in the store; 0 when none
  std::string startedAt;      // local time "YYYY-MM-DD HH:MM:SS.mmm"
  std::string endedAt;
  std::uint32_t elapsedMs = 0;

  TStepOutcome& Step(TJobStep step) { return steps[static_cast<std::size_t>(step)]; }
  TStepOutcome Step(TJobStep step) const { return steps[static_cast<std::size_t>(step)]; }
};

// The steps as one letter each ('-' not run, 'o' ok, 'x' failed, 's' skipped), and back; a letter
// that is none of these, or a step missing from the text, reads as not run.
inline std::string StepLetters(const std::array<TStepOutcome, kJobStepCount>& steps) {
  std::string text;
  for (const TStepOutcome outcome : steps) {
    const auto index = static_cast<std::size_t>(outcome);
    text.push_back(index < std::size(kStepLetters) ? kStepLetters[index] : '-');
  }
  return text;
}

inline std::array<TStepOutcome, kJobStepCount> StepsFromLetters(std::string_view letters) {
  std::array<TStepOutcome, kJobStepCount> steps{};
  for (std::size_t i = 0; i < steps.size() && i < letters.size(); ++i) {
    const char* found = std::find(std::begin(kStepLetters), std::end(kStepLetters), letters[i]);
    if (found != std::end(kStepLetters)) {
      steps[i] = static_cast<TStepOutcome>(found - std::begin(kStepLetters));
    }
  }
  return steps;
}

}  // namespace vornex
