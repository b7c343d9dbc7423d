// The period of a report: local dates as the records keep them ("YYYY-MM-DD" or
// "YYYY-MM-DD hh:mm:ss"), checked, and counted back from today.
#pragma once

#include <string>

#include "foundation/local_time.h"

namespace vornex::report {

// True for a real local time "YYYY-MM-DD" or "YYYY-MM-DD hh:mm:ss": a month 1 to 12, a day the
// month has (29 February only in leap years), hours 00 to 23, minutes and seconds 00 to 59.
bool IsDate(const std::string& text);

// The date `days` days before the day of `now`, "YYYY-MM-DD".
std::string DateDaysBefore(const TLocalTime& now, int days);

// The days of a report that has no --since: today and the 29 days before.
constexpr int kDefaultDays = 30;

}  // namespace vornex::report
