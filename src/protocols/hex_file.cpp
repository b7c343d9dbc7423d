// Intel HEX parsing of the programmer, record by record, with every record checked.
#include "protocols/hex_file.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/text.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kRecordData = 0;
constexpr std::uint8_t kRecordEnd = 1;
constexpr std::uint8_t kRecordExtendedSegment = 2;
constexpr std::uint8_t kRecordExtendedLinear = 4;
constexpr std::uint8_t kRecordStartLinear = 5;
constexpr std::size_t kHeaderBytes = 4;  // length, address (two bytes), type
constexpr std::size_t kMaxRecordBytes = kHeaderBytes + 255 + 1;
constexpr std::size_t kStartAddressBytes = 4;
constexpr std::size_t kReasonUnits = 160;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A character as a reason text shows it: quoted when printable, else its code.
std::string Shown(char c) {
  const auto code = static_cast<unsigned char>(c);
  if (code >= 0x20 && code <= 0x7E) return FormatBounded(8, "'%c'", c);
  return FormatBounded(8, "0x%02X", code);
}

std::int32_t Refuse(std::string* reason, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
  return 0;
}

}  // namespace

std::int32_t ParseHexText(std::string_view text, THexImage& image, std::string* reason) {
  std::size_t line = 1;
  bool anyRecord = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (IsBlank(c)) {
      if (c == '\n') ++line;
      ++pos;
      continue;
    }
    if (c != ':') {
      return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: %s outside a record", line,
                                          Shown(c).c_str()));
    }
    std::size_t end = pos + 1;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    const std::string_view digits = text.substr(pos + 1, end - pos - 1);
    pos = end;
    anyRecord = true;

    for (const char d : digits) {
      if (HexDigit(d) < 0) {
        return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: non-hex character %s", line,
                                            Shown(d).c_str()));
      }
    }
    if (digits.size() % 2 != 0) {
      return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: odd number of digits (%zu)",
                                          line, digits.size()));
    }
    if (digits.size() < 2 * (kHeaderBytes + 1)) {
      return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: record cut short (%zu digits)",
                                          line, digits.size()));
    }
    const std::size_t held = digits.size() / 2 - kHeaderBytes - 1;
    const auto count = static_cast<std::size_t>(HexDigit(digits[0]) * 16 + HexDigit(digits[1]));
    if (held != count) {
      return Refuse(reason, FormatBounded(kReasonUnits,
                                          "line %zu: length field %02zX, record holds %zu bytes",
                                          line, count, held));
    }

    // The length matches, so the record fits kMaxRecordBytes.
    std::array<std::uint8_t, kMaxRecordBytes> bytes{};
    const std::size_t size = digits.size() / 2;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] =
          static_cast<std::uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
      if (i + 1 < size) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    const auto computed = static_cast<std::uint8_t>(0x100 - sum);
    if (bytes[size - 1] != computed) {
      return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: checksum %02X, computed %02X",
                                          line, bytes[size - 1], computed));
    }

    const std::uint8_t type = bytes[3];
    const std::uint8_t* data = bytes.data() + kHeaderBytes;
    switch (type) {
      case kRecordData:
        if (count > image.capacity - std::min(image.capacity, image.data.size())) {
          return Refuse(
              reason, FormatBounded(kReasonUnits, "line %zu: data beyond the capacity of %zu bytes",
                                    line, image.capacity));
        }
        image.data.insert(image.data.end(), data, data + count);
        break;
      case kRecordEnd:
        return 1;
      case kRecordExtendedSegment:
      case kRecordExtendedLinear:
        break;
      case kRecordStartLinear:
        if (count != kStartAddressBytes) {
          return Refuse(reason, FormatBounded(kReasonUnits, "line %zu: start address of %zu bytes",
                                              line, count));
        }
        image.startAddress = (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) |
                             (std::uint32_t{data[2]} << 8) | data[3];
        break;
      default:
        return Refuse(
            reason,
            FormatBounded(kReasonUnits, "line %zu: record type %02X not supported", line, type));
    }
  }
  return Refuse(reason, anyRecord ? "no end record" : "no records");
}

std::int32_t ParseHexFile(const std::string& path, THexImage& image, std::string* reason) {
  std::error_code ec;
  const fs::file_status status = fs::status(fs::path(path), ec);
  if (status.type() == fs::file_type::not_found) return Refuse(reason, "file not found");
  if (ec) return Refuse(reason, "file cannot be read (" + ec.message() + ")");
  // Folders, pipes, devices: nothing to parse (and nothing to block on).
  if (status.type() != fs::file_type::regular) return Refuse(reason, "not a regular file");

  std::ifstream in(path, std::ios::binary);
  if (!in) return Refuse(reason, "file cannot be read");
  // One byte more than the limit tells a file that is too large.
  std::string text(kMaxProgrammerFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return Refuse(reason, "file cannot be read");
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxProgrammerFileBytes) {
    return Refuse(reason, FormatBounded(kReasonUnits, "file larger than %zu MiB",
                                        kMaxProgrammerFileBytes / (1024 * 1024)));
  }
  image.capacity = text.size() / 2;
  image.data.reserve(image.capacity);
  return ParseHexText(text, image, reason);
}

}  // namespace vornex
