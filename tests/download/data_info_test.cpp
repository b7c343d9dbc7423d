// The DataInfo file: what one backup writes reads back as the same identity, a second file in
// the same millisecond gets a name of its own, and a file that holds no identity is refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "download/identity_backup.h"
#include "messaging/image_set.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

TNvRecord Record(std::uint16_t item, std::initializer_list<std::uint8_t> data) {
  TNvRecord record;
  record.bytes[0] = static_cast<std::uint8_t>(item & 0xFF);
  record.bytes[1] = static_cast<std::uint8_t>(item >> 8);
  std::copy(data.begin(), data.end(), record.bytes.begin() + 2);
  return record;
}

// DataInfo files go to the current directory; the test works in its own folder and leaves it
// again also when an assertion ends it early (Windows cannot remove a current directory).
class TWorkIn {
 public:
  explicit TWorkIn(const std::string& folder) { std::filesystem::current_path(folder); }
  ~TWorkIn() { std::filesystem::current_path(previous_); }
  TWorkIn(const TWorkIn&) = delete;
  TWorkIn& operator=(const TWorkIn&) = delete;

 private:
  std::filesystem::path previous_ = std::filesystem::current_path();
};

TEST(DataInfo, WhatIsSavedLoadsBackAndEveryFileGetsItsOwnName) {
  testing::TempDir folder;
  const TWorkIn workIn(folder.path());
  TIdentityBackup saved;
  saved.itemSwitches = kItemAt | kItemNv;
  saved.at.slots[kSlotSn] =
      "VX\xE9"
      "123";                                      // a device byte beyond ASCII
  saved.at.slots[kSlotTflag] = std::string("1");  // GCC 12 -O3 misreads a literal (-Wrestrict)
  // An indexed item (key NV10_2), a record of zeros, one with a zero byte inside its data.
  saved.nv = {Record(10, {2, 7}), Record(856, {}), Record(4161, {1, 0, 0, 9})};

  std::string first;
  std::string second;
  std::string error;
  ASSERT_TRUE(SaveDataInfo(saved, &first, &error)) << error;
  ASSERT_TRUE(SaveDataInfo(saved, &second, &error)) << error;
  EXPECT_NE(first, second);

  TIdentityBackup loaded;
  ASSERT_TRUE(LoadDataInfo(first, &loaded, &error)) << error;
  EXPECT_EQ(loaded.at, saved.at);
  EXPECT_EQ(loaded.nv, saved.nv);
  EXPECT_EQ(loaded.itemSwitches, saved.itemSwitches);

  struct Bad {
    const char* text;
    const char* reason;
  };
  for (const Bad& bad : {Bad{"", "holds no identity"}, Bad{"[NV]\r\nNV10=ZZ \r\n", "bad NV value"},
                         Bad{"[NV]\r\nNV10=0A\r\n", "bad NV value"},
                         Bad{"[AT]\r\nSN=VX1\rAT+X\r\n", "no identity value"}}) {
    const std::string path = folder.File("bad.ini");
    testing::WriteFile(path, bad.text);
    TIdentityBackup refused;
    EXPECT_FALSE(LoadDataInfo(path, &refused, &error)) << bad.text;
    EXPECT_NE(error.find(bad.reason), std::string::npos) << error;
  }
  EXPECT_FALSE(LoadDataInfo(folder.File("missing.ini"), &loaded, &error));
}

}  // namespace
}  // namespace vornex
