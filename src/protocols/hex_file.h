// The programmer image: an Intel HEX file read into one contiguous block. Data records are
// appended in file order (their addresses are read and not used, so gaps close up); the start
// address comes from the start-linear-address record. Parsing is pure and bounded: whatever the
// file holds, nothing is read or written outside the buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vornex {

struct THexImage {
  std::vector<std::uint8_t> data;  // at most `capacity` bytes
  std::size_t capacity = 0;        // half the file size: every data byte takes two characters
  std::uint32_t startAddress = 0;  // from the type-5 record; 0 without one
};

// Parses HEX text into the image (appending to its data, within its capacity). Records start
// at ':'; anything between records is skipped. Type 0 appends its data, 1 ends successfully,
// 2 and 4 are ignored, 5 sets the start address; 3 and types above 5 fail. The checksum is read
// and not verified; a pair of characters that does not start with a hex digit reads as 0.
// Returns 1 on an end record or at the end of the text, 0 on a failing record (the data read
// before it stays) or when a data record would overflow the capacity.
std::int32_t ParseHexText(std::string_view text, THexImage& image);

// Reads the file and parses it with the capacity set to half its size. Returns 0 when the file
// cannot be read, else the result of ParseHexText.
std::int32_t ParseHexFile(const std::string& path, THexImage& image);

// The process-wide programmer image. The first call that parses a file successfully keeps its
// image for the rest of the process (later calls get it whatever path they pass); a failed parse
// is handed back for that one download and tried again by the next call. Thread-safe.
std::shared_ptr<const THexImage> ProgrammerImage(const std::string& path);

}  // namespace vornex
