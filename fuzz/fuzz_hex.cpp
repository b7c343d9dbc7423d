// Intel HEX parsing of the programmer file (ParseHexText).
//
// Input: the file's text. It is parsed three times: with the capacity the file reader gives
// (half the file size), with a quarter of that, and after data already in the image.
//
// Every time: the result is 0 or 1 and the data never exceeds the capacity. Data already in the
// image stays in front and changes nothing else; a smaller capacity reads a prefix of what a
// larger one reads (all of it, with the same result, when that fits).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "protocols/hex_file.h"

using namespace vornex;

namespace {

std::int32_t Parse(std::string_view text, THexImage& image) {
  const std::int32_t result = ParseHexText(text, image);
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(image.data.size() <= image.capacity);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  THexImage full;
  full.capacity = size / 2;
  const std::int32_t fullResult = Parse(text, full);

  THexImage small;
  small.capacity = size / 8;
  const std::int32_t smallResult = Parse(text, small);
  FUZZ_CHECK(small.data.size() <= full.data.size() &&
             std::equal(small.data.begin(), small.data.end(), full.data.begin()));
  if (full.data.size() <= small.capacity) {
    FUZZ_CHECK(smallResult == fullResult && small.data == full.data);
  }

  THexImage appended;
  const std::uint8_t before[] = {0xDE, 0xAD, 0xBE, 0xEF};
  appended.data.assign(std::begin(before), std::end(before));
  appended.capacity = std::size(before) + size / 2;
  const std::int32_t appendedResult = Parse(text, appended);
  FUZZ_CHECK(std::equal(std::begin(before), std::end(before), appended.data.begin()));
  FUZZ_CHECK(appendedResult == fullResult &&
             std::equal(appended.data.begin() + std::size(before), appended.data.end(),
                        full.data.begin(), full.data.end()));
  return 0;
}
