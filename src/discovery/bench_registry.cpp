// Bench registry files: atomic writes, tolerant reads.
#include "discovery/bench_registry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace vornex::bench {
namespace fs = std::filesystem;
namespace {

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

std::string PortFileName(int com) { return "COM" + std::to_string(com) + kPortFileSuffix; }

bool WritePort(const std::string& folder, const BenchPort& port) {
  std::ostringstream text;
  text << "com=" << static_cast<int>(port.info.com) << '\n'
       << "class=" << port.info.portClass << '\n'
       << "path=" << port.info.path.str() << '\n'
       << "description=" << port.info.description.str() << '\n'
       << "hardware_id=" << port.info.hardwareId.str() << '\n'
       << "tty=" << port.ttyPath << '\n';
  const fs::path target = fs::path(folder) / PortFileName(port.info.com);
  const fs::path temporary = fs::path(folder) / ("." + PortFileName(port.info.com) + ".tmp");
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

std::vector<BenchPort> ReadPorts(const std::string& folder) {
  std::vector<BenchPort> ports;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.front() == '.' || !name.ends_with(kPortFileSuffix)) continue;
    std::ifstream in(it->path(), std::ios::binary);
    if (!in) continue;  // vanished since the listing
    std::ostringstream text;
    text << in.rdbuf();
    BenchPort port;
    if (ParsePort(text.str(), &port)) ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const BenchPort& a, const BenchPort& b) { return a.info.com < b.info.com; });
  return ports;
}

}  // namespace vornex::bench
