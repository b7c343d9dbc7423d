// The AT identity values a device gives, one row each: the command that reads it, the prefix
// that writes it back, the lines of the backup and the restore, and its DataInfo key; shared by
// the identity steps and the DataInfo file.
#pragma once

#include "records/identity_record.h"

namespace vornex {

struct TAtItem {
  int slot;
  const char* readCommand;
  const char* writePrefix;
  const char* backupText;
  const char* restoreText;
  const char* name;
};
constexpr TAtItem kAtItems[] = {
    {kSlotSn, "AT+NEWSN", "AT+NEWSN=", "Backup AT SN [%d]-[%s]", "Restore AT SN [%d] <%s>", "SN"},
    {kSlotMeid, "AT+NEWMEID", "AT+NEWMEID=", "Backup AT MEID [%d]-[%s]",
     "Restore AT MEID [%d] <%s>", "MEID"},
    {kSlotTflag, "AT+MDTFLAG", "AT+MDTFLAG=", "Backup AT TFLAG [%d]-[%s]",
     "Restore AT TFLAG [%d] <%s>", "TFLAG"}};
constexpr const char* kAtKeys[] = {"SN", "IMEI", "MEID", "BRADDR", "TFLAG"};

}  // namespace vornex
