// Reading DataInfo files (LoadDataInfo).
//
// Input: the file's bytes; the reader takes a path only, so they go to a scratch file first.
// Reading must not throw. A file that is taken holds something to restore, its item switches
// say what it holds, and it yields at most one NV record per line, each of 130 bytes, and AT
// values only in the slots the file names, each at most 127 bytes without control bytes (what
// a device can answer). A file that is refused comes with a reason.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/data_info.h"
#include "download/identity_backup.h"
#include "fuzz_support.h"
#include "messaging/image_set.h"
#include "records/identity_record.h"

using namespace vornex;

static_assert(sizeof(TNvRecord{}.bytes) == 130, "an NV record is item (2 bytes) + 128 data bytes");

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchFolder() + "/DataInfo.ini";
  fuzz::WriteFile(path, data, size);

  TIdentityBackup backup;
  std::string error;
  const bool loaded =
      fuzz::NoThrow("LoadDataInfo", [&] { return LoadDataInfo(path, &backup, &error); });
  if (!loaded) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }

  const bool hasAt = !(backup.at == TIdentityBlock{});
  FUZZ_CHECK(!backup.nv.empty() || hasAt);
  FUZZ_CHECK(backup.itemSwitches == ((backup.nv.empty() ? 0u : kItemNv) | (hasAt ? kItemAt : 0u)));

  const std::size_t lines =
      static_cast<std::size_t>(std::count(data, data + size, std::uint8_t{'\n'})) + 1;
  FUZZ_CHECK(backup.nv.size() <= lines);
  for (const std::string& value : backup.at.slots) {
    FUZZ_CHECK(value.size() < size && value.size() <= 127);
    FUZZ_CHECK(std::none_of(value.begin(), value.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
  }
  return 0;
}
