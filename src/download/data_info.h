// The DataInfo file of an identity backup, and the rules that a backup's values keep so that a
// restore writes them back exactly as they were read.
#pragma once

#include <string>

#include "records/identity_record.h"

namespace vornex {

// The DataInfo file: a profile file with the NV records (section NV) and the AT values
// (section AT) of one backup, named after the local time, created only when no file of that
// name exists. True with its name; false with the name tried and the reason.
bool SaveDataInfo(const TIdentityBackup& backup, std::string* name, std::string* error);
// Reads a DataInfo file into the AT values and NV records of a backup. False with the reason
// when the file cannot be read or holds nothing to restore.
bool LoadDataInfo(const std::string& path, TIdentityBackup* backup, std::string* error);
// Why a backup from outside this station (the line) must not be written to a device, in the
// words of a DataInfo file's refusal: an AT value a command cannot carry, an IMEI or Bluetooth
// address (the station never backs them up), an NV record without its item mark or of an item
// the station does not back up, or no identity values at all. Empty when it may be written.
std::string BackupFault(const TIdentityBackup& backup);
// Why a backup that a job has just read must not be committed: a value its restore could not
// write back exactly (an AT value a command cannot carry, when the backup keeps the AT values;
// an NV record without its item mark or of an item the station does not back up), as
// "<name>: <rule>". Empty when the restore can write back all of it.
std::string ValuesFault(const TIdentityBackup& backup);

}  // namespace vornex
