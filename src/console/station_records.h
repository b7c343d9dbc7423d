// The station record store as the front-ends use it: where it lives, opening it at start, and
// what the operator is told about it (a store that cannot be used, backups still open).
#pragma once

#include <memory>
#include <string>

#include "foundation/settings.h"
#include "store/station_store.h"

namespace vornex {

// The data folder: the one given on the command line, else the settings' DataFolder, else the
// user's state folder. Empty when none can be found.
std::string StationDataFolder(const std::string& option, const StationSettings& settings);

// Opens the store of that folder; null with the reason when it cannot be used.
std::unique_ptr<TStationStore> OpenStationStore(const std::string& option,
                                                const StationSettings& settings,
                                                std::string* error);

// OpenStationStore for a front-end: null with the operator's text when it cannot be used (no
// device is flashed then: every job ends before touching its device).
std::unique_ptr<TStationStore> OpenStationRecords(const std::string& option,
                                                  const StationSettings& settings,
                                                  std::string* notice);

// The operator's text about backups still open in the store; empty when there are none.
std::string OpenBackupsNotice(TStationStore& store);

}  // namespace vornex
