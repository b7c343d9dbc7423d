// What the line records need from Windows.
#include <winsock2.h>

#include <cstdlib>

#include "line/line_os.h"

namespace vornex::line {

bool WaitReadable(int socket, int ms) {
  WSAPOLLFD fd{};
  fd.fd = static_cast<SOCKET>(socket);
  fd.events = POLLRDNORM;
  return WSAPoll(&fd, 1, ms) > 0;
}

std::string HostName() {
  const char* name = std::getenv("COMPUTERNAME");
  return name != nullptr ? name : "";
}

}  // namespace vornex::line
