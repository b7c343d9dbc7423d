// The DataInfo file: what one backup writes reads back as the same identity, a second file in
// the same millisecond gets a name of its own, and a file that holds no identity, a value the
// station could not write back, or anything but a regular file of a DataInfo file's size is
// refused.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "download/data_info.h"
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
  // An indexed item (key NV258_2), a record of zeros, one with a zero byte inside its data.
  saved.nv = {Record(258, {2, 7}), Record(856, {}), Record(4161, {1, 0, 0, 9})};

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

// Every refusal starts with the file, the line and the key; the longest values pass.
TEST(DataInfo, OnlyValuesTheStationCanWriteBackAreRead) {
  testing::TempDir folder;
  const std::string path = folder.File("DataInfo.ini");
  const std::vector<std::pair<std::string, std::string>> cases = {
      // text, refusal (none: read)
      {"[AT]\nSN=" + std::string(54, '7') + "\nMEID=" + std::string(52, 'A') + "\n", ""},
      {"[AT]\nSN=" + std::string(55, '7') + "\n", "line 2: SN is no identity value"},
      {"[AT]\nTFLAG=" + std::string(53, '1') + "\n", "line 2: TFLAG is no identity value"},
      {"[AT]\nMEID=X\";+NEWSN=HACKED\n", "line 2: MEID is no identity value"},
      {"[AT]\nSN=VX\u00BB1\n", "line 2: SN is no identity value"},  // 0xBB & 0x7F is ';'
      {"[AT]\nIMEI=1\n", "line 2: IMEI is no key of section AT"},
      {"[AT]\nSN=VX1\nSN=VX2\n", "line 3: SN is given twice"},
      {"[NV]\nNV138=0C 02 01\n", "line 2: NV138 does not name its record"},
      {"[NV]\nNV258_3=02 01 04\n", "line 2: NV258_3 does not name its record"},
      {"[NV]\nNV65535=FF FF 01\n", "line 2: NV65535 holds item 65535"},
      {"[NV]\nNV10_2=0A 00 02\n", "line 2: NV10_2 names an item that the station does not"},
      {"[NV]\nNV524=0C 02 01\r\nNV524=0C 02 02\n", "line 3: NV524 is given twice"},
  };
  for (const auto& [text, refusal] : cases) {
    testing::WriteFile(path, text);
    TIdentityBackup loaded;
    std::string error;
    EXPECT_EQ(LoadDataInfo(path, &loaded, &error), refusal.empty()) << text;
    EXPECT_TRUE(error.starts_with(refusal.empty() ? "" : path + " " + refusal)) << error;
  }
}

// Nothing but a regular file of a DataInfo file's size is read.
TEST(DataInfo, OtherFilesAreRefusedBeforeAnyRead) {
  testing::TempDir folder;
  const std::string large = folder.File("large.ini");
  testing::WriteFile(large, "[AT]\nSN=VX1\n" + std::string(1024 * 1024, ';'));
  TIdentityBackup loaded;
  std::string error;
  EXPECT_FALSE(LoadDataInfo(large, &loaded, &error));
  EXPECT_NE(error.find("larger than any DataInfo file"), std::string::npos) << error;
#ifndef _WIN32
  // A FIFO without a writer. Were it opened like a file, the open would wait for one: the test
  // then plays the writer (opened without waiting) to end the wait, and fails.
  const std::string fifo = folder.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto load = std::async(std::launch::async, [&] { return LoadDataInfo(fifo, &loaded, &error); });
  if (load.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "LoadDataInfo waits on a FIFO";
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  EXPECT_FALSE(load.get());
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
#endif
}

}  // namespace
}  // namespace vornex
