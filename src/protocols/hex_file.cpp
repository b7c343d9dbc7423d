// Intel HEX parsing and the process-wide programmer image.
#include "protocols/hex_file.h"

#include <fstream>
#include <iterator>
#include <mutex>

namespace vornex {
namespace {

constexpr std::uint8_t kRecordData = 0;
constexpr std::uint8_t kRecordEnd = 1;
constexpr std::uint8_t kRecordStartSegment = 3;
constexpr std::uint8_t kRecordStartLinear = 5;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads the characters of one record from a position, a pair at a time.
class RecordReader {
 public:
  RecordReader(std::string_view text, std::size_t pos) : text_(text), pos_(pos) {}

  // The next pair as a byte: up to two hex digits; 0 when the pair does not start with one.
  // False at the end of the text.
  bool Pair(std::uint8_t* value) {
    if (pos_ >= text_.size()) return false;
    const int high = HexDigit(text_[pos_]);
    const int low = pos_ + 1 < text_.size() ? HexDigit(text_[pos_ + 1]) : -1;
    pos_ += 2;
    if (high < 0) {
      *value = 0;
    } else if (low < 0) {
      *value = static_cast<std::uint8_t>(high);
    } else {
      *value = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
  }
  std::size_t Position() const { return pos_; }

 private:
  std::string_view text_;
  std::size_t pos_;
};

}  // namespace

std::int32_t ParseHexText(std::string_view text, THexImage& image) {
  std::size_t pos = 0;
  for (;;) {
    pos = text.find(':', pos);
    if (pos == std::string_view::npos) return 1;
    RecordReader record(text, pos + 1);
    std::uint8_t count = 0;
    std::uint8_t addressHigh = 0;
    std::uint8_t addressLow = 0;
    std::uint8_t type = 0;
    if (!record.Pair(&count) || !record.Pair(&addressHigh) || !record.Pair(&addressLow) ||
        !record.Pair(&type)) {
      return 1;  // cut off at the end of the file
    }
    if (type == kRecordStartSegment || type > kRecordStartLinear) return 0;
    if (type == kRecordEnd) return 1;
    std::uint32_t start = 0;
    for (int i = 0; i < count; ++i) {
      std::uint8_t byte = 0;
      if (!record.Pair(&byte)) return 1;
      if (type == kRecordData) {
        if (image.data.size() >= image.capacity) return 0;
        image.data.push_back(byte);
      } else if (type == kRecordStartLinear && i < 4) {
        start = (start << 8) | byte;
      }
    }
    if (type == kRecordStartLinear) image.startAddress = start;
    std::uint8_t checksum = 0;
    record.Pair(&checksum);  // read, not verified
    pos = record.Position();
  }
}

std::int32_t ParseHexFile(const std::string& path, THexImage& image) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return 0;
  image.capacity = text.size() / 2;
  image.data.reserve(image.capacity);
  return ParseHexText(text, image);
}

std::shared_ptr<const THexImage> ProgrammerImage(const std::string& path) {
  static std::mutex mutex;
  static std::shared_ptr<const THexImage> loaded;
  std::lock_guard lock(mutex);
  if (loaded) return loaded;
  auto image = std::make_shared<THexImage>();
  const std::int32_t parsed = ParseHexFile(path, *image);
  if (parsed == 1) loaded = image;
  return image;
}

}  // namespace vornex
