// The simulator reports digests with the station's own SHA-256.
#pragma once

#include "foundation/sha256.h"

namespace vornex::sim {
using vornex::DigestHex;
using vornex::Sha256;
using vornex::Sha256Digest;
using vornex::Sha256Hex;
}  // namespace vornex::sim
