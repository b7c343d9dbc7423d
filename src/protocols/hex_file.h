// The programmer image: an Intel HEX file read into one contiguous block, which the download
// writes to the device from the start address upwards. The data records must therefore lay
// their bytes out exactly as the block does: from the start address on, in file order, each
// record continuing where the one before it ended. The start address comes from the
// start-linear-address record. Parsing is strict, pure and bounded: every record is checked
// before it is used, and whatever the file holds, nothing is read or written outside the
// buffers.
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
// appends its data, 1 ends the file, 5 (four bytes) sets the start address; 3 and types above 5
// fail.
//
// Addresses: type 4 (two bytes) sets the upper 16 bits of the addresses that follow, type 2 (two
// bytes) sets their base to the segment times 16; each replaces the other. A data record's bytes
// lie at base + its 16-bit address upwards, one after the other: a record that would wrap past
// FFFFFFFF, or past the end of its 64 KiB segment under a type-2 base, fails. A file without any
// type-2 or type-4 record gives only the low 16 bits of its addresses; the upper 16 are then
// those of the start address. Each data record must begin where the one before it ended: one
// that overlaps earlier data, leaves a gap or lies below earlier data fails. At the end record,
// the first data byte must lie at the start address (the load region runs from there for the
// length of the data), wherever in the file the type-5 record stands. Records without data
// place nothing.
//
// Returns 1 on the end record. Returns 0 on the first record that fails (the data read before it
// stays), on data that would overflow the capacity, on data outside the load region (all data
// stays), and when the text ends without an end record; the reason then goes to `reason` when
// given ("line 12: checksum 3A, computed 3B", "line 3: data at 08000010 overlaps earlier data",
// "no end record", ...).
std::int32_t ParseHexText(std::string_view text, THexImage& image, std::string* reason = nullptr);

// Reads the file and parses it with the capacity set to half its size. Returns 0 with a reason
// when the file is missing, no regular file, larger than kMaxProgrammerFileBytes or unreadable;
// else the result of ParseHexText.
std::int32_t ParseHexFile(const std::string& path, THexImage& image, std::string* reason = nullptr);

}  // namespace vornex
