// The station's settings (section Config of Vornex_730.ini beside the executable).
#include "foundation/settings.h"

#include <algorithm>

#include "foundation/paths.h"
#include "foundation/profile.h"

namespace vornex {
namespace {

constexpr const char* kSection = "Config";
constexpr const char* kLineSection = "Line";

// The leading decimal number of the text, as wcstol / _wtoi read it: blanks, an optional sign,
// digits. -1 when there is no number; numbers beyond any slot count saturate instead of
// overflowing, so that they stay out of range.
std::int64_t LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
  constexpr std::int64_t kSaturated = 1'000'000'000;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), kSaturated);
  }
  return negative ? -value : value;
}

}  // namespace

std::string SettingsPath() {
  return paths::Join(paths::ExeFolder(), kSettingsFileName);
}

TStationSettings LoadSettings(const std::string& path) {
  TStationSettings settings;
  settings.debugMode = profile::IsOn(profile::ReadString(path, kSection, "Debug"));
  settings.autoPath = !profile::IsOff(profile::ReadString(path, kSection, "AutoPath"));
  settings.browseButton = profile::IsOn(profile::ReadString(path, kSection, "BrowseButton"));
  settings.imagePath = profile::ReadString(path, kSection, "ImagePath", &settings.imagePathCut);

  const std::int64_t number = LeadingNumber(profile::ReadString(path, kSection, "PathNumber"));
  settings.pathNumber =
      (number >= 1 && number <= kSlotCount) ? static_cast<std::int32_t>(number) : kSlotCount;
  for (int i = 0; i < kSlotCount; ++i) settings.enabled[i] = i < settings.pathNumber ? 1 : 0;
  settings.dataFolder = profile::ReadString(path, kSection, "DataFolder", &settings.dataFolderCut);
  settings.verifyIdentity = !profile::IsOff(profile::ReadString(path, kSection, "VerifyIdentity"));
  settings.flashBlankDevices =
      profile::IsOn(profile::ReadString(path, kSection, "FlashBlankDevices"));
  const std::int64_t keepDays =
      LeadingNumber(profile::ReadString(path, kSection, "KeepBackupValuesDays"));
  if (keepDays >= 0) settings.keepBackupValuesDays = static_cast<std::int32_t>(keepDays);
  settings.lineConnection =
      profile::ReadString(path, kLineSection, "Connection", &settings.lineConnectionCut);
  settings.lineName = profile::ReadString(path, kLineSection, "Name");
  return settings;
}

bool WriteImagePath(const std::string& path, std::string_view imagePath) {
  return profile::WriteString(path, kSection, "ImagePath", imagePath);
}

}  // namespace vornex
