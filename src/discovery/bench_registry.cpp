// Bench registry files: atomic writes, guarded reads (os::ReadRegularFile), and the note on
// records that claim one COM number.
#include "discovery/bench_registry.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "discovery/note_text.h"
#include "foundation/os_file.h"
#include "foundation/paths.h"

namespace vornex::bench {
namespace fs = std::filesystem;
namespace {

enum class TRecordRead { kRead, kGone, kRefused };

// Reads one record file into `text`. The entry's own type (links not followed) must be a regular
// file before it is opened at all; the open neither follows a link nor waits, and the opened
// file must still be a regular file within the size limit, so that a file swapped in after the
// check is caught too. kRefused leaves the reason in `why`.
//
// The type is the one the folder's listing gave, where it gave one: a folder of thousands of
// records costs no further call to the system for each before it is opened.
TRecordRead ReadRecord(const fs::directory_entry& entry, std::string& text, std::string& why) {
  std::error_code ec;
  const bool link = entry.is_symlink(ec);
  const bool regular = !ec && !link && entry.is_regular_file(ec);
  if (ec == std::errc::no_such_file_or_directory) return TRecordRead::kGone;
  if (ec) {
    why = ec.message();
    return TRecordRead::kRefused;
  }
  if (link) {
    why = "symbolic link";
    return TRecordRead::kRefused;
  }
  if (!regular) {
    why = "not a regular file";
    return TRecordRead::kRefused;
  }
  const os::TFileResult read =
      os::ReadRegularFile(paths::Utf8Path(entry.path()), kMaxRecordBytes, &text);
  if (read.Done()) return TRecordRead::kRead;
  if (read.status == os::TFileStatus::kMissing) return TRecordRead::kGone;
  if (read.status == os::TFileStatus::kTooLarge) {
    why = read.size != 0
              ? std::to_string(read.size) + " bytes, more than " + std::to_string(kMaxRecordBytes)
              : "more than " + std::to_string(kMaxRecordBytes) + " bytes";
  } else {
    why = os::FileResultText(read);
  }
  return TRecordRead::kRefused;
}

// Parses one record file; false when a required field is missing or malformed.
bool ParsePort(const std::string& text, TBenchPort* port) {
  std::istringstream lines(text);
  std::string line;
  bool haveCom = false;
  bool haveClass = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "com") {
      char* end = nullptr;
      const long com = std::strtol(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || com < 1 || com > 255) return false;
      port->info.com = static_cast<std::uint8_t>(com);
      haveCom = true;
    } else if (key == "class") {
      if (value != "1" && value != "2") return false;
      port->info.portClass = value == "1" ? kPortClassSerial : kPortClassModem;
      haveClass = true;
    } else if (key == "path") {
      port->info.path = value;
    } else if (key == "description") {
      port->info.description = value;
    } else if (key == "hardware_id") {
      port->info.hardwareId = value;
    } else if (key == "tty") {
      port->ttyPath = value;
    }
  }
  port->info.usb = 1;
  port->info.openable = 1;
  return haveCom && haveClass && !port->ttyPath.empty() && !port->info.path.empty();
}

// One note per COM number that more than one record claims, naming the records. `ports` is
// ordered by COM number.
void NoteSharedNumbers(const std::vector<TBenchPort>& ports, std::vector<std::string>& notes) {
  for (std::size_t first = 0; first < ports.size();) {
    std::size_t end = first + 1;
    while (end < ports.size() && ports[end].info.com == ports[first].info.com) ++end;
    if (end - first > 1) {
      std::string names;
      for (std::size_t i = first; i < end; ++i) {
        names += i == first ? "" : i + 1 == end ? " and " : ", ";
        names += NoteText(ports[i].fileName);
      }
      notes.push_back("bench records " + names + (end - first == 2 ? " both" : " all") +
                      " claim COM" + std::to_string(ports[first].info.com) +
                      ": the station lists none of them, nor the other ports of their devices");
    }
    first = end;
  }
}

}  // namespace

std::string PortFileName(int com) {
  return "COM" + std::to_string(com) + kPortFileSuffix;
}

bool WritePort(const std::string& folder, const TBenchPort& port) {
  std::ostringstream text;
  text << "com=" << static_cast<int>(port.info.com) << '\n'
       << "class=" << port.info.portClass << '\n'
       << "path=" << port.info.path.str() << '\n'
       << "description=" << port.info.description.str() << '\n'
       << "hardware_id=" << port.info.hardwareId.str() << '\n'
       << "tty=" << port.ttyPath << '\n';
  const std::string name = PortFileName(port.info.com);
  const fs::path target = paths::LiteralFsPath(folder) / name;
  const fs::path temporary = paths::LiteralFsPath(folder) / ("." + name + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text.str();
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(temporary, target, ec);
  if (ec) fs::remove(temporary, ec);
  return !ec;
}

bool RemovePort(const std::string& folder, int com) {
  std::error_code ec;
  fs::remove(paths::LiteralFsPath(folder) / PortFileName(com), ec);
  return !ec;
}

std::vector<TBenchPort> ReadPorts(const std::string& folder, std::vector<std::string>* notes) {
  const auto note = [notes](std::string text) {
    if (notes != nullptr) notes->push_back(std::move(text));
  };
  std::vector<TBenchPort> ports;
  std::size_t entries = 0;
  std::error_code ec;
  for (fs::directory_iterator it(paths::LiteralFsPath(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (++entries > kMaxFolderEntries) {
      note("bench folder holds more than " + std::to_string(kMaxFolderEntries) +
           " entries: nothing listed");
      return {};
    }
    const std::string name = paths::Utf8Path(it->path().filename());
    if (name.empty() || name.front() == '.' || !name.ends_with(kPortFileSuffix)) continue;
    std::string text;
    std::string why;
    const TRecordRead read = ReadRecord(*it, text, why);
    if (read == TRecordRead::kGone) continue;  // removed since the listing
    TBenchPort port;
    if (read == TRecordRead::kRefused) {
      note("bench record " + NoteText(name) + " refused: " + why);
    } else if (!ParsePort(text, &port)) {
      note("bench record " + NoteText(name) + " refused: incomplete or malformed");
    } else {
      port.fileName = name;
      ports.push_back(std::move(port));
    }
  }
  std::sort(ports.begin(), ports.end(), [](const TBenchPort& a, const TBenchPort& b) {
    return a.info.com != b.info.com ? a.info.com < b.info.com : a.fileName < b.fileName;
  });
  if (notes != nullptr) NoteSharedNumbers(ports, *notes);
  return ports;
}

}  // namespace vornex::bench
