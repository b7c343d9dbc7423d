// Paces and limits of one download job, in one place (the device operations keep theirs in
// protocols/protocol_limits.h).
#pragma once

#include <cstdint>

namespace vornex {

constexpr std::uint32_t kConnectOpenMs = 4500;  // first connection and the final one
constexpr std::uint32_t kReconnectAfterResetMs = 2500;
constexpr std::uint32_t kBeforeConnectMs = 1000;
constexpr std::uint32_t kOthersWaitMs = 3000;  // one wait for other devices' downloads
constexpr int kOthersWaitTries = 30;
constexpr std::uint32_t kBeforeResetMs = 2000;
constexpr std::uint32_t kBeforeRestoreMs = 500;
constexpr std::uint32_t kBeforeDiagOffMs = 500;
constexpr std::uint32_t kBeforeVersionMs = 1500;
constexpr std::uint32_t kAtItemPauseMs = 500;
constexpr std::uint32_t kRestorePauseMs = 1000;
constexpr std::uint32_t kAfterResetCommandMs = 1000;
constexpr std::uint32_t kRebootWaitMs = 13000;
constexpr std::uint32_t kSearchAgainMs = 2000;
constexpr int kSearchTries = 4;
constexpr std::uint32_t kAfterImageUpdateMs = 800;

constexpr std::size_t kAtReplyBytes = 256;
constexpr std::size_t kLibTextUnits = 127;  // protocol texts shown in "LIB, ..." reports
constexpr std::size_t kCauseUnits = 511;    // the cause logged before a failure

}  // namespace vornex
