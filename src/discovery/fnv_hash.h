// The 32-bit FNV-1a hash that discovery uses for short, stable tokens: the grouping key of a
// USB device derived from its port path, and the tail of a folded over-long key.
#pragma once

#include <cstdint>
#include <string_view>

namespace vornex {

// FNV-1a over the bytes of the text; the same text always gives the same value.
constexpr std::uint32_t Fnv1a32(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace vornex
