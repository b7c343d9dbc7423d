// The image set: which file is the programmer, when nor.mbn is loaded, the image tag, the item
// switches, and folders that are missing or odd.
#include "coordination/image_set.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "coordination/messages.h"
#include "foundation/paths.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::TempDir;
using testing::WriteFile;

TDeviceTable SelectionFor(const std::string& folder) {
  TDeviceTable selection;
  selection.count = kSlotCount;
  selection.imagePath = folder;
  return selection;
}

TEST(ImageSet, ProgrammerImageAndTagFromAFolder) {
  TempDir folder;
  WriteFile(folder.File("prog_9004.hex"), ":00000001FF\n");
  std::string image(4096, '\x11');
  image += "V2.0.1B";
  image += std::string(25, '\xFF');
  WriteFile(folder.File("nor.mbn"), image);

  const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
  EXPECT_EQ(set.imageFolder.str(), folder.path());
  EXPECT_EQ(set.programmerFile.str(), folder.File("prog_9004.hex"));
  EXPECT_EQ(set.flashImageFile.str(), folder.File("nor.mbn"));
  EXPECT_EQ(set.itemSwitches, kImageLoaded);
  ASSERT_TRUE(set.imageData);
  EXPECT_EQ(set.imageData->size(), image.size());
  EXPECT_EQ(set.imageTag, "V2.0.1B");
}

TEST(ImageSet, TagRules) {
  std::vector<std::uint8_t> image(100, 'x');
  image[100 - 32 + 10] = 0xFF;
  EXPECT_EQ(ImageTagOf(image), std::string(10, 'x'));             // 0xFF at position 10

  std::vector<std::uint8_t> noFlag(100, 'y');
  EXPECT_EQ(ImageTagOf(noFlag), std::string(32, 'y'));            // full 32-byte tag

  const std::vector<std::uint8_t> shortImage = {'V', '1', 0xFF, 'z'};
  EXPECT_EQ(ImageTagOf(shortImage), "V1");                        // shorter than 32 bytes
  EXPECT_EQ(ImageTagOf({}), "");
  const std::vector<std::uint8_t> zero = {'V', '3', 0x00, 'q'};
  EXPECT_EQ(ImageTagOf(zero), "V3");                              // text ends at a zero byte
}

TEST(ImageSet, AnyNameContainingHexIsTheProgrammerButAFolderIsNot) {
  TempDir folder;
  std::filesystem::create_directory(folder.File("old.hex"));
  WriteFile(folder.File("readme.hex.txt"), "not really a programmer");
  const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
  EXPECT_EQ(set.programmerFile.str(), folder.File("readme.hex.txt"));
  // No nor.mbn: the image path is set, nothing is loaded.
  EXPECT_EQ(set.flashImageFile.str(), folder.File("nor.mbn"));
  EXPECT_EQ(set.itemSwitches & kImageLoaded, 0u);
  EXPECT_FALSE(set.imageData);
}

TEST(ImageSet, WithoutProgrammerNoImageIsLoaded) {
  TempDir folder;
  WriteFile(folder.File("nor.mbn"), "IMAGE");
  const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
  EXPECT_TRUE(set.programmerFile.empty());
  EXPECT_TRUE(set.flashImageFile.empty());
  EXPECT_EQ(set.itemSwitches, 0u);
  EXPECT_FALSE(set.imageData);
}

TEST(ImageSet, EmptyOrUnreadableFlashImages) {
  TempDir empty;
  WriteFile(empty.File("p.hex"), "");
  WriteFile(empty.File("nor.mbn"), "");
  const TImageSet zero = BuildImageSet(SelectionFor(empty.path()));
  EXPECT_EQ(zero.itemSwitches, kImageLoaded);  // it exists and was read: all 0 bytes of it
  ASSERT_TRUE(zero.imageData);
  EXPECT_TRUE(zero.imageData->empty());
  EXPECT_EQ(zero.imageTag, "");

  TempDir odd;
  WriteFile(odd.File("p.hex"), "");
  std::filesystem::create_directory(odd.File("nor.mbn"));
  const TImageSet folderNamedImage = BuildImageSet(SelectionFor(odd.path()));
  EXPECT_EQ(folderNamedImage.itemSwitches, 0u);
  EXPECT_FALSE(folderNamedImage.imageData);
}

TEST(ImageSet, MissingFolderGivesAnEmptySet) {
  const TImageSet set = BuildImageSet(SelectionFor("/nonexistent/vornex/images"));
  EXPECT_TRUE(set.programmerFile.empty());
  EXPECT_EQ(set.itemSwitches, 0u);
}

TEST(ImageSet, ItemSwitches) {
  struct Case {
    const char* at;
    const char* nv;
    std::uint32_t bits;
  };
  for (const Case c : {Case{"ON", "ON", kItemAt | kItemNv}, Case{"on", "Off", kItemAt},
                       Case{"oN", "yes", kItemAt}, Case{"OFF", "ON", kItemNv},
                       Case{" ON ", "", kItemAt}}) {
    TempDir folder;
    WriteFile(folder.File("Vornex_730.ini"), std::string("[UpdateItem]\r\nItemAT=") + c.at +
                                                 "\r\nItemNV=" + c.nv + "\r\n");
    EXPECT_EQ(BuildImageSet(SelectionFor(folder.path())).itemSwitches, c.bits)
        << c.at << " / " << c.nv;
  }
}

TEST(ImageSet, ProgramFolderOverridesTheImagePath) {
  TempDir exeFolder;
  TempDir chosen;
  WriteFile(exeFolder.File("station.hex"), "");
  WriteFile(chosen.File("other.hex"), "");
  paths::OverrideExeFolder(exeFolder.path());
  TDeviceTable selection = SelectionFor(chosen.path());
  selection.useProgramFolder = 1;
  const TImageSet set = BuildImageSet(selection);
  paths::OverrideExeFolder("");
  EXPECT_EQ(set.programmerFile.str(), exeFolder.File("station.hex"));
}

}  // namespace
}  // namespace vornex
