// Intel HEX records: ":" count(1) address(2) type(1) data(count) checksum(1), as hexadecimal
// pairs; the checksum makes the sum of all record bytes 0 modulo 256.
#include "sim/intel_hex.h"

#include <fstream>
#include <sstream>

namespace vornex::sim {
namespace {

constexpr std::uint8_t kTypeData = 0x00;
constexpr std::uint8_t kTypeEndOfFile = 0x01;
constexpr std::uint8_t kTypeSegmentAddress = 0x02;
constexpr std::uint8_t kTypeLinearAddress = 0x04;
constexpr std::uint8_t kTypeStartLinear = 0x05;
// Count, two address bytes, type, checksum.
constexpr std::size_t kRecordOverheadBytes = 5;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Fail(std::string* error, std::size_t lineNumber, const char* reason) {
  if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + reason;
  return false;
}

// The record's bytes (count through checksum) from the hexadecimal text after the colon.
bool DecodeRecord(std::string_view digits, std::vector<std::uint8_t>* bytes) {
  if (digits.size() % 2 != 0) return false;
  bytes->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexValue(digits[i]);
    const int low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

}  // namespace

bool ParseIntelHex(std::string_view text, THexImage* image, std::string* error) {
  THexImage result;
  std::vector<std::uint8_t> record;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNumber;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty()) continue;
    if (line.front() != ':') return Fail(error, lineNumber, "a record must start with ':'");
    if (!DecodeRecord(line.substr(1), &record)) {
      return Fail(error, lineNumber, "not an even number of hexadecimal digits");
    }
    if (record.size() < kRecordOverheadBytes || record.size() != kRecordOverheadBytes + record[0]) {
      return Fail(error, lineNumber, "byte count does not match the record length");
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : record) sum = static_cast<std::uint8_t>(sum + byte);
    if (sum != 0) return Fail(error, lineNumber, "bad checksum");

    const std::uint8_t count = record[0];
    const std::uint8_t type = record[3];
    const std::uint8_t* data = record.data() + 4;
    switch (type) {
      case kTypeData:
        result.data.insert(result.data.end(), data, data + count);
        break;
      case kTypeEndOfFile:
        *image = std::move(result);
        return true;
      case kTypeSegmentAddress:
      case kTypeLinearAddress:
        break;
      case kTypeStartLinear:
        if (count != 4) return Fail(error, lineNumber, "start address record needs 4 bytes");
        result.startAddress = (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) |
                              (std::uint32_t{data[2]} << 8) | std::uint32_t{data[3]};
        break;
      default:
        return Fail(error, lineNumber, "unsupported record type");
    }
  }
  *image = std::move(result);
  return true;
}

bool ReadIntelHexFile(const std::string& path, THexImage* image, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string reason;
  if (!ParseIntelHex(text.str(), image, &reason)) {
    if (error != nullptr) *error = path + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace vornex::sim
