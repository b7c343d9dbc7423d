// The compact form of a closed backup's NV records: NV records are mostly zero bytes, so each
// run of zeros is kept as a zero and its length. One blob holds every record of the backup, in
// order; unpacking gives back exactly the bytes that were packed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/identity_record.h"

namespace vornex {

// The records as one blob.
std::string PackNvRecords(const std::vector<TNvRecord>& records);
// The records of a blob that holds `count` of them; nullopt when the blob is not exactly that
// (cut short, too long, a run past the end).
std::optional<std::vector<TNvRecord>> UnpackNvRecords(std::string_view packed, std::size_t count);

}  // namespace vornex
