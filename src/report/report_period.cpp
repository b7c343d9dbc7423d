// Dates of the report's period.
#include "report/report_period.h"

#include <chrono>
#include <cstdio>
#include <string_view>

namespace vornex::report {

bool IsDate(const std::string& text) {
  constexpr std::string_view kForm = "dddd-dd-dd dd:dd:dd";
  if (text.size() != 10 && text.size() != kForm.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  const auto number = [&text](std::size_t at, std::size_t length) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(number(0, 4))},
                                         std::chrono::month{number(5, 2)},
                                         std::chrono::day{number(8, 2)}};
  if (!date.ok()) return false;
  return text.size() == 10 || (number(11, 2) <= 23 && number(14, 2) <= 59 && number(17, 2) <= 59);
}

std::string DateDaysBefore(const TLocalTime& now, int days) {
  const std::chrono::year_month_day today{std::chrono::year{now.year},
                                          std::chrono::month{static_cast<unsigned>(now.month)},
                                          std::chrono::day{static_cast<unsigned>(now.day)}};
  const std::chrono::year_month_day then{std::chrono::sys_days{today} - std::chrono::days{days}};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(then.year()),
                static_cast<unsigned>(then.month()), static_cast<unsigned>(then.day()));
  return text;
}

}  // namespace vornex::report
