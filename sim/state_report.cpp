// JSON form of the device reports.
#include "sim/state_report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/text.h"

namespace vornex::sim {
namespace {

// A JSON string literal of device-side text.
std::string Quoted(std::string_view ansi) {
  const std::string utf8 = AnsiToUtf8(ansi);
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out.append(escaped);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

const char* Bool(bool value) {
  return value ? "true" : "false";
}

void AppendDevice(const TDeviceReport& r, std::string& out) {
  out += "    {\"index\": " + std::to_string(r.index);
  out += ", \"key\": " + Quoted(r.key);
  out += ", \"present\": " + std::string(Bool(r.present));
  out += ", \"layer\": " + Quoted(r.layer);
  out += ",\n     \"firmware_version\": " + Quoted(r.firmwareVersion);
  out += ", \"flash\": {\"length\": " + std::to_string(r.flashLength) +
         ", \"sha256\": " + Quoted(r.flashSha256) + "}";
  out += ", \"streamed_bytes\": " + std::to_string(r.streamedBytes);
  out += ",\n     \"identity\": {\"sn\": " + Quoted(r.identity.serialNumber) +
         ", \"meid\": " + Quoted(r.identity.meid) +
         ", \"test_flag\": " + Quoted(r.identity.testFlag) + "}";
  out += ",\n     \"nv\": {\"items\": " + std::to_string(r.nvItemCount) +
         ", \"digest\": " + Quoted(r.nvDigest) + "}";
  out += ",\n     \"diag_interface\": " + Quoted(r.diagInterfaceOn ? "on" : "off");
  out += ", \"echo\": " + std::string(Bool(r.echoOn));
  out += ", \"com\": {\"diag\": " + std::to_string(r.diagCom) +
         ", \"modem\": " + std::to_string(r.modemCom) + ", \"extra\": [";
  for (std::size_t i = 0; i < r.extraComs.size(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(r.extraComs[i]);
  }
  out += "]}";
  out += ",\n     \"flash_count\": " + std::to_string(r.flashCount);
  out += ", \"boot_count\": " + std::to_string(r.bootCount);
  out += ",\n     \"commands\": {";
  bool first = true;
  for (const auto& [name, count] : r.commandCounts) {
    if (!first) out += ", ";
    first = false;
    out += Quoted(name) + ": " + std::to_string(count);
  }
  out += "}}";
}

}  // namespace

std::string ReportsToJson(const std::vector<TDeviceReport>& reports) {
  std::string out = "{\"devices\": [\n";
  for (std::size_t i = 0; i < reports.size(); ++i) {
    AppendDevice(reports[i], out);
    out += i + 1 < reports.size() ? ",\n" : "\n";
  }
  out += "]}\n";
  return out;
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  fs::path temporary = target;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      if (error != nullptr) *error = "cannot write " + temporary.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    if (error != nullptr) *error = "cannot replace " + path;
    return false;
  }
  return true;
}

}  // namespace vornex::sim
