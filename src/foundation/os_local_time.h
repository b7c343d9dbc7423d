// The operating system's calendar behind foundation/local_time.h (its only caller).
#pragma once

#include <ctime>

namespace vornex::os {

// The local calendar time of `seconds` under the system's time-zone rules; false when the
// system cannot convert it (`local` is then left as it was). Safe from any thread.
bool ToLocalCalendar(std::time_t seconds, std::tm* local);

}  // namespace vornex::os
