// Zero runs: a byte other than zero stands for itself; a zero is followed by the length of its
// run (1 to 255). Records follow one another without a mark: their size is fixed.
#include "store/nv_pack.h"

namespace vornex {
namespace {

constexpr std::size_t kRecordBytes = sizeof(TNvRecord::bytes);
constexpr std::size_t kLongestRun = 255;

}  // namespace

std::string PackNvRecords(const std::vector<TNvRecord>& records) {
  std::string packed;
  packed.reserve(records.size() * 16);
  for (const TNvRecord& record : records) {
    for (std::size_t i = 0; i < kRecordBytes;) {
      const std::uint8_t byte = record.bytes[i];
      if (byte != 0) {
        packed += static_cast<char>(byte);
        ++i;
        continue;
      }
      std::size_t run = 1;
      while (i + run < kRecordBytes && run < kLongestRun && record.bytes[i + run] == 0) ++run;
      packed += '\0';
      packed += static_cast<char>(run);
      i += run;
    }
  }
  return packed;
}

std::optional<std::vector<TNvRecord>> UnpackNvRecords(std::string_view packed, std::size_t count) {
  std::vector<TNvRecord> records(count);
  std::size_t at = 0;
  for (TNvRecord& record : records) {
    for (std::size_t i = 0; i < kRecordBytes;) {
      if (at >= packed.size()) return std::nullopt;
      const auto byte = static_cast<std::uint8_t>(packed[at++]);
      if (byte != 0) {
        record.bytes[i++] = byte;
        continue;
      }
      if (at >= packed.size()) return std::nullopt;
      const auto run = static_cast<std::uint8_t>(packed[at++]);
      if (run == 0 || i + run > kRecordBytes) return std::nullopt;
      i += run;  // the record starts zeroed
    }
  }
  if (at != packed.size()) return std::nullopt;
  return records;
}

}  // namespace vornex
