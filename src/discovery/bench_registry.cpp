// Bench registry files: atomic writes, guarded reads.
#include "discovery/bench_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "discovery/note_text.h"

namespace vornex::bench {
namespace fs = std::filesystem;
namespace {

enum class TRecordRead { kRead, kGone, kRefused };

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Reads one record file into `text`. The entry's own type (links not followed) must be a regular
// file before it is opened at all; the open neither follows a link nor waits, and the opened
// file must still be a regular file within the size limit, so that a file swapped in after the
// check is caught too. kRefused leaves the reason in `why`.
TRecordRead ReadRecord(const fs::directory_entry& entry, std::string& text, std::string& why) {
  std::error_code ec;
  const fs::file_status status = entry.symlink_status(ec);
  if (ec == std::errc::no_such_file_or_directory) return TRecordRead::kGone;
  if (ec) {
    why = ec.message();
    return TRecordRead::kRefused;
  }
  if (fs::is_symlink(status)) {
    why = "symbolic link";
    return TRecordRead::kRefused;
  }
  if (!fs::is_regular_file(status)) {
    why = "not a regular file";
    return TRecordRead::kRefused;
  }

  const int fd =
      ::open(entry.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return TRecordRead::kGone;
    why = errno == ELOOP ? "symbolic link" : ErrnoText(errno);
    return TRecordRead::kRefused;
  }
  struct stat info {};
  std::size_t size = 0;
  bool refused = true;
  if (::fstat(fd, &info) != 0) {
    why = ErrnoText(errno);
  } else if (!S_ISREG(info.st_mode)) {
    why = "not a regular file";
  } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxRecordBytes) {
    why = std::to_string(info.st_size) + " bytes, more than " + std::to_string(kMaxRecordBytes);
  } else {
    // One byte more than the limit tells a file that grew since fstat.
    text.resize(kMaxRecordBytes + 1);
    refused = false;
    while (size < text.size()) {
      const ssize_t got = ::read(fd, text.data() + size, text.size() - size);
      if (got == 0) break;
      if (got > 0) {
        size += static_cast<std::size_t>(got);
      } else if (errno != EINTR) {
        why = ErrnoText(errno);
        refused = true;
        break;
      }
    }
    if (!refused && size > kMaxRecordBytes) {
      why = "more than " + std::to_string(kMaxRecordBytes) + " bytes";
      refused = true;
    }
  }
  ::close(fd);
  text.resize(refused ? 0 : size);
  return refused ? TRecordRead::kRefused : TRecordRead::kRead;
}

// Parses one record file; false when a required field is missing or malformed.
bool ParsePort(const std::string& text, BenchPort* port) {
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

}  // namespace

std::string PortFileName(int com) {
  return "COM" + std::to_string(com) + kPortFileSuffix;
}

bool WritePort(const std::string& folder, const BenchPort& port) {
  std::ostringstream text;
  text << "com=" << static_cast<int>(port.info.com) << '\n'
       << "class=" << port.info.portClass << '\n'
       << "path=" << port.info.path.str() << '\n'
       << "description=" << port.info.description.str() << '\n'
       << "hardware_id=" << port.info.hardwareId.str() << '\n'
       << "tty=" << port.ttyPath << '\n';
  const std::string name = PortFileName(port.info.com);
  const fs::path target = fs::path(folder) / name;
  const fs::path temporary = fs::path(folder) / ("." + name + ".tmp");
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
  fs::remove(fs::path(folder) / PortFileName(com), ec);
  return !ec;
}

std::vector<BenchPort> ReadPorts(const std::string& folder, std::vector<std::string>* notes) {
  const auto note = [notes](std::string text) {
    if (notes != nullptr) notes->push_back(std::move(text));
  };
  std::vector<BenchPort> ports;
  std::size_t entries = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (++entries > kMaxFolderEntries) {
      note("bench folder holds more than " + std::to_string(kMaxFolderEntries) +
           " entries: nothing listed");
      return {};
    }
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.' || !name.ends_with(kPortFileSuffix)) continue;
    std::string text;
    std::string why;
    const TRecordRead read = ReadRecord(*it, text, why);
    if (read == TRecordRead::kGone) continue;  // removed since the listing
    BenchPort port;
    if (read == TRecordRead::kRefused) {
      note("bench record " + NoteText(name) + " refused: " + why);
    } else if (!ParsePort(text, &port)) {
      note("bench record " + NoteText(name) + " refused: incomplete or malformed");
    } else {
      ports.push_back(std::move(port));
    }
  }
  std::sort(ports.begin(), ports.end(),
            [](const BenchPort& a, const BenchPort& b) { return a.info.com < b.info.com; });
  return ports;
}

}  // namespace vornex::bench
