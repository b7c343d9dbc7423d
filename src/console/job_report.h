// A job's account (TJobSummary) as factory systems read it: one JSON object per job for the
// headless station's results file and the history, and CSV rows for spreadsheets.
#pragma once

#include <string>

#include "records/job_summary.h"

namespace vornex {

// One JSON object (no line end).
std::string JobJson(const TJobSummary& job);

// The CSV header line and one row (no line ends); fields are quoted where they need it.
std::string JobCsvHeader();
std::string JobCsvRow(const TJobSummary& job);

// One CSV field, quoted when it needs it. A text that a spreadsheet would take for a formula
// (starting with = + - @, a tab or a carriage return, and no plain number such as "-12") gets a
// leading ' so that it stays text; the text is made printable (PrintableText) but for its line
// ends.
std::string CsvField(const std::string& text);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& text);

}  // namespace vornex
