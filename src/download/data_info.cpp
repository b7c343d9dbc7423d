// The DataInfo file: one identity backup as a profile file on disk (NV records in section NV,
// AT values in section AT), written as a last copy of a backup that is not all on its device
// and read back by the recovery command; and the rules every value must keep to be written into
// a device exactly as it was read.
#include "download/data_info.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include "download/at_items.h"
#include "download/download_texts.h"
#include "download/nv_items.h"
#include "foundation/local_time.h"
#include "foundation/os_file.h"
#include "foundation/pacing.h"
#include "foundation/text.h"
#include "messaging/image_set.h"

namespace vornex {
namespace {

namespace texts = download_text;

}  // namespace

namespace {

std::string DataInfoName() {
  const TLocalTime t = LocalTimeNow();
  return FormatBounded(259, "./DataInfo_%04d%02d%02d_%02d%02d%02d_%03d.ini", t.year, t.month, t.day,
                       t.hour, t.minute, t.second, t.millisecond);
}

// Profile-file lines of one section, a key written twice keeping its first place and its last
// value, as repeated key writes leave a profile file.
class TSectionWriter {
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

// The DataInfo key of a record: "NV<item>", or "NV<item>_<first data byte>" for indexed items.
std::string NvKeyOf(const TNvRecord& record) {
  const int item = record.Item();
  return IsIndexedNvItem(item) ? FormatBounded(32, "NV%d_%d", item, record.bytes[2])
                               : FormatBounded(32, "NV%d", item);
}

std::string DataInfoText(const TIdentityBackup& backup) {
  TSectionWriter nv;
  for (const TNvRecord& record : backup.nv) {
    const std::string key = NvKeyOf(record);
    std::size_t last = record.bytes.size() - 1;
    while (last > 0 && record.bytes[last] == 0) --last;
    std::string value;
    for (std::size_t i = 0; i <= last; ++i) value += FormatBounded(8, "%02X ", record.bytes[i]);
    nv.Set(key, value);
  }
  TSectionWriter at;
  for (std::size_t slot = 0; slot < backup.at.slots.size(); ++slot) {
    if (!backup.at.slots[slot].empty()) at.Set(kAtKeys[slot], AnsiToUtf8(backup.at.slots[slot]));
  }
  std::string text;
  nv.AppendTo(text, "NV");
  at.AppendTo(text, "AT");
  return text;
}

// "58 03 01 " -> the bytes 58 03 01; false when a token is no two-digit hex number.
bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes) {
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    if (token.size() != 2 || !std::isxdigit(static_cast<unsigned char>(token[0])) ||
        !std::isxdigit(static_cast<unsigned char>(token[1]))) {
      return false;
    }
    bytes->push_back(static_cast<std::uint8_t>(std::stoi(token, nullptr, 16)));
  }
  return true;
}

// The largest DataInfo file read. Its NV section has at most 582 lines, each a key of at most
// 10 characters and a record of at most 130 bytes as "XX " (about 405 bytes with "=" and the
// line end, under 240 KB in all), its AT section a few hundred bytes: a MiB leaves room for
// comments and blank lines, and keeps a wrong file from being read into memory.
constexpr std::size_t kMaxDataInfoBytes = 1024 * 1024;
// A device takes AT command lines of at most 63 characters (a 64-byte buffer with its
// terminator): a value may fill what its write prefix leaves, 54 bytes for SN, 52 for MEID and
// TFLAG.
constexpr std::size_t kDeviceAtCommandBytes = 64;
// The item number that a record starts with.
constexpr std::size_t kNvItemBytes = 2;

// "FILE line N: KEY why".
std::string LineError(const std::string& path, int line, const std::string& key,
                      const std::string& why) {
  return FormatBounded(511, texts::kLineError, path.c_str(), line,
                       std::string(CutToUnits(key, 40)).c_str(), why.c_str());
}

// The AT value written back under a key of section AT; null for any other key (IMEI and BRADDR
// included: the station never writes them).
const TAtItem* AtItemOfKey(const std::string& key) {
  for (const TAtItem& item : kAtItems) {
    if (key == item.name) return &item;
  }
  return nullptr;
}

// A character a restore may put into an AT command: printable, and neither a quote, a command
// separator nor an escape. A Windows-1252 character beyond ASCII must pass with its seven low
// bits too, as a modem that drops the eighth bit reads it.
bool IsAtValueCharacter(char c) {
  const int low = static_cast<unsigned char>(c) & 0x7F;
  return low >= 0x20 && low != 0x7F && low != '"' && low != ';' && low != '\\';
}

// Why a value of a file (`utf8`, as device bytes `ansi`) cannot be written back with the item's
// command; empty when it can.
std::string AtValueFault(const std::string& utf8, const std::string& ansi, const TAtItem& item) {
  if (AnsiToUtf8(ansi) != utf8) return texts::kNotWindows1252;
  if (!std::all_of(ansi.begin(), ansi.end(), IsAtValueCharacter)) {
    return texts::kChainsCommand;
  }
  if (!ansi.empty() && (ansi.front() == ' ' || ansi.back() == ' ')) {
    return texts::kEdgeBlank;
  }
  const std::size_t limit = kDeviceAtCommandBytes - 1 - std::strlen(item.writePrefix);
  if (ansi.size() > limit) {
    return FormatBounded(128, texts::kValueTooLong, ansi.size(), limit);
  }
  return {};
}

// Why a record cannot be written under its key; empty when it can. The key is the one the
// station writes for the record: "NV<item>", "NV<item>_<first data byte>" for indexed items.
std::string NvRecordFault(const std::string& key, const TNvRecord& record) {
  const int item = record.Item();
  if (item == static_cast<int>(kNoItem)) return texts::kNoItemMark;
  const std::string named = NvKeyOf(record);
  if (key != named) {
    return FormatBounded(128, texts::kKeyNotRecord, item, named.c_str());
  }
  if (!IsListedNvItem(item)) return texts::kItemNotBackedUp;
  return {};
}

}  // namespace

bool SaveDataInfo(const TIdentityBackup& backup, std::string* name, std::string* error) {
  const std::string text = DataInfoText(backup);
  // Two workers in the same millisecond: the second takes the next free millisecond's name.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    *name = DataInfoName();
    // Created only under a free name, written in full and flushed to disk.
    const os::TFileResult written = os::WriteNewFile(*name, text);
    if (written.Done()) return true;
    *error = os::FileResultText(written);
    if (written.status != os::TFileStatus::kNameTaken) return false;
    pacing::Sleep(1);
  }
  return false;
}

bool LoadDataInfo(const std::string& path, TIdentityBackup* backup, std::string* error) {
  std::string text;
  const os::TFileResult read = os::ReadRegularFile(path, kMaxDataInfoBytes, &text);
  if (read.status == os::TFileStatus::kTooLarge) {
    *error = FormatBounded(511, texts::kDataInfoTooLarge, path.c_str(), kMaxDataInfoBytes);
    return false;
  }
  if (!read.Done()) {
    *error = texts::kCannotRead + path + ": " + os::FileResultText(read);
    return false;
  }
  std::map<std::string, int> given;  // section and key -> the line that gave it
  std::string section;
  int lineNumber = 0;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    std::string line = text.substr(from, end - from);
    from = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    if (section != "AT" && section != "NV") continue;  // not read
    const auto equals = line.find('=');
    const std::string key = line.substr(0, equals);
    if (equals == std::string::npos) {
      *error = LineError(path, lineNumber, key, texts::kNotKeyValue + section);
      return false;
    }
    const std::string value = line.substr(equals + 1);
    const auto [first, fresh] = given.try_emplace(section + '\n' + key, lineNumber);
    if (!fresh) {
      *error =
          LineError(path, lineNumber, key, FormatBounded(64, texts::kGivenTwice, first->second));
      return false;
    }
    if (section == "AT") {
      const TAtItem* item = AtItemOfKey(key);
      if (item == nullptr) {
        *error = LineError(path, lineNumber, key, texts::kNoAtKey);
        return false;
      }
      const std::string ansi = Utf8ToAnsi(value);
      const std::string fault = AtValueFault(value, ansi, *item);
      if (!fault.empty()) {
        *error = LineError(path, lineNumber, key, texts::kNoDeviceValue + fault);
        return false;
      }
      backup->at.slots[static_cast<std::size_t>(item->slot)] = ansi;
    } else {
      std::vector<std::uint8_t> bytes;
      if (!ParseHexBytes(value, &bytes) || bytes.size() < kNvItemBytes ||
          bytes.size() > TNvRecord{}.bytes.size()) {
        *error = LineError(path, lineNumber, key, texts::kBadNvValue);
        return false;
      }
      TNvRecord record;
      std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
      const std::string fault = NvRecordFault(key, record);
      if (!fault.empty()) {
        *error = LineError(path, lineNumber, key, fault);
        return false;
      }
      backup->nv.push_back(record);
    }
  }
  if (backup->nv.empty() && backup->at == TIdentityBlock{}) {
    *error = path + texts::kNoIdentityValues;
    return false;
  }
  backup->itemSwitches =
      (backup->nv.empty() ? 0 : kItemNv) | (backup->at == TIdentityBlock{} ? 0 : kItemAt);
  return true;
}

std::string ValuesFault(const TIdentityBackup& backup) {
  if ((backup.itemSwitches & kItemAt) != 0) {
    for (const TAtItem& item : kAtItems) {
      const std::string& ansi = backup.at.slots[static_cast<std::size_t>(item.slot)];
      const std::string fault = AtValueFault(AnsiToUtf8(ansi), ansi, item);
      if (!fault.empty()) return std::string(item.name) + ": " + texts::kNoDeviceValue + fault;
    }
  }
  for (const TNvRecord& record : backup.nv) {
    const std::string key = NvKeyOf(record);
    const std::string fault = NvRecordFault(key, record);
    if (!fault.empty()) return key + ": " + fault;
  }
  return {};
}

std::string BackupFault(const TIdentityBackup& backup) {
  for (const int slot : {kSlotImei, kSlotBraddr}) {
    if (!backup.at.slots[static_cast<std::size_t>(slot)].empty()) {
      return std::string(kAtKeys[slot]) + ": " + texts::kNoAtKey;
    }
  }
  TIdentityBackup all = backup;
  all.itemSwitches |= kItemAt;  // every AT value it holds would be written
  if (std::string fault = ValuesFault(all); !fault.empty()) return fault;
  if (backup.nv.empty() && backup.at == TIdentityBlock{}) return texts::kNoIdentityValues + 1;
  return {};
}

}  // namespace vornex
