// Intel HEX parsing of the programmer, record by record, with every record checked and every
// data byte's address followed, so that the block the download writes from the start address
// puts each byte where the file places it.
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
constexpr std::size_t kExtendedAddressBytes = 2;
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;
constexpr std::uint32_t kSegmentBytes = 0x10000;
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

// Where the data records of one text put their bytes. Every record continues where the one before
// it ended, so the data read so far covers [first, next) without a hole.
class TLayout {
 public:
  // A type-2 (segmented) or type-4 record with its two data bytes.
  void SetBase(std::uint8_t type, const std::uint8_t* data) {
    const std::uint32_t value = (std::uint32_t{data[0]} << 8) | data[1];
    segmented_ = type == kRecordExtendedSegment;
    base_ = segmented_ ? value << 4 : value << 16;
    addressed_ = true;
  }

  // Places the `count` bytes (at least one) of the data record on `line` at its 16-bit address;
  // empty when they follow on, else the problem.
  std::string Place(std::uint16_t address, std::size_t count, std::size_t line) {
    const std::uint64_t at = std::uint64_t{base_} + address;
    const std::uint64_t end = at + count;
    const auto shown = static_cast<unsigned>(at);  // below 4 GiB: base and address are bounded
    if (segmented_ && address + count > kSegmentBytes) {
      return FormatBounded(kReasonUnits,
                           "line %zu: data at %08X wraps past the end of segment %04X", line, shown,
                           static_cast<unsigned>(base_ >> 4));
    }
    if (end > kAddressSpace) {
      return FormatBounded(kReasonUnits, "line %zu: data at %08X wraps past FFFFFFFF", line, shown);
    }
    if (placed_ && at < next_ && end > first_) {
      return FormatBounded(kReasonUnits, "line %zu: data at %08X overlaps earlier data", line,
                           shown);
    }
    if (placed_ && at != next_) {
      return FormatBounded(kReasonUnits, "line %zu: data at %08X, the data before ends at %08llX",
                           line, shown, static_cast<unsigned long long>(next_));
    }
    if (!placed_) {
      placed_ = true;
      first_ = at;
      firstLine_ = line;
    }
    next_ = end;
    return {};
  }

  // Empty when the data, written from `start` upwards, lands where the records place it (or when
  // there is none); else the problem, on the line of the first data record.
  std::string CheckLoadRegion(std::uint32_t start) const {
    if (!placed_) return {};
    // Without address records only the low 16 bits were given (and first_ is below 64 KiB).
    const std::uint64_t at = addressed_ ? first_ : (start & 0xFFFF0000u) + first_;
    if (at != start) {
      return FormatBounded(kReasonUnits,
                           "line %zu: data at %08llX outside the load region from the start "
                           "address %08X",
                           firstLine_, static_cast<unsigned long long>(at), start);
    }
    if (at + (next_ - first_) > kAddressSpace) {
      return FormatBounded(kReasonUnits,
                           "line %zu: data from the start address %08X wraps past FFFFFFFF",
                           firstLine_, start);
    }
    return {};
  }

 private:
  std::uint32_t base_ = 0;
  bool segmented_ = false;  // the base is a segment's
  bool addressed_ = false;  // a type-2 or type-4 record was read
  bool placed_ = false;     // a data byte was placed
  std::uint64_t first_ = 0;
  std::uint64_t next_ = 0;
  std::size_t firstLine_ = 0;
};

}  // namespace

std::int32_t ParseHexText(std::string_view text, THexImage& image, std::string* reason) {
  std::size_t line = 1;
  bool anyRecord = false;
  TLayout layout;
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
      case kRecordData: {
        if (count > image.capacity - std::min(image.capacity, image.data.size())) {
          return Refuse(
              reason, FormatBounded(kReasonUnits, "line %zu: data beyond the capacity of %zu bytes",
                                    line, image.capacity));
        }
        if (count == 0) break;
        const auto address = static_cast<std::uint16_t>((bytes[1] << 8) | bytes[2]);
        std::string problem = layout.Place(address, count, line);
        if (!problem.empty()) return Refuse(reason, std::move(problem));
        image.data.insert(image.data.end(), data, data + count);
        break;
      }
      case kRecordEnd: {
        std::string problem = layout.CheckLoadRegion(image.startAddress);
        if (!problem.empty()) return Refuse(reason, std::move(problem));
        return 1;
      }
      case kRecordExtendedSegment:
      case kRecordExtendedLinear:
        if (count != kExtendedAddressBytes) {
          return Refuse(
              reason,
              FormatBounded(kReasonUnits, "line %zu: extended address of %zu bytes", line, count));
        }
        layout.SetBase(type, data);
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
