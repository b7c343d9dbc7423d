// What the line records need from the system.
#pragma once

#include <string>

namespace vornex::line {

// Waits until the socket can be read or `ms` milliseconds passed; false on timeout or error.
bool WaitReadable(int socket, int ms);

// The computer's name (the station's default name on the line); empty when unknown.
std::string HostName();

}  // namespace vornex::line
