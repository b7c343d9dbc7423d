// Identity backup and restore: the AT identity values and the NV items are saved before the
// image update and written back after the reboot; the DataInfo file records them on disk.
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "download/download_limits.h"
#include "download/nv_items.h"
#include "download/worker.h"
#include "foundation/pacing.h"
#include "foundation/text.h"

namespace vornex {
namespace {

constexpr std::uint32_t kNoItem = 0xFFFF;

struct AtItem {
  int slot;
  const char* readCommand;
  const char* writePrefix;
  const char* backupText;
  const char* restoreText;
};
constexpr AtItem kAtItems[] = {
    {kSlotSn, "AT+NEWSN", "AT+NEWSN=", "Backup AT SN [%d]-[%s]", "Restore AT SN [%d] <%s>"},
    {kSlotMeid, "AT+NEWMEID", "AT+NEWMEID=", "Backup AT MEID [%d]-[%s]",
     "Restore AT MEID [%d] <%s>"},
    {kSlotTflag, "AT+MDTFLAG", "AT+MDTFLAG=", "Backup AT TFLAG [%d]-[%s]",
     "Restore AT TFLAG [%d] <%s>"}};
constexpr const char* kAtKeys[] = {"SN", "IMEI", "MEID", "BRADDR", "TFLAG"};

// The first 16 data bytes of a record as "%02X " each.
std::string FirstDataBytes(const TNvRecord& record) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += FormatBounded(8, "%02X ", record.bytes[2 + i]);
  return text;
}

// A DataInfo name for the local time now that no file has yet; a clash (two workers in the same
// millisecond) waits for the next millisecond rather than mixing two devices in one file.
std::string FreshDataInfoName() {
  for (;;) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    const std::string name = FormatBounded(
        259, "./DataInfo_%04d%02d%02d_%02d%02d%02d_%03d.ini", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<int>(ms));
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) return name;
    pacing::Sleep(1);
  }
}

// Profile-file lines of one section, a key written twice keeping its first place and its last
// value, as repeated key writes leave a profile file.
class SectionWriter {
 public:
  void Set(const std::string& key, const std::string& value) {
    const auto [it, inserted] = index_.try_emplace(key, lines_.size());
    if (inserted) {
      lines_.push_back({key, value});
    } else {
      lines_[it->second].second = value;
    }
  }
  void AppendTo(std::string& text, const char* section) const {
    if (lines_.empty()) return;
    text += std::string("[") + section + "]\r\n";
    for (const auto& [key, value] : lines_) text += key + "=" + value + "\r\n";
  }

 private:
  std::vector<std::pair<std::string, std::string>> lines_;
  std::map<std::string, std::size_t> index_;
};

}  // namespace

std::int32_t TSdlThread::BackupDeviceData(const TWorkerJob& job) {
  DiscardBackup();
  std::int32_t result = 1;
  if ((job.imageSet.itemSwitches & kItemAt) != 0) {
    Report(-5, "Backup AT begin");
    result = BackupAtItems();
    Report(-5, "Backup AT end(%d)", result);
  }
  if ((job.imageSet.itemSwitches & kItemNv) != 0) {
    Report(-5, "Backup NV begin");
    result = BackupNvItems() != 0 && result != 0 ? 1 : 0;
    Report(-5, "Backup NV end(%d)", result);
  }
  return result;
}

std::int32_t TSdlThread::BackupAtItems() {
  TIdentityBlock block;
  std::int32_t got = 0;
  for (const AtItem& at : kAtItems) {
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kAtItemPauseMs);
    if (device_->SendAtCommand(reply, at.readCommand, sizeof reply) == 0) continue;
    // Values are kept whole: a cut serial number written back would corrupt the device.
    block.slots[static_cast<std::size_t>(at.slot)] = reply;
    got = 1;
    const std::string& value = block.slots[static_cast<std::size_t>(at.slot)];
    Report(-5, at.backupText, static_cast<int>(value.size()), AnsiToUtf8(value).c_str());
  }
  if (got != 0) identity_ = std::make_unique<TIdentityBlock>(std::move(block));
  pacing::Sleep(kAtItemPauseMs);
  return got;
}

std::int32_t TSdlThread::BackupNvItems() {
  const std::vector<TNvListEntry> items = SortedNvItems();
  Report(-5, "Try to Get %d NV Items...", static_cast<int>(items.size()));
  int got = 0;
  for (const TNvListEntry& entry : items) {
    if (static_cast<std::uint32_t>(entry.item) == kNoItem) continue;
    const auto item = static_cast<std::uint16_t>(entry.item);
    TNvRecord record;
    record.bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
    record.bytes[1] = static_cast<std::uint8_t>(item >> 8);
    if (device_->ReadNvItem(item, record.bytes.data() + 2) == 0) continue;
    ++got;
    Report(-5, "Backup NV item %4d, %s", entry.item, FirstDataBytes(record).c_str());
    if (!nvStore_) nvStore_ = std::make_unique<TNvStore>();
    nvStore_->records.push_back(record);
  }
  Report(-5, "Backup NV Get %d NV Items", got);
  return 1;
}

std::int32_t TSdlThread::RestoreDeviceData(const TWorkerJob& job) {
  std::int32_t result = 1;
  if ((job.imageSet.itemSwitches & kItemNv) != 0) {
    pacing::Sleep(kRestorePauseMs);
    Report(-5, "Restore NV begin");
    result = nvStore_ ? RestoreNvItems() : 0;
    Report(-5, "Restore NV end(%d)", result);
  }
  if ((job.imageSet.itemSwitches & kItemAt) != 0) {
    pacing::Sleep(kRestorePauseMs);
    Report(-5, "Restore AT begin");
    // The AT values are written back also when the NV restore failed.
    const std::int32_t at = RestoreAtItems();
    result = result != 0 && at != 0 ? 1 : 0;
    Report(-5, "Restore AT end(%d)", result);
  }
  restoreFailed_ = result == 0 ? 1 : 0;
  return result;
}

std::int32_t TSdlThread::RestoreNvItems() {
  if (!nvStore_ || nvStore_->records.empty()) return 0;
  Report(-5, "Restore NV try to put %d items", static_cast<int>(nvStore_->records.size()));
  int put = 0;
  for (const TNvRecord& record : nvStore_->records) {
    const std::int32_t written = device_->WriteNvItem(record.Item(), record.bytes.data() + 2);
    Report(-5, "Restore NV <%s> item %d [%s]", written != 0 ? "OK" : "ERROR", record.Item(),
           FirstDataBytes(record).c_str());
    if (written != 0) ++put;
  }
  Report(-5, "Restore NV put %d items", put);
  return put > 0 ? 1 : 0;
}

std::int32_t TSdlThread::RestoreAtItems() {
  if (!identity_) return 1;
  for (const AtItem& at : kAtItems) {
    const std::string& value = identity_->slots[static_cast<std::size_t>(at.slot)];
    if (value.empty()) continue;
    const std::string command = at.writePrefix + value;
    char reply[kAtReplyBytes] = {};
    pacing::Sleep(kAtItemPauseMs);
    const std::int32_t result = device_->SendAtCommand(reply, command.c_str(), sizeof reply);
    Report(-5, at.restoreText, result, AnsiToUtf8(command).c_str());
  }
  return 1;
}

void TSdlThread::SaveDataInfo() {
  const bool haveNv = nvStore_ && !nvStore_->records.empty();
  if (!haveNv && !identity_) return;  // nothing was backed up
  const std::string name = FreshDataInfoName();
  Report(-5, "SAVE AT and NV Info to ini <%s>", name.c_str());

  SectionWriter nv;
  if (haveNv) {
    for (const TNvRecord& record : nvStore_->records) {
      const int item = record.Item();
      const std::string key = IsIndexedNvItem(item) ? FormatBounded(32, "NV%d_%d", item,
                                                                    record.bytes[2])
                                                    : FormatBounded(32, "NV%d", item);
      std::size_t last = record.bytes.size() - 1;
      while (last > 0 && record.bytes[last] == 0) --last;
      std::string value;
      for (std::size_t i = 0; i <= last; ++i) value += FormatBounded(8, "%02X ", record.bytes[i]);
      nv.Set(key, value);
    }
  }
  SectionWriter at;
  if (identity_) {
    for (std::size_t slot = 0; slot < identity_->slots.size(); ++slot) {
      if (!identity_->slots[slot].empty()) at.Set(kAtKeys[slot], AnsiToUtf8(identity_->slots[slot]));
    }
  }
  std::string text;
  nv.AppendTo(text, "NV");
  at.AppendTo(text, "AT");
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << text;
}

void TSdlThread::DiscardBackup() {
  identity_.reset();
  nvStore_.reset();
}

}  // namespace vornex
