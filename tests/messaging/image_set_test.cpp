// The image set: which file is the programmer, when nor.mbn is loaded, the image tag, the item
// switches, folders that are missing or odd, and the folders that are refused.
#include "messaging/image_set.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <iterator>
#include <vector>

#include "foundation/paths.h"
#include "messaging/messages.h"
#include "protocols/hex_file.h"
#include "support/image_files.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;
using testing::ImageBytes;
using testing::IntelHexText;
using testing::MakeImage;
using testing::PatternBytes;
using testing::ReadFile;
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
  WriteFile(folder.File("prog_9004.hex"), IntelHexText(PatternBytes(100, 1), 0x1000));
  std::string image(4096, '\x11');
  image += "V2.0.1B";
  image += std::string(25, '\xFF');
  WriteFile(folder.File("nor.mbn"), image);

  const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
  EXPECT_EQ(set.imageFolder.str(), folder.path());
  EXPECT_EQ(set.programmerFile.str(), paths::Join(folder.path(), "prog_9004.hex"));
  EXPECT_EQ(set.flashImageFile.str(), paths::Join(folder.path(), "nor.mbn"));
  EXPECT_EQ(set.itemSwitches, kImageLoaded);
  ASSERT_TRUE(set.imageData);
  EXPECT_EQ(set.imageData->size(), image.size());
  EXPECT_EQ(set.imageTag, "V2.0.1B");
}

TEST(ImageSet, TagRules) {
  std::vector<std::uint8_t> image(100, 'x');
  image[100 - 32 + 10] = 0xFF;
  EXPECT_EQ(ImageTagOf(image), std::string(10, 'x'));  // 0xFF at position 10

  std::vector<std::uint8_t> noFlag(100, 'y');
  EXPECT_EQ(ImageTagOf(noFlag), std::string(32, 'y'));  // full 32-byte tag

  const std::vector<std::uint8_t> shortImage = {'V', '1', 0xFF, 'z'};
  EXPECT_EQ(ImageTagOf(shortImage), "V1");  // shorter than 32 bytes
  EXPECT_EQ(ImageTagOf({}), "");
  const std::vector<std::uint8_t> zero = {'V', '3', 0x00, 'q'};
  EXPECT_EQ(ImageTagOf(zero), "V3");  // text ends at a zero byte
}

TEST(ImageSet, AnyNameContainingHexIsTheProgrammerButAFolderIsNot) {
  TempDir folder;
  std::filesystem::create_directory(folder.File("old.hex"));
  WriteFile(folder.File("readme.hex.txt"), "not really a programmer");
  const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
  EXPECT_EQ(set.programmerFile.str(), paths::Join(folder.path(), "readme.hex.txt"));
  // No nor.mbn: the image path is set, nothing is loaded.
  EXPECT_EQ(set.flashImageFile.str(), paths::Join(folder.path(), "nor.mbn"));
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

// Every folder that must not be flashed is refused, naming the file and its problem; only a
// missing Vornex_730.ini is allowed, with identity backup off.
TEST(ImageSet, BadFoldersAreRefused) {
  const ImageBytes programmer = PatternBytes(3000, 5);
  const auto tagged = [](std::string_view tag) {
    const ImageBytes image = MakeImage(2048, tag, 3);
    return std::string(image.begin(), image.end());
  };
  const auto replaceWith = [](std::string text) {
    return [text](const std::string& path) {
      fs::remove_all(path);
      WriteFile(path, text);
    };
  };
  const auto cutAt = [](std::function<std::size_t(const std::string&)> end) {
    return [end](const std::string& path) {
      const std::string text = ReadFile(path);
      WriteFile(path, text.substr(0, end(text)));
    };
  };
  // Repeats the programmer's first data record (line 2, after the address record) after itself.
  const auto repeatFirstRecord = [](const std::string& path) {
    const std::string text = ReadFile(path);
    const std::size_t from = text.find('\n') + 1;
    const std::size_t to = text.find('\n', from) + 1;
    WriteFile(path, text.substr(0, to) + text.substr(from, to - from) + text.substr(to));
  };
  // Removes the file and has `make` put something else under its name.
  const auto replaceBy = [](void (*make)(const std::string&)) {
    return [make](const std::string& path) {
      fs::remove(path);
      make(path);
    };
  };
  struct Case {
    int file;  // the one spoilt and named: 0 folder, 1 programmer, 2 nor.mbn, 3 Vornex_730.ini
    std::function<void(const std::string&)> spoil;
    const char* refusal;  // how the refusal starts; empty: accepted
  };
  const Case cases[] = {
      {0, [](const std::string&) {}, ""},
      {0, [](const std::string& folder) { fs::remove(folder + "/prog_9004.hex"); },
       "Image set refused: no programmer (.hex) in the image folder"},
      {1, cutAt([](const std::string& text) { return text.rfind(':', text.size() / 2) + 5; }),
       "Image set refused: programmer prog_9004.hex does not parse: line "},
      {1, cutAt([](const std::string& text) { return text.rfind(':'); }),
       "Image set refused: programmer prog_9004.hex does not parse: no end record"},
      {1, repeatFirstRecord,
       "Image set refused: programmer prog_9004.hex does not parse: line 3: data at 00200000 "
       "overlaps earlier data"},
      {2, replaceWith("Z"),
       "Image set refused: nor.mbn is too small for a flash image: 1 bytes, at least 1056"},
      {2, replaceWith(tagged("V1\x01\x02")),
       "Image set refused: nor.mbn has a version tag that is not printable text"},
      {2, replaceWith(tagged("")), "Image set refused: nor.mbn has no version tag"},
      {3, replaceWith({'\x7F', 'E', 'L', 'F', '\0', '\1'}),
       "Image set refused: Vornex_730.ini is not a profile file (control byte 0x7F on line 1)"},
      {3, replaceWith("ItemAT=ON\r\nItemNV=ON\r\n"),
       "Image set refused: Vornex_730.ini is not a profile file (line 1: key outside a section)"},
      {3, replaceBy([](const std::string& path) { fs::create_directory(path); }),
       "Image set refused: Vornex_730.ini is not a regular file"},
      {3, [](const std::string& path) { fs::remove(path); }, ""},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
#ifndef _WIN32
  // Windows has no FIFOs, and its symbolic links need a privilege the tests do not have.
  all.push_back({3, replaceBy([](const std::string& path) { ::mkfifo(path.c_str(), 0600); }),
                 "Image set refused: Vornex_730.ini is not a regular file"});
  all.push_back({3, replaceBy([](const std::string& path) { fs::create_symlink(path, path); }),
                 "Image set refused: Vornex_730.ini cannot be read ("});
#endif
  for (const Case& c : all) {
    SCOPED_TRACE(c.refusal);
    TempDir folder;
    const std::string files[] = {folder.path(), paths::Join(folder.path(), "prog_9004.hex"),
                                 paths::Join(folder.path(), "nor.mbn"),
                                 paths::Join(folder.path(), "Vornex_730.ini")};
    WriteFile(files[1], IntelHexText(programmer, 0x00200000));
    WriteFile(files[2], tagged("VX730-R1.2.0"));
    WriteFile(files[3], "; items\r\n[UpdateItem]\r\nItemAT=ON\r\nItemNV=ON\r\n");
    c.spoil(files[c.file]);

    const TImageSet set = BuildImageSet(SelectionFor(folder.path()));
    if (*c.refusal != '\0') {
      EXPECT_TRUE(set.refusal.starts_with(c.refusal)) << set.refusal;
      EXPECT_TRUE(set.refusal.ends_with(" (" + files[c.file] + ")")) << set.refusal;
      continue;
    }
    EXPECT_EQ(set.refusal, "");
    ASSERT_TRUE(set.programmer);
    EXPECT_EQ(set.programmer->data, programmer);
    EXPECT_EQ(set.programmer->startAddress, 0x00200000u);
    EXPECT_EQ(set.imageTag, "VX730-R1.2.0");
    EXPECT_EQ(set.identityBackupOff, c.file == 3);  // no item switches without the file
  }
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
  for (const Case c :
       {Case{"ON", "ON", kItemAt | kItemNv}, Case{"on", "Off", kItemAt}, Case{"oN", "yes", kItemAt},
        Case{"OFF", "ON", kItemNv}, Case{" ON ", "", kItemAt}}) {
    TempDir folder;
    WriteFile(folder.File("Vornex_730.ini"),
              std::string("[UpdateItem]\r\nItemAT=") + c.at + "\r\nItemNV=" + c.nv + "\r\n");
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
  EXPECT_EQ(set.programmerFile.str(), paths::Join(exeFolder.path(), "station.hex"));
}

}  // namespace
}  // namespace vornex
