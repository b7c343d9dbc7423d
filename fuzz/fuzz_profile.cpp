// Reading profile (INI) files (profile::ReadString) and checking them whole (profile::TextProblem).
//
// Input: the file's bytes, in any of the encodings the reader knows. The reader takes a path
// only, so the input goes to a scratch file first. Each lookup the station makes (and a few in
// another letter case or with blanks) must not throw, and every value read is a single line:
// no zero byte, no line end, at most kValueBufferUnits - 1 UTF-16 units, and well-formed UTF-8
// unless the file itself claims UTF-8 with a byte-order mark.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/profile.h"
#include "foundation/text.h"
#include "fuzz_support.h"

using namespace vornex;

namespace {

constexpr std::pair<std::string_view, std::string_view> kLookups[] = {
    {"Config", "Debug"},      {"Config", "ImagePath"},   {" config ", "IMAGEPATH  "},
    {"UpdateItem", "ItemNV"}, {"UsbPorts", "05C6:9004"}, {"NV", "NV550"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFolder() + "/station.ini";
  fuzz::WriteFile(path, data, size);
  const bool utf8Mark = size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;

  for (const auto& lookup : kLookups) {
    const std::string value = fuzz::NoThrow(
        "ReadString", [&] { return profile::ReadString(path, lookup.first, lookup.second); });
    FUZZ_CHECK(value.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos);
    FUZZ_CHECK(Utf16Length(value) <= profile::kValueBufferUnits - 1);
    FUZZ_CHECK(utf8Mark || IsValidUtf8(value));
  }
  // The check of a whole file: accepted, or refused with its reason.
  const std::string problem = fuzz::NoThrow("TextProblem", [&] {
    return profile::TextProblem(std::string_view(reinterpret_cast<const char*>(data), size));
  });
  FUZZ_CHECK(problem.empty() || problem.starts_with("is not a profile file ("));
  return 0;
}
