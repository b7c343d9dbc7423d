// The image tag of a flash image (ImageTagOf).
//
// Input: the image. The tag is at most kImageTagBytes bytes, holds neither 0xFF nor a zero
// byte, and is exactly the image's last kImageTagBytes bytes (or all of a shorter image) up to
// the first 0xFF or zero byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "messaging/image_set.h"

using namespace vornex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> image(data, data + size);
  const std::string tag = ImageTagOf(image);

  FUZZ_CHECK(tag.size() <= kImageTagBytes);
  FUZZ_CHECK(tag.find('\xFF') == std::string::npos);
  FUZZ_CHECK(tag.find('\0') == std::string::npos);

  const std::size_t from = size > kImageTagBytes ? size - kImageTagBytes : 0;
  const std::size_t end = from + tag.size();
  FUZZ_CHECK(end <= size &&
             std::equal(tag.begin(), tag.end(), image.begin() + from,
                        [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
  FUZZ_CHECK(end == size || image[end] == 0xFF || image[end] == 0x00);
  return 0;
}
