// The local calendar on Linux: the thread-safe localtime_r.
#include <time.h>

#include "foundation/os_local_time.h"

namespace vornex::os {

bool ToLocalCalendar(std::time_t seconds, std::tm* local) {
  return ::localtime_r(&seconds, local) != nullptr;
}

}  // namespace vornex::os
