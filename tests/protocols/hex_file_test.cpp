// Intel HEX parsing: real files from objcopy load byte for byte, records behave as the
// programmer download expects, and no input makes the parser leave its buffers.
#include "protocols/hex_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "support/temp_dir.h"

namespace vornex {
namespace {

THexImage Parse(std::string_view text, std::int32_t* result, std::size_t capacity = 0) {
  THexImage image;
  image.capacity = capacity != 0 ? capacity : text.size() / 2;
  *result = ParseHexText(text, image);
  return image;
}

TEST(HexFile, ObjcopyOutputLoadsByteForByte) {
  testing::TempDir dir;
  std::mt19937 random(7);
  std::string binary(70000, '\0');  // past 64 KiB: extended linear address records appear
  for (char& c : binary) c = static_cast<char>(random());
  testing::WriteFile(dir.File("prog.bin"), binary);
  const std::string command = "objcopy -I binary -O ihex --change-addresses 0x08000000 " +
                              dir.File("prog.bin") + " " + dir.File("prog.hex");
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  THexImage image;
  EXPECT_EQ(ParseHexFile(dir.File("prog.hex"), image), 1);
  ASSERT_EQ(image.data.size(), binary.size());
  EXPECT_TRUE(std::equal(image.data.begin(), image.data.end(),
                         reinterpret_cast<const std::uint8_t*>(binary.data())));
}

TEST(HexFile, RecordsAndTheirEffects) {
  std::int32_t result = -1;
  // Gaps between data records close up; types 2 and 4 are ignored; type 5 sets the start.
  const THexImage image = Parse(
      ":020000040800F2\n"
      ":0200000011223344\n"
      ":02100000AABB99\n"
      ":020000021000EC\n"
      ":0400000508000123CB\n"
      ":00000001FF\n"
      ":01000000EE11\n",  // after the end record: not read
      &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{0x11, 0x22, 0xAA, 0xBB}));
  EXPECT_EQ(image.startAddress, 0x08000123u);
}

TEST(HexFile, FailingRecordTypesKeepTheDataReadBefore) {
  std::int32_t result = -1;
  const THexImage typeThree = Parse(":0200000011223344\n:04000003000000F009\n:01000000EE11\n",
                                    &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(typeThree.data, (std::vector<std::uint8_t>{0x11, 0x22}));

  const THexImage typeSix = Parse(":0100000055AA\n:00000006FA\n", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(typeSix.data, std::vector<std::uint8_t>{0x55});
}

TEST(HexFile, MalformedTextStaysInsideItsBuffers) {
  std::int32_t result = -1;
  // No end record, a truncated last record: success with what was read.
  EXPECT_EQ(Parse(":0200000011223344\n:0300000055", &result).data,
            (std::vector<std::uint8_t>{0x11, 0x22, 0x55}));
  EXPECT_EQ(result, 1);
  // A pair that does not start with a hex digit reads as 0; one hex digit reads as itself.
  EXPECT_EQ(Parse(":02000000ZZ3G00\n", &result).data, (std::vector<std::uint8_t>{0x00, 0x03}));
  // A byte count larger than its line reads on into the following characters.
  EXPECT_EQ(Parse(":05000000AB\r\n:00000001FF\n", &result).data.size(), 5u);
  // An empty text is an empty image.
  EXPECT_TRUE(Parse("", &result).data.empty());
  EXPECT_EQ(result, 1);
  // Data beyond the capacity fails instead of growing past it.
  const THexImage small = Parse(":0400000011223344FF\n", &result, 2);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(small.data.size(), 2u);

  // Random bytes, with and without colons sprinkled in: never past the capacity.
  std::mt19937 random(11);
  for (int round = 0; round < 500; ++round) {
    std::string junk(static_cast<std::size_t>(random() % 400), '\0');
    for (char& c : junk) c = (random() % 5 == 0) ? ':' : static_cast<char>(random());
    const THexImage image = Parse(junk, &result);
    EXPECT_LE(image.data.size(), junk.size() / 2);
  }
}

TEST(HexFile, UnreadableFileAndEmptyFile) {
  THexImage image;
  EXPECT_EQ(ParseHexFile("/nonexistent/prog.hex", image), 0);
  EXPECT_TRUE(image.data.empty());
  testing::TempDir dir;
  testing::WriteFile(dir.File("empty.hex"), "");
  EXPECT_EQ(ParseHexFile(dir.File("empty.hex"), image), 1);
  EXPECT_TRUE(image.data.empty());
}

}  // namespace
}  // namespace vornex
