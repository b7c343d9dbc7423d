// The version check: the image may replace firmware of the same or an older version, never a
// newer one. Versions are compared as texts, ordinally, after upper-casing a to z.
#include <string>

#include "download/download_limits.h"
#include "download/download_texts.h"
#include "download/report_marks.h"
#include "download/worker.h"
#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {
namespace {

namespace texts = download_text;

// The ANSI text as UTF-16 with a..z upper-cased, the form the two versions are compared in.
std::u16string ComparableVersion(const std::string& ansi) {
  std::u16string wide = Utf8ToUtf16(AnsiToUtf8(ansi));
  for (char16_t& c : wide) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return wide;
}

}  // namespace

std::int32_t TSdlThread::CheckVersion(const std::string& tag) {
  Report(kMarkCheckingVersion, texts::kCheckingVersion);
  TStepOutcome& outcome = summary_.Step(TJobStep::kVersionCheck);
  if (device_->ModemPort() == nullptr) {
    Report(kMarkNoModemForVersion, texts::kNoModemForVersion);
    outcome = TStepOutcome::kSkipped;
    return 1;
  }
  char reply[kAtReplyBytes] = {};
  pacing::Sleep(kBeforeVersionMs);
  outcome = TStepOutcome::kFailed;
  if (device_->SendAtCommand(reply, "AT+MDVER", sizeof reply) == 0) {
    const TSerialPort* modem = device_->ModemPort();
    Cause(FormatBounded(
        kCauseUnits, texts::kVersionUnanswered,
        modem != nullptr && modem->IsOpen() ? texts::kVersionError : texts::kVersionNoReply,
        summary_.modemCom));
    Report(kMarkVersionChecked, texts::kVersionFailed);
    return 0;
  }
  summary_.versionBefore = reply;
  const std::u16string current = ComparableVersion(reply);
  const std::u16string update = ComparableVersion(tag);
  Report(kReportInfo, texts::kCurrentVersion, Utf16ToUtf8(current).c_str());
  Report(kReportInfo, texts::kUpdateVersion, Utf16ToUtf8(update).c_str());
  // std::u16string compares unit by unit as unsigned values; a text that ends first sorts first.
  const bool passes = !update.empty() && !current.empty() && !(update < current);
  if (update.empty()) {
    Cause(texts::kImageUntagged);
  } else if (current.empty()) {
    Cause(texts::kVersionEmpty);
  } else if (!passes) {
    Cause(texts::kFirmwareNewer + std::string(reply) + texts::kFirmwareNewerEnd + tag);
  }
  Report(kMarkVersionChecked, passes ? texts::kVersionOk : texts::kVersionFailed);
  if (passes) outcome = TStepOutcome::kOk;
  return passes ? 1 : 0;
}

}  // namespace vornex
