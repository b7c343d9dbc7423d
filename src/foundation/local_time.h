// The local wall-clock time, for time stamps in logs, file names and station records.
#pragma once

#include <string>

namespace vornex {

struct TLocalTime {
  int year = 0;  // four digits
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

TLocalTime LocalTimeNow();

// "YYYY-MM-DD hh:mm:ss.mmm"
std::string LocalTimeText(const TLocalTime& time);
inline std::string LocalTimeText() {
  return LocalTimeText(LocalTimeNow());
}

}  // namespace vornex
