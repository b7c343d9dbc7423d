// The operating system's pause, behind the pacing clock (which is its only caller).
#pragma once

#include <chrono>

namespace vornex::os {

// Pauses the calling thread for at least `length`, waking as close after it as the system
// allows: the station's paces are short (1 ms, 3 ms) and repeated thousands of times per image.
void SleepFor(std::chrono::steady_clock::duration length);

}  // namespace vornex::os
