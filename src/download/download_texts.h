// Every text the download steps show of their own, in one place: the failures and causes of a
// job, the step texts that go with its progress marks, what it says about identity backups and
// station records, the identity steps' lines, the refusals of a DataInfo file, and the lines of
// the restore job. Exactly as the operators know them, typos included. Texts ending in a blank
// or ": " are followed by a value; formats keep their printf conversions.
//
// Not here: the device commands and the per-item lines of the AT identity values, which stay in
// the row of their command (identity_backup.cpp), and the DataInfo file's own names and keys.
#pragma once

namespace vornex::download_text {

// --- Failures: the job's FAILED text on its slot, in its record and in its open backup.
constexpr const char* kInterrupted = "Interrupted";
constexpr const char* kCannotDowngrade = "Can not downgrade image";
constexpr const char* kCannotOpenDevice = "Can not Open Device";
constexpr const char* kBackupNotSaved = "Can not save identity backup";
constexpr const char* kBackupIncomplete = "Identity backup incomplete";
constexpr const char* kBackupsUnreadable = "Can not read open identity backups";
constexpr const char* kBackupPartial = "Open identity backup incomplete for this image set";
constexpr const char* kBlankIdentity =
    "Identity blank, not flashed: put it back with vornex restore";
constexpr const char* kStrandedWithoutBackup =
    "Device in download mode, no identity backup on this station";
constexpr const char* kNeedsImage = "Device needs image %s to be finished";  // the backup's tag
constexpr const char* kDownloadFailed = "Download failed";  // also a restore without NV records
constexpr const char* kResetRefused =
    "Device refused the reset: Start again, or run vornex restore";
constexpr const char* kNotFoundAgain = "Can Not Find Device Again !";  // also its step text
constexpr const char* kIdentityDiffers = "Identity not restored: %d AT, %d NV items differ";
constexpr const char* kIdentityWritesFailed = "Identity not restored: %d AT, %d NV writes failed";
constexpr const char* kPortHeld = "Port held by another program: device not touched";
constexpr const char* kOwnValueUnfit = "Identity value can not be written back: device not touched";
constexpr const char* kBackupsAmbiguous =
    "Several open identity backups fit this device: not touched, see vornex restore";
constexpr const char* kNotBackupsDevice =
    "Not the backup's device: identity not written, backup kept open";
constexpr const char* kDeviceUnproven =
    "Device did not show whose it is: identity not written, see vornex restore";

// --- Causes: what lies behind a failure, logged before it and kept in the job's record.
constexpr const char* kNoStore = "no station record store is open";
constexpr const char* kNoDiagAnswer = "no answer on the diagnostic port COM%d";
constexpr const char* kNoStrandedBackup = "no open backup of device ";  // key, then:
constexpr const char* kNoStrandedBackupEnd =
    " on this station; when another station of the line backed it up, restore it by the serial "
    "number on its label: vornex restore --serial SN";
constexpr const char* kImageSetCarries = "the image set carries ";  // its tag
constexpr const char* kBackupNotSavedCause = "Identity backup not saved: ";
constexpr const char* kBackupsNotRead = "Open identity backups not read: ";
constexpr const char* kBackupGap = "Identity backup incomplete: ";  // a gap of the backup
constexpr const char* kBlankIdentityCause =
    "the device answers a blank identity (no serial number and no MEID, or only empty NV "
    "items) and this station holds no open backup of it; restore it with vornex restore "
    "(ID, or --datainfo FILE, or --serial SN with the serial number on its label to take its "
    "backup from the line), or set FlashBlankDevices=ON to flash blank devices";
// Backup id, "NV items" or "AT values", backup id.
constexpr const char* kBackupLacks =
    "open identity backup %lld holds no %s, which this image set keeps; put it back with vornex "
    "restore %lld, then Start again";
constexpr const char* kLacksNvItems = "NV items";
constexpr const char* kLacksAtValues = "AT values";
constexpr const char* kResetRefusedCause = "the programmer refused the reset and still runs: ";
constexpr const char* kNoReasonGiven = "no reason given";
// Device key, then kResetNoReply or nothing.
constexpr const char* kLostAfterReset =
    "no ports of device %s after its reset%s; once it is back, Start again finishes it from its "
    "open backup";
constexpr const char* kResetNoReply = " (the reset got no clean acknowledge)";
// Backup id twice.
constexpr const char* kRestoreIncomplete =
    "identity backup %lld is not all on the device (each difference in the log); it stays open: "
    "Start again restores it again, or vornex restore %lld";
constexpr const char* kStoppedMidStream =
    "the station was asked to stop during the image stream: the device waits in download mode "
    "with its backup open; Start again finishes its image, then vornex restore puts its identity "
    "back";
constexpr const char* kStoppedBeforeWrite =
    "the station was asked to stop before this device was written to";
// The version check: "an error" or "no reply", then the modem's COM number.
constexpr const char* kVersionUnanswered = "%s to AT+MDVER on COM%d";
constexpr const char* kVersionError = "an error";
constexpr const char* kVersionNoReply = "no reply";
constexpr const char* kImageUntagged = "the image has no version tag";
constexpr const char* kVersionEmpty = "the device told an empty firmware version";
constexpr const char* kFirmwareNewer = "the device's firmware ";        // its version, then:
constexpr const char* kFirmwareNewerEnd = " is newer than the image ";  // the image's tag
// The image update, where the device tells nothing itself.
constexpr const char* kNoDownloadMode = "the device did not switch into download mode";
constexpr const char* kNoProgrammer = "the image set holds no programmer";
constexpr const char* kProgrammerUntold = "the programmer download ended without a reason";
constexpr const char* kNoImage = "the image set holds no flash image data";
constexpr const char* kNoDiagPort = "no diagnostic port is open to the programmer";
constexpr const char* kImageUntold = "the image stream ended without a reason";
// Gaps of a backup.
constexpr const char* kNoAnswerTo = "no answer to ";  // the AT command
// A port that another program holds: "modem" or "diagnostic", its COM number, the holders.
constexpr const char* kPortHeldCause =
    "the %s port COM%d is held by %s; the device was not touched: close that program (a modem "
    "manager: install the station's udev rule), then Start again";
constexpr const char* kAnotherProgram = "another program";
constexpr const char* kModemRole = "modem";
constexpr const char* kDiagRole = "diagnostic";
// A value the job read that its restore could not write back exactly: "<name>: <rule>".
constexpr const char* kOwnValueUnfitCause =
    "the device's %s; a backup of it could not be written back exactly, so the device was not "
    "touched";
// Backup ids, in words ("12, 9").
constexpr const char* kBackupsAmbiguousCause =
    "open identity backups %s of this socket all fit a device that answers no serial number or "
    "MEID; put the right one back with vornex restore ID once you know the device";
// Backup id, why, backup id.
constexpr const char* kNotWrittenCause =
    "identity backup %lld is not written into this device: %s; it stays open for its own device "
    "(vornex restore %lld once you know which device it is)";
// The evidence, in words.
constexpr const char* kBackupHolds = "the backup holds ";  // "serial number X", then:
constexpr const char* kNoIdToCompare =
    "the backup holds no serial number or MEID to compare with the device's ";
constexpr const char* kAnswersOwn = "the device answers the backup's ";  // "serial number X"
constexpr const char* kAnswersNeither = "the device answers no serial number or MEID";
constexpr const char* kBlankSaysNothing =
    ", and it was found in download mode: its rewrite blanked it before it could show whose "
    "it is";
constexpr const char* kNoNvToCompare = ", and the backup holds no NV items to compare";
constexpr const char* kNvUnanswered1 = ", and NV item %d was not answered";
constexpr const char* kNvDiffers1 = ", and its NV item %d is neither blank nor the backup's";
constexpr const char* kNvBlankOrEqual = ", and each of its %d NV items is blank or the backup's";
constexpr const char* kRewrittenBlank = ", as this job's own rewrite left it";
constexpr const char* kNvUnanswered = "%d NV items not answered (first: item %d)";
constexpr const char* kNoNvItem = "no NV item could be read";

// --- Step texts, in the order of a job (most go with a progress mark).
constexpr const char* kBeginProgress = "Begin progress";
constexpr const char* kFilesMeasured = "Begin progress -";
constexpr const char* kCheckingVersion = "Checking version...";
constexpr const char* kNoModemForVersion = "Modem port is NOT connectted, DO NOT check version";
constexpr const char* kCurrentVersion = "currV = %s";
constexpr const char* kUpdateVersion = "updateV = %s";
constexpr const char* kVersionOk = "Version check OK";
constexpr const char* kVersionFailed = "Version check FAILED";
constexpr const char* kDeviceOpen = "Open Device OK (0x%x)";  // the connection flags
constexpr const char* kDownloadStart = "Download code start";
constexpr const char* kUpdateBegin = "Update Device Image begin";
constexpr const char* kEnterDownloadMode = "Enter Download Mode";
constexpr const char* kDownloadModeResult = "Enter Download Mode(%d)";
constexpr const char* kProgrammerRuns = "Programmer already running";
constexpr const char* kProgrammerFailed = "Download Hex fail";
constexpr const char* kProgrammerDone = "Download Hex File(%d)";
constexpr const char* kImageFailed = "Download All Image fail";
constexpr const char* kImageDone = "Download All Image (%d)";
constexpr const char* kUpdateEnd = "Update Device Image end";
constexpr const char* kDownloadCodeFailed = "Download code failed";
constexpr const char* kDownloadEnd = "Download code end";
constexpr const char* kResetStart = "Reset Device start (g_nDownLoadCount=%d)";
constexpr const char* kResetSent = "Reset Device:";
constexpr const char* kResetRefusedStep = "Reset Device refused";
constexpr const char* kRebootWaited = "Waiting for reboot OK";
constexpr const char* kDeviceFound = "find";
constexpr const char* kReopened = "Reopen Device %s";  // kReopenOk or kReopenFailed
constexpr const char* kReopenOk = "SUCCRESS";
constexpr const char* kReopenFailed = "FAILED";
constexpr const char* kResetDone = "Reset Device %s";  // kOk
constexpr const char* kModemReopened = "Reopen MODEM port [%d]";
constexpr const char* kDiagOff = "%s diag port [%d]";  // kClose, the command's result
constexpr const char* kClose = "Close";
constexpr const char* kDeviceClosed = "Close Device %s (0x%x)";  // kOk or kError, the flags
constexpr const char* kOk = "OK";
constexpr const char* kError = "ERROR";
constexpr const char* kPassed = "Download succress";
constexpr const char* kFinished = "Download Finished.  Use time : %.3fs";
// The device's own texts, relayed: its message, or phase, percent and text of its progress.
constexpr const char* kDeviceMessage = "LIB, %s";
constexpr const char* kDeviceProgress = "LIB, (%2d,%4d%%) %s";

// --- Identity backups and station records.
constexpr const char* kBackupSaved = "Identity backup %lld saved";
constexpr const char* kBackupOpenFinishing =
    "Identity backup %lld of this device is open: finishing the device from it";
// Backup id, then the evidence in words.
constexpr const char* kNotThisDevicesBackup =
    "Open identity backup %lld is not shown to be this device's: %s";
constexpr const char* kBackupShown = "Identity backup %lld is this device's: %s";
// A mismatch: "serial number" or "MEID", " ", the backup's value, then this and the device's.
constexpr const char* kDeviceAnswers = ", the device answers ";
constexpr const char* kSerialNumber = "serial number";
constexpr const char* kMeid = "MEID";
constexpr const char* kNewestDecides =
    "%d open identity backups of this device: the newest, %lld, decides";
constexpr const char* kStrandedNoIdentity =
    "Device in download mode (0x%x): the image set keeps no identity, finishing it";
constexpr const char* kStrandedFinishing =
    "Device in download mode (0x%x): finishing it with identity backup %lld";
constexpr const char* kImageAlreadyOn =
    "Device runs image %s already: putting identity backup %lld back";
// How a backup was closed, as its record keeps it.
constexpr const char* kClosedVerified = "verified after its job";
constexpr const char* kClosedUnverified =
    "written back by its job, not read back (VerifyIdentity=OFF)";
constexpr const char* kClosedSuperseded = "superseded by job ";  // the job's id
constexpr const char* kBackupClosed = "Identity backup %lld closed: %s";
constexpr const char* kBackupStaysOpen = "Identity backup %lld stays open: %s";
constexpr const char* kStationRecords = "Station records: %s";
constexpr const char* kDataInfoSaved = "SAVE AT and NV Info to ini <%s>";
constexpr const char* kDataInfoNotSaved = "SAVE AT and NV Info to ini <%s> failed: %s";

// --- The identity steps.
constexpr const char* kBackupAtBegin = "Backup AT begin";
constexpr const char* kBackupAtEnd = "Backup AT end(%d)";
constexpr const char* kBackupNvBegin = "Backup NV begin";
constexpr const char* kBackupNvEnd = "Backup NV end(%d)";
constexpr const char* kNvTrying = "Try to Get %d NV Items...";
constexpr const char* kNvItemRead = "Backup NV item %4d, %s";  // item, its first data bytes
constexpr const char* kNvItemsRead = "Backup NV Get %d NV Items";
constexpr const char* kRestoreNvBegin = "Restore NV begin";
constexpr const char* kRestoreNvEnd = "Restore NV end(%d)";
constexpr const char* kRestoreAtBegin = "Restore AT begin";
constexpr const char* kRestoreAtEnd = "Restore AT end(%d)";
constexpr const char* kNvPutting = "Restore NV try to put %d items";
constexpr const char* kNvItemWritten = "Restore NV <%s> item %d [%s]";  // kOk or kError
constexpr const char* kNvItemsPut = "Restore NV put %d items";
constexpr const char* kVerifyBegin = "Verify identity begin";
constexpr const char* kAtDiffers = "Verify AT %s differs: saved <%s>, device <%s>";
constexpr const char* kNvDiffers = "Verify NV item %d differs: saved [%s], device [%s]";
constexpr const char* kNoAnswer = "(no answer)";  // in place of the device's value
constexpr const char* kVerifyEnd = "Verify identity end: %d AT, %d NV items differ";

// --- Refusals of a DataInfo file.
constexpr const char* kLineError = "%s line %d: %s %s";  // file, line, key, why
constexpr const char* kDataInfoTooLarge =
    "%s is larger than any DataInfo file (more than %zu bytes)";
constexpr const char* kCannotRead = "cannot read ";  // the file, ": ", the system's reason
constexpr const char* kNoIdentityValues = " holds no identity values";    // after the file
constexpr const char* kNotKeyValue = "is no KEY=VALUE line of section ";  // the section
constexpr const char* kGivenTwice = "is given twice (first on line %d)";
constexpr const char* kNoAtKey = "is no key of section AT (SN, MEID, TFLAG)";
constexpr const char* kNoDeviceValue = "is no identity value a device gives: ";  // the fault
constexpr const char* kBadNvValue = "has a bad NV value (2 to 130 bytes as two-digit hex numbers)";
constexpr const char* kNotWindows1252 =
    "bytes that are no UTF-8 or a character without a Windows-1252 form";
constexpr const char* kChainsCommand =
    "a control character, or one that would end or chain its AT command (\" ; \\)";
constexpr const char* kEdgeBlank = "a blank at its start or end";
constexpr const char* kValueTooLong = "%zu bytes, more than the %zu its write command holds";
constexpr const char* kNoItemMark = "holds item 65535, which marks no item";
constexpr const char* kKeyNotRecord = "does not name its record: the value holds item %d, key %s";
constexpr const char* kItemNotBackedUp = "names an item that the station does not back up";

// --- The restore job ("vornex restore"): its lines, as the terminal shows them.
namespace restore {
// The end of a job.
constexpr const char* kNotRecorded = "Restore not recorded: ";
constexpr const char* kFailed = "FAILED: ";
constexpr const char* kOpenReason = "restore failed: ";  // the backup's open reason
constexpr const char* kBackup = "Backup ";               // its id, then one of:
constexpr const char* kStaysOpen = " stays open.";
constexpr const char* kRestoredVerified = "restored and verified";
constexpr const char* kRestoredUnverified = "restored, not read back (VerifyIdentity=OFF)";
constexpr const char* kClosedHow = " by restore job ";  // how the backup was closed: job id
constexpr const char* kOpenAfterAll = ", but it stays open: ";
constexpr const char* kClosed = ": closed.";
// Finding and connecting the device.
constexpr const char* kNoDeviceOnPort = "no device has the port COM%d";
constexpr const char* kDevice = "device ";  // its key, then:
constexpr const char* kNotAttached =
    " is not attached (plug it into the same USB socket, or name its port with --com N)";
constexpr const char* kDeviceFound = "Device ";  // its key and a blank, then:
constexpr const char* kFound = "found: ";        // its ports
constexpr const char* kInDownloadMode = "  the device is in download mode: resetting it";
constexpr const char* kResetBack = "  reset back from download mode: ";  // its ports
constexpr const char* kNoFirmwareAnswer = "the device does not answer in its firmware (0x%x)";
constexpr const char* kModemPort = " (modem)";
constexpr const char* kDiagPort = " (diagnostics)";
// Another device than the backup's.
constexpr const char* kNotShown =
    "the device does not show that it is the backup's device: ";  // why, then:
constexpr const char* kNotRestoredForce = ": not restored (add --force if this is the device)";
// A DataInfo file.
constexpr const char* kFileNotKept = "the DataInfo file could not be kept: ";
constexpr const char* kFileKept = "DataInfo file kept as backup ";  // its id, then ".".
// Another station's backup from the line.
constexpr const char* kLineNotKept = "the line's backup could not be kept: ";
constexpr const char* kLineKept = "Line backup kept as backup ";  // its id, then ".".
// What the restore wrote and read back.
constexpr const char* kRestoredNothing =
    "  restored nothing: the backup keeps neither NV items nor AT values";
constexpr const char* kRestored = "  restored ";
constexpr const char* kNvItems = "%d NV items";
constexpr const char* kSomeNvItems = "%d of %d NV items";
constexpr const char* kAtValues = "the AT values";
constexpr const char* kAndAtValues = " and the AT values";
constexpr const char* kAtNotWritten = " (%d not written)";
constexpr const char* kNotReadBack = "  not read back (VerifyIdentity=OFF)";
constexpr const char* kReadBackEqual = "  read back equal";
constexpr const char* kReadBackDiffer = "  read back: %d AT, %d NV items differ";
// The firmware version afterwards.
constexpr const char* kVersionNotRead = "  firmware version not read (no answer to ";  // command
constexpr const char* kVersionNotReadEnd = ")";
constexpr const char* kVersionUntold =
    "The device did not tell its firmware version: check that it runs ";  // the image's tag
constexpr const char* kElseStart =
    ", else press Start with that image to finish it (its identity is restored).";
constexpr const char* kRuns = "  runs ";                              // the version, then:
constexpr const char* kNotBackupImage = ", not the backup's image ";  // the image's tag
constexpr const char* kBackupImage = ", the backup's image";
constexpr const char* kStillRuns = "The device still runs ";  // the version, then:
constexpr const char* kNot = ", not ";                        // the image's tag, then:
constexpr const char* kPressStart =
    ": press Start with that image to finish it (its identity is restored).";
}  // namespace restore

// --- A job's own records that could not be kept (a full disk, the records deleted or replaced
// under the station): the job's last words, and its note at the end of the run.
constexpr const char* kNotKeptJob = "job record";
constexpr const char* kNotKeptClosing = "closing of backup %lld";
constexpr const char* kNotKeptAnd = " and ";
// What was not kept, then why.
constexpr const char* kRecordsIncomplete =
    "Station records incomplete: %s not kept (%s); when the disk is full, free space for them, "
    "then check them with vornex records check";
constexpr const char* kRecordsLost = "Station records lost: %s not kept (%s)";
// Backup id twice.
constexpr const char* kCloseItLater =
    "; Start again with the device attached, or vornex restore %lld, closes backup %lld";

}  // namespace vornex::download_text
