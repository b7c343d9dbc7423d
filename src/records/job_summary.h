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

// The timed steps of a job, finer than TJobStep where the time goes: the image update is three
// steps here. Names as the records and reports spell them.
enum class TTimedStep : std::uint8_t {
  kConnect = 0,
  kVersionCheck,
  kBackup,
  kDownloadMode,
  kProgrammer,
  kImageStream,
  kReset,  // reset and found again
  kRestore,
  kReadBack,
  kCount
};
constexpr std::size_t kTimedStepCount = static_cast<std::size_t>(TTimedStep::kCount);
constexpr const char* kTimedStepNames[kTimedStepCount] = {
    "connect",      "version_check", "backup",  "download_mode", "programmer",
    "image_stream", "reset",         "restore", "read_back"};
// The same for people: in reports and on the terminal.
constexpr const char* kTimedStepTitles[kTimedStepCount] = {
    "connect",      "version check", "backup",  "download mode", "programmer",
    "image stream", "reset",         "restore", "read-back"};

// When a step began and ended, in milliseconds from the start of its job; -1 when it did not run.
struct TStepSpan {
  std::int32_t beginMs = -1;
  std::int32_t endMs = -1;

  bool Ran() const { return beginMs >= 0 && endMs >= beginMs; }
  std::int32_t Ms() const { return Ran() ? endMs - beginMs : 0; }
  bool operator==(const TStepSpan&) const = default;
};
using TStepTimes = std::array<TStepSpan, kTimedStepCount>;

// What a summary is about: a download job or a recovery from a stored backup.
constexpr const char* kJobKindFlash = "flash";
constexpr const char* kJobKindRestore = "restore";

// What of a job's own records the station could not keep (a full disk, records deleted or
// replaced under the station). The device is as the verdict says; only its records fall short,
// and the job's last words and the end of its run say so. Known to the job's account as it
// ends; the records themselves never hold it.
enum class TRecordPart : std::uint8_t { kJob, kClosing };
struct TRecordsNotKept {
  bool job = false;      // the job's account: the history and the yield report lack the job
  bool closing = false;  // the closing of the job's backup: the records still hold it open
  bool lost = false;     // the records were deleted or replaced while the station ran
  std::string why;       // the store's words for the first part not kept
  std::string note;      // what the operator is told: what was not kept, why, what to do

  bool Any() const { return job || closing; }
  // Notes that the part was not kept, and why (the first reason stays).
  void Add(TRecordPart part, bool recordsLost, const std::string& reason) {
    (part == TRecordPart::kJob ? job : closing) = true;
    lost = lost || recordsLost;
    if (why.empty()) why = reason;
  }
};

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
  TStepTimes times{};
  TRecordsNotKept notKept;  // set by the worker when a part of its records was not kept

  TStepSpan& Time(TTimedStep step) { return times[static_cast<std::size_t>(step)]; }
  const TStepSpan& Time(TTimedStep step) const { return times[static_cast<std::size_t>(step)]; }
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

// The step times as the records keep them: "begin:end" per step, separated by ';', empty for a
// step that did not run ("0:812;812:1020;;..."); and back, where anything unreadable reads as not
// run.
inline std::string StepTimesText(const TStepTimes& times) {
  std::string text;
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (i > 0) text += ';';
    if (times[i].Ran()) {
      text += std::to_string(times[i].beginMs) + ':' + std::to_string(times[i].endMs);
    }
  }
  return text;
}

inline TStepTimes StepTimesFromText(std::string_view text) {
  TStepTimes times{};
  const auto number = [](std::string_view digits, std::int32_t* value) {
    if (digits.empty() || digits.size() > 9) return false;
    std::int32_t n = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return false;
      n = n * 10 + (c - '0');
    }
    *value = n;
    return true;
  };
  for (std::size_t i = 0; i < times.size() && !text.empty(); ++i) {
    const std::size_t end = std::min(text.find(';'), text.size());
    const std::string_view field = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const std::size_t colon = field.find(':');
    TStepSpan span;
    if (colon != std::string_view::npos && number(field.substr(0, colon), &span.beginMs) &&
        number(field.substr(colon + 1), &span.endMs) && span.Ran()) {
      times[i] = span;
    }
  }
  return times;
}

}  // namespace vornex
