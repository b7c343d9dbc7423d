// SHA-256: the digest that names a flash image in every identity backup and job record, and
// that the device simulator reports for flash content and NV items, so that a test can prove
// that an image arrived intact. Incremental (Update as often as needed, then Finish) or one call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornex {

using TSha256Digest = std::array<std::uint8_t, 32>;

class TSha256 {
 public:
  TSha256();

  // Adds bytes to the message.
  void Update(const std::uint8_t* bytes, std::size_t length);
  void Update(std::string_view text) {
    Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  // The digest of everything added so far; the object starts afresh afterwards.
  TSha256Digest Finish();

 private:
  void Reset();
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockUsed_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// The digest as 64 lower-case hexadecimal digits.
std::string DigestHex(const TSha256Digest& digest);
// Lower-case hexadecimal SHA-256 of the bytes.
std::string Sha256Hex(const std::uint8_t* bytes, std::size_t length);

}  // namespace vornex
