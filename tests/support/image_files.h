// Test images: deterministic bytes of every value (so that frame flags and escapes occur as in a
// real image), a flash image with its version tag in its last 32 bytes, and the Intel HEX text
// of a programmer, as the station reads them from an image folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vornex::testing {

using ImageBytes = std::vector<std::uint8_t>;

// `length` pseudo-random bytes, the same for the same salt.
inline ImageBytes PatternBytes(std::size_t length, std::uint32_t salt) {
  ImageBytes bytes(length);
  std::uint32_t x = salt * 2654435761u + 1;
  for (std::uint8_t& byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

// A flash image of `length` bytes whose last 32 bytes hold the tag, then 0xFF padding.
inline ImageBytes MakeImage(std::size_t length, std::string_view tag, std::uint32_t salt) {
  ImageBytes image = PatternBytes(length, salt);
  std::fill(image.end() - 32, image.end(), std::uint8_t{0xFF});
  std::copy(tag.begin(), tag.end(), image.end() - 32);
  return image;
}

// Intel HEX text: data records of up to 16 bytes under extended linear address records (none
// crossing a 64 KiB boundary), the start linear address record, the end record.
inline std::string IntelHexText(const ImageBytes& data, std::uint32_t address) {
  std::string text;
  auto record = [&text](std::uint8_t type, std::uint16_t at, const std::uint8_t* bytes,
                        std::size_t length) {
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(length), at, type);
    text += field;
    unsigned sum = static_cast<unsigned>(length) + (at >> 8) + (at & 0xFF) + type;
    for (std::size_t i = 0; i < length; ++i) {
      std::snprintf(field, sizeof field, "%02X", bytes[i]);
      text += field;
      sum += bytes[i];
    }
    std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += field;
  };
  std::uint32_t upper = 0xFFFFFFFF;
  for (std::size_t offset = 0; offset < data.size();) {
    const std::uint32_t at = address + static_cast<std::uint32_t>(offset);
    if ((at >> 16) != upper) {
      upper = at >> 16;
      const std::uint8_t high[2] = {static_cast<std::uint8_t>(upper >> 8),
                                    static_cast<std::uint8_t>(upper)};
      record(0x04, 0, high, 2);
    }
    // A record never crosses a 64 KiB boundary.
    const std::size_t length =
        std::min<std::size_t>({16, data.size() - offset, 0x10000 - (at & 0xFFFF)});
    record(0x00, static_cast<std::uint16_t>(at & 0xFFFF), data.data() + offset, length);
    offset += length;
  }
  const std::uint8_t start[4] = {
      static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
      static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
  record(0x05, 0, start, 4);
  record(0x01, 0, nullptr, 0);
  return text;
}

}  // namespace vornex::testing
