// Opening the station record store for a front-end, and the operator's texts about it.
#include "console/station_records.h"

#include "foundation/text.h"

namespace vornex {

std::string StationDataFolder(const std::string& option, const StationSettings& settings) {
  if (!option.empty()) return option;
  if (!settings.dataFolder.empty()) return settings.dataFolder;
  return DefaultDataFolder();
}

std::unique_ptr<TStationStore> OpenStationStore(const std::string& option,
                                                const StationSettings& settings,
                                                std::string* error) {
  if (option.empty() && settings.dataFolderCut) {
    *error = "DataFolder of the settings is longer than 259 characters";
    return nullptr;
  }
  const std::string folder = StationDataFolder(option, settings);
  if (folder.empty()) {
    *error = "no data folder (set DataFolder in the settings or use --data DIR)";
    return nullptr;
  }
  return TStationStore::Open(folder, error);
}

std::unique_ptr<TStationStore> OpenStationRecords(const std::string& option,
                                                  const StationSettings& settings,
                                                  std::string* notice) {
  std::string error;
  std::unique_ptr<TStationStore> store = OpenStationStore(option, settings, &error);
  if (!store) {
    *notice = "Station records unavailable: " + error +
              ". No device will be flashed until they can be written.";
  }
  return store;
}

std::string OpenBackupsNotice(TStationStore& store) {
  std::string error;
  const std::int64_t open = store.OpenBackupCount(&error);
  if (open < 0) return "Station records: " + error;
  if (open == 0) return {};
  return FormatBounded(511,
                       "%lld identity backup(s) still open in %s: Start finishes each of those "
                       "devices from its backup when it is attached; \"vornex restore\" lists "
                       "them.",
                       static_cast<long long>(open), store.Path().c_str());
}

}  // namespace vornex
