// The station's settings: section Config of Vornex_730.ini in the executable's folder.
// Absent file or keys are no error; the defaults below apply.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornex {

constexpr const char* kSettingsFileName = "Vornex_730.ini";
constexpr int kSlotCount = 8;

struct TStationSettings {
  bool debugMode = false;     // Debug = ON: log pane and Clear shown, window 700 px high
  bool autoPath = true;       // AutoPath = OFF switches it off: image folder = executable's folder
  bool browseButton = false;  // BrowseButton = ON shows the Browse button
  std::string imagePath;      // ImagePath, at most 259 UTF-16 units, used when autoPath is off
  bool imagePathCut = false;  // ImagePath was longer than 259 units: the station never uses it
  std::int32_t pathNumber = kSlotCount;  // PathNumber 1..8: slots in use
  std::string dataFolder;      // DataFolder: where the station records live; empty = the default
  bool dataFolderCut = false;  // DataFolder was longer than 259 units: the records cannot open
  bool verifyIdentity = true;  // VerifyIdentity = OFF: judge a restore by its write results only
  // FlashBlankDevices = ON: a device that answers a blank identity (no serial number and no
  // MEID, or only empty NV items) is backed up and flashed; else it is refused untouched.
  bool flashBlankDevices = false;
  // KeepBackupValuesDays: a closed backup's identity values are dropped this many days after
  // its verified restore (its account stays in the history); 0 keeps them for ever. Not a
  // number, or negative: the default.
  std::int32_t keepBackupValuesDays = 90;
  // Section Line: the line of stations that the records are sent to. Connection is a libpq
  // connection string or service ("service=NAME"), never with a password; empty: no line.
  std::string lineConnection;
  bool lineConnectionCut = false;  // longer than 259 units: the line is not used
  std::string lineName;            // Name: the station's name on the line; empty: the host's
  // Slot table Enabled column: rows 0..pathNumber-1 are 1, the rest 0.
  std::array<std::int32_t, kSlotCount> enabled{1, 1, 1, 1, 1, 1, 1, 1};
};

// <executable folder>/Vornex_730.ini
std::string SettingsPath();

// Reads Debug, AutoPath, BrowseButton, ImagePath and PathNumber (in that order), then
// DataFolder and VerifyIdentity, from section Config of the file and derives the Enabled table;
// then Connection and Name from section Line.
TStationSettings LoadSettings(const std::string& path);
inline TStationSettings LoadSettings() {
  return LoadSettings(SettingsPath());
}

// Writes ImagePath into section Config; true when the file was written.
bool WriteImagePath(const std::string& path, std::string_view imagePath);

}  // namespace vornex
