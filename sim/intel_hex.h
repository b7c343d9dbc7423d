// The simulator's own Intel HEX reader, used to learn which programmer a simulated boot
// downloader expects: the data bytes of the file's data records, concatenated in file order
// (record addresses are not used, so gaps close up exactly as the station sends the image), and
// the start address from the start-linear-address record (0 without one). The reader is strict:
// every record is checked (hexadecimal digits, byte count, checksum), so that a damaged file is
// reported instead of being half used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornex::sim {

struct THexImage {
  std::vector<std::uint8_t> data;
  std::uint32_t startAddress = 0;
};

// Parses HEX text. True with the image filled; false with a reason ("line 7: bad checksum").
// Accepted record types: 00 data, 01 end of file (ends parsing), 02 and 04 (address extensions,
// not needed since addresses are not used), 05 start linear address. Types 03 and above 05
// are refused. Blank lines and a missing end-of-file record are tolerated.
bool ParseIntelHex(std::string_view text, THexImage* image, std::string* error);

// Reads and parses a file; false with a reason when it cannot be read or parsed.
bool ReadIntelHexFile(const std::string& path, THexImage* image, std::string* error);

}  // namespace vornex::sim
