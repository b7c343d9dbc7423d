// Opening the station record store for a front-end, and the operator's texts about it.
#include "console/station_records.h"

#include "foundation/text.h"

namespace vornex {

std::string StationDataFolder(const std::string& option, const TStationSettings& settings) {
  if (!option.empty()) return option;
  if (!settings.dataFolder.empty()) return settings.dataFolder;
  return DefaultDataFolder();
}

namespace {

// The data folder of the store; empty with the reason when there is none to use.
std::string RecordsFolder(const std::string& option, const TStationSettings& settings,
                          std::string* error) {
  if (option.empty() && settings.dataFolderCut) {
    *error = "DataFolder of the settings is longer than 259 characters";
    return {};
  }
  const std::string folder = StationDataFolder(option, settings);
  if (folder.empty()) *error = "no data folder (set DataFolder in the settings or use --data DIR)";
  return folder;
}

}  // namespace

std::unique_ptr<TStationStore> OpenStationStore(const std::string& option,
                                                const TStationSettings& settings,
                                                std::string* error) {
  const std::string folder = RecordsFolder(option, settings, error);
  return folder.empty() ? nullptr : TStationStore::Open(folder, error);
}

std::unique_ptr<TStationStore> OpenStationStoreForReading(const std::string& option,
                                                          const TStationSettings& settings,
                                                          std::string* error) {
  const std::string folder = RecordsFolder(option, settings, error);
  return folder.empty() ? nullptr : TStationStore::OpenReadOnly(folder, error);
}

std::unique_ptr<TStationStore> OpenStationRecords(const std::string& option,
                                                  const TStationSettings& settings,
                                                  std::string* notice) {
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(option, settings, &error);
  if (!store) {
    *notice = "Station records unavailable: " + error +
              ". No device will be flashed until they can be written.";
  }
  return store;
}

TRestoreOptions RestoreOptionsOf(const TRunOptions& options) {
  return {options.dataFolder, options.bench, options.settingsPath};
}

// "vornex restore ID" with the options that find the run's records and devices.
std::string RestoreCommand(const TRestoreOptions& options) {
  const auto word = [](const std::string& path) {
    if (path.find_first_of(" \t\"'$`&;|<>()*?!#~") == std::string::npos) return path;
    return "\"" + path + "\"";
  };
  std::string command = "vornex restore ID";
  if (!options.dataFolder.empty()) command += " --data " + word(options.dataFolder);
  if (!options.bench.empty()) command += " --bench " + word(options.bench);
  if (!options.settingsPath.empty()) command += " --settings " + word(options.settingsPath);
  return command;
}

std::string OpenBackupsNotice(TStationStore& store, const TRestoreOptions& options) {
  constexpr std::size_t kIdsNamed = 8;
  std::string error;
  const auto open = store.OpenBackups(&error);
  if (!open) return "Station records: " + error;
  if (open->empty()) return {};
  std::string ids;
  for (std::size_t i = 0; i < open->size() && i <= kIdsNamed; ++i) {
    ids += i == 0 ? "ids " : ", ";
    ids += i < kIdsNamed ? std::to_string((*open)[i].id) : "\xE2\x80\xA6";  // "…"
  }
  return std::to_string(open->size()) + " identity backup(s) open (" + ids +
         "): Start again finishes those devices when they are attached, or " +
         RestoreCommand(options) + " puts one back.";
}

}  // namespace vornex
