// Run records of the headless station, read from the workers' report texts.
#include "console/headless/run_record.h"

#include <cstdio>
#include <string_view>

namespace vornex {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The <value> of "<head> [<n>]-[<value>]".
std::string BackupValue(std::string_view text) {
  const auto open = text.find("]-[");
  if (open == std::string_view::npos || text.back() != ']') return {};
  return std::string(text.substr(open + 3, text.size() - open - 4));
}

// True for "<head> [1] <...>", a restore command that succeeded.
bool RestoreSucceeded(std::string_view text) { return text.find(" [1] <") != std::string::npos; }

}  // namespace

void RecordReport(TRunRecord& record, const TSingleCnf& report) {
  const std::string& text = report.text.str();
  record.started = true;
  if (report.code == CNF_PASS || report.code == CNF_FAIL) {
    record.verdict = report.code;
    record.lastText = text;
    record.elapsedMs = report.elapsed;
  }
  if (report.code != CNF_INFO) return;
  if (StartsWith(text, "currV = ")) {
    record.versionBefore = text.substr(8);
  } else if (StartsWith(text, "updateV = ")) {
    record.versionAfter = text.substr(10);
  } else if (StartsWith(text, "Backup AT SN [")) {
    record.serialNumber = BackupValue(text);
  } else if (StartsWith(text, "Backup AT MEID [")) {
    record.meid = BackupValue(text);
  } else if (StartsWith(text, "Backup AT TFLAG [")) {
    record.testFlag = BackupValue(text);
  } else if (StartsWith(text, "Restore AT SN [")) {
    record.serialRestored = RestoreSucceeded(text);
  } else if (StartsWith(text, "Restore AT MEID [")) {
    record.meidRestored = RestoreSucceeded(text);
  } else if (StartsWith(text, "Restore AT TFLAG [")) {
    record.testFlagRestored = RestoreSucceeded(text);
  } else if (StartsWith(text, "Download Finished.")) {
    record.finished = true;
    record.elapsedMs = report.elapsed;
  }
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

void WriteRunJson(std::ostream& out, int slot, const TRunRecord& record) {
  const bool pass = record.verdict == CNF_PASS;
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", record.elapsedMs / 1000.0);
  out << "{\"slot\":\"" << static_cast<char>('A' + slot) << "\",\"port\":" << record.com
      << ",\"verdict\":\"" << (pass ? "PASS" : "FAILED") << "\",\"elapsed_s\":" << elapsed
      << ",\"reason\":" << JsonString(pass ? "" : record.lastText)
      << ",\"version_before\":" << JsonString(record.versionBefore)
      << ",\"version_after\":" << JsonString(pass ? record.versionAfter : "")
      << ",\"identity\":{\"sn\":" << JsonString(record.serialNumber)
      << ",\"meid\":" << JsonString(record.meid) << ",\"tflag\":" << JsonString(record.testFlag)
      << "},\"identity_restored\":{\"sn\":" << (record.serialRestored ? "true" : "false")
      << ",\"meid\":" << (record.meidRestored ? "true" : "false")
      << ",\"tflag\":" << (record.testFlagRestored ? "true" : "false") << "}}";
}

}  // namespace vornex
