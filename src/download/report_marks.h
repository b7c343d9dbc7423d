// The values of a worker's reports: the codes of its verdicts and information lines, and the
// fixed progress marks (tenths of a percent) at which each step of a job shows itself.
#pragma once

#include <cstdint>

namespace vornex {

// Report values that are not progress.
constexpr std::int32_t kReportPass = -1;
constexpr std::int32_t kReportFail = -2;
constexpr std::int32_t kReportInfo = -5;
constexpr std::int32_t kReportSilent = -7;

// Progress marks of one job, in the order they are reached.
constexpr std::int32_t kMarkBegin = 0;
constexpr std::int32_t kMarkFilesMeasured = 20;
constexpr std::int32_t kMarkCheckingVersion = 21;
constexpr std::int32_t kMarkNoModemForVersion = 22;
constexpr std::int32_t kMarkVersionChecked = 25;
constexpr std::int32_t kMarkDeviceOpen = 30;
constexpr std::int32_t kMarkDownloadStart = 90;
constexpr std::int32_t kMarkEnterDownloadMode = 91;
constexpr std::int32_t kMarkDownloadModeResult = 95;
constexpr std::int32_t kMarkProgrammerFailed = 100;  // also where the programmer band begins
constexpr std::int32_t kMarkImageResult = 915;
constexpr std::int32_t kMarkUpdateEnd = 918;
constexpr std::int32_t kMarkDownloadEnd = 920;
constexpr std::int32_t kMarkResetStart = 930;
constexpr std::int32_t kMarkResetSent = 935;
constexpr std::int32_t kMarkRebootWaited = 940;
constexpr std::int32_t kMarkDeviceFound = 950;
constexpr std::int32_t kMarkReopened = 970;
constexpr std::int32_t kMarkNotFoundAgain = 975;
constexpr std::int32_t kMarkResetDone = 989;
constexpr std::int32_t kMarkBeforeRestore = 990;
constexpr std::int32_t kMarkClosed = 1000;

}  // namespace vornex
