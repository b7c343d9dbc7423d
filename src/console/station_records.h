// The station record store as the front-ends use it: where it lives, opening it at start, and
// what the operator is told about it (a store that cannot be used, backups still open).
#pragma once

#include <memory>
#include <string>

#include "console/run_options.h"
#include "foundation/settings.h"
#include "store/station_store.h"

namespace vornex {

// The data folder: the one given on the command line, else the settings' DataFolder, else the
// user's state folder. Empty when none can be found.
std::string StationDataFolder(const std::string& option, const TStationSettings& settings);

// Opens the store of that folder; null with the reason when it cannot be used.
std::unique_ptr<TStationStore> OpenStationStore(const std::string& option,
                                                const TStationSettings& settings,
                                                std::string* error);
// Opens the store of that folder for reading only (a listing): a folder or database that does
// not exist is not created but refused ("no station records in DIR: ..."), as is one that
// cannot be read; null with the reason then.
std::unique_ptr<TStationStore> OpenStationStoreForReading(const std::string& option,
                                                          const TStationSettings& settings,
                                                          std::string* error);

// OpenStationStore for a front-end: null with the operator's text when it cannot be used (no
// device is flashed then: every job ends before touching its device).
std::unique_ptr<TStationStore> OpenStationRecords(const std::string& option,
                                                  const TStationSettings& settings,
                                                  std::string* notice);

// The options of a run that "vornex restore" needs as well to find the same records and devices;
// each is empty when the run was not given it.
struct TRestoreOptions {
  std::string dataFolder;    // --data DIR
  std::string bench;         // --bench DIR
  std::string settingsPath;  // --settings FILE (it may name the data folder)
};
TRestoreOptions RestoreOptionsOf(const TRunOptions& options);
// "vornex restore ID" with those options (a path with spaces or characters a shell would take
// in double quotes).
std::string RestoreCommand(const TRestoreOptions& options);

// What is left to do about the backups still open in the store, said the same way at the start
// and at the end of every run: "N identity backup(s) open (ids 4, 7): Start again finishes those
// devices when they are attached, or vornex restore ID --data DIR puts one back." with the
// options of the run (a path with spaces or characters a shell would take in double quotes). At
// most eight ids are named, then "…". Empty when none is open; "Station records: ..." when they
// cannot be read.
std::string OpenBackupsNotice(TStationStore& store, const TRestoreOptions& options);

}  // namespace vornex
