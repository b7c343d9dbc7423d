// The programmer image: an Intel HEX file read into one contiguous block. Data records are
// appended in file order (their addresses are read and not used, so gaps close up); the start
// address comes from the start-linear-address record. Parsing is strict, pure and bounded:
// every record is checked before it is used, and whatever the file holds, nothing is read or
// written outside the buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornex {

// The largest programmer file the station reads.
constexpr std::size_t kMaxProgrammerFileBytes = std::size_t{4} * 1024 * 1024;

struct THexImage {
  std::vector<std::uint8_t> data;  // at most `capacity` bytes
  std::size_t capacity = 0;        // half the file size: every data byte takes two characters
  std::uint32_t startAddress = 0;  // from the type-5 record; 0 without one
};

// Parses HEX text into the image (appending to its data, within its capacity). A record starts
// at ':' and runs to the next blank or line end; between records only blanks and line ends may
// stand, and nothing after the end record is read. A record must consist of hex digits only,
// hold as many data bytes as its length field says, and carry the checksum of its bytes. Type 0
// appends its data, 1 ends the file, 2 and 4 are ignored, 5 (four bytes) sets the start
// address; 3 and types above 5 fail.
// Returns 1 on the end record. Returns 0 on the first record that fails (the data read before it
// stays), on data that would overflow the capacity, and when the text ends without an end
// record; the reason then goes to `reason` when given ("line 12: checksum 3A, computed 3B",
// "no end record", ...).
std::int32_t ParseHexText(std::string_view text, THexImage& image, std::string* reason = nullptr);

// Reads the file and parses it with the capacity set to half its size. Returns 0 with a reason
// when the file is missing, no regular file, larger than kMaxProgrammerFileBytes or unreadable;
// else the result of ParseHexText.
std::int32_t ParseHexFile(const std::string& path, THexImage& image, std::string* reason = nullptr);

}  // namespace vornex
