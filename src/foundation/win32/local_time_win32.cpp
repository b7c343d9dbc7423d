// The local calendar on Windows: localtime_s, which fills the caller's record (the C runtime's
// localtime shares one record among threads).
#include <time.h>

#include "foundation/os_local_time.h"

namespace vornex::os {

bool ToLocalCalendar(std::time_t seconds, std::tm* local) {
  return ::localtime_s(local, &seconds) == 0;
}

}  // namespace vornex::os
