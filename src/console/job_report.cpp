// JSON and CSV forms of a job's account. Identity values are device bytes in the ANSI code page
// and are converted to UTF-8 on the way out.
#include "console/job_report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "foundation/text.h"

namespace vornex {
namespace {

std::string Bool(bool value) {
  return value ? "true" : "false";
}

std::string Identity(const TIdentityBlock& block) {
  return "{\"sn\":" + JsonString(AnsiToUtf8(block.slots[kSlotSn])) +
         ",\"meid\":" + JsonString(AnsiToUtf8(block.slots[kSlotMeid])) +
         ",\"tflag\":" + JsonString(AnsiToUtf8(block.slots[kSlotTflag])) + "}";
}

// Restored: backed up, read back after the restore and equal.
bool Restored(const TJobSummary& job, int slot) {
  const auto index = static_cast<std::size_t>(slot);
  return job.identityVerified && !job.identityBefore.slots[index].empty() &&
         job.identityBefore.slots[index] == job.identityAfter.slots[index];
}

std::string Seconds(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
  return text;
}

std::string Seconds(std::int32_t ms) {
  return Seconds(static_cast<std::uint32_t>(ms));
}

// Each timed step as [begin, end] in seconds from the job's start, null when it did not run.
std::string TimesJson(const TStepTimes& times) {
  std::string out = "{";
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (i > 0) out += ',';
    out += JsonString(kTimedStepNames[i]) + ':';
    if (!times[i].Ran()) {
      out += "null";
      continue;
    }
    out += '[';
    out += Seconds(times[i].beginMs);
    out += ',';
    out += Seconds(times[i].endMs);
    out += ']';
  }
  return out + "}";
}

// "-12" or "-0.5": a number as the station writes it, which a spreadsheet reads as a number.
bool IsPlainNumber(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  return std::count(text.begin(), text.end(), '.') <= 1 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The text made printable line by line: the line ends stay, inside the field's quotes.
std::string PrintableCell(std::string_view text) {
  std::string out;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", from), text.size());
    out += PrintableText(text.substr(from, end - from));
    if (end < text.size()) out += text[end];
    from = end + 1;
  }
  return out;
}

}  // namespace

std::string CsvField(const std::string& text) {
  std::string out = PrintableCell(text);
  // A spreadsheet computes a cell that starts like a formula; a leading quote keeps it text.
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  if (formula && !IsPlainNumber(text)) {
    out.insert(0, 1, '\'');
  }
  if (out.find_first_of(",\"\r\n") == std::string::npos) return out;
  std::string quoted = "\"";
  for (const char c : out) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JobJson(const TJobSummary& job) {
  const std::string slot = job.slot >= 0 ? std::string(1, static_cast<char>('A' + job.slot)) : "";
  return "{\"job\":" + std::to_string(job.id) + ",\"kind\":" + JsonString(job.kind) +
         ",\"slot\":" + JsonString(slot) + ",\"port\":" + std::to_string(job.diagCom) +
         ",\"modem_port\":" + std::to_string(job.modemCom) +
         ",\"port_after\":" + std::to_string(job.diagComAfter) +
         ",\"key\":" + JsonString(job.deviceKey) +
         ",\"verdict\":" + JsonString(job.pass ? "PASS" : "FAILED") +
         ",\"elapsed_s\":" + Seconds(job.elapsedMs) + ",\"reason\":" + JsonString(job.failure) +
         ",\"cause\":" + JsonString(job.cause) +
         ",\"version_before\":" + JsonString(AnsiToUtf8(job.versionBefore)) +
         ",\"version_after\":" + JsonString(AnsiToUtf8(job.versionAfter)) +
         ",\"image_tag\":" + JsonString(AnsiToUtf8(job.imageTag)) +
         ",\"image_sha256\":" + JsonString(job.imageSha256) +
         ",\"identity\":" + Identity(job.identityBefore) +
         ",\"identity_after\":" + Identity(job.identityAfter) +
         ",\"identity_restored\":{\"sn\":" + Bool(Restored(job, kSlotSn)) +
         ",\"meid\":" + Bool(Restored(job, kSlotMeid)) +
         ",\"tflag\":" + Bool(Restored(job, kSlotTflag)) + "}" +
         ",\"identity_verified\":" + Bool(job.identityVerified) +
         ",\"nv_backed_up\":" + std::to_string(job.nvBackedUp) +
         ",\"nv_differ\":" + std::to_string(job.nvDiffer) +
         ",\"at_differ\":" + std::to_string(job.atDiffer) +
         ",\"steps\":" + JsonString(StepLetters(job.steps)) +
         ",\"backup\":" + std::to_string(job.backupId) +
         ",\"started_at\":" + JsonString(job.startedAt) +
         ",\"ended_at\":" + JsonString(job.endedAt) + ",\"step_times\":" + TimesJson(job.times) +
         ",\"records_kept\":" + Bool(!job.notKept.Any()) +
         ",\"records_note\":" + JsonString(job.notKept.note) + "}";
}

std::string JobCsvHeader() {
  std::string header =
      "job,kind,slot,port,key,verdict,reason,cause,elapsed_s,version_before,version_after,image_"
      "tag,image_sha256,sn,meid,tflag,identity_verified,nv_backed_up,nv_differ,at_differ,steps,"
      "backup,started_at,ended_at";
  for (const char* name : kTimedStepNames) {
    header += std::string(",") + name + "_begin_s," + name + "_end_s";
  }
  return header;
}

std::string JobCsvRow(const TJobSummary& job) {
  const std::string slot = job.slot >= 0 ? std::string(1, static_cast<char>('A' + job.slot)) : "";
  const std::string fields[] = {std::to_string(job.id),
                                job.kind,
                                slot,
                                std::to_string(job.diagCom),
                                job.deviceKey,
                                job.pass ? "PASS" : "FAILED",
                                job.failure,
                                job.cause,
                                Seconds(job.elapsedMs),
                                AnsiToUtf8(job.versionBefore),
                                AnsiToUtf8(job.versionAfter),
                                AnsiToUtf8(job.imageTag),
                                job.imageSha256,
                                AnsiToUtf8(job.identityBefore.slots[kSlotSn]),
                                AnsiToUtf8(job.identityBefore.slots[kSlotMeid]),
                                AnsiToUtf8(job.identityBefore.slots[kSlotTflag]),
                                job.identityVerified ? "1" : "0",
                                std::to_string(job.nvBackedUp),
                                std::to_string(job.nvDiffer),
                                std::to_string(job.atDiffer),
                                StepLetters(job.steps),
                                std::to_string(job.backupId),
                                job.startedAt,
                                job.endedAt};
  std::string row;
  for (const std::string& field : fields) {
    if (!row.empty()) row += ',';
    row += CsvField(field);
  }
  for (const TStepSpan& span : job.times) {
    row += ',';
    if (span.Ran()) row += Seconds(span.beginMs);
    row += ',';
    if (span.Ran()) row += Seconds(span.endMs);
  }
  return row;
}

}  // namespace vornex
