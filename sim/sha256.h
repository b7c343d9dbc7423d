// The simulator reports digests with the station's own SHA-256.
#pragma once

#include "foundation/sha256.h"

namespace vornex::sim {
using vornex::DigestHex;
using vornex::Sha256Hex;
using vornex::TSha256;
using vornex::TSha256Digest;
}  // namespace vornex::sim
