// Intel HEX parsing: real files from objcopy load byte for byte, records behave as the
// programmer download expects, every broken record fails with its reason, and no input makes
// the parser leave its buffers.
#include "protocols/hex_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <random>
#include <utility>
#include <vector>

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
#ifdef _WIN32
  GTEST_SKIP() << "objcopy is a tool of the build machine, not of the Windows test machine";
#endif
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
  // Type 2 sets the base to segment x 16, type 4 to the upper 16 bits: both give 00010000 here,
  // so the two data records follow on from it. Type 5 sets the start.
  const THexImage image = Parse(
      ":020000021000EC\n"
      ":020000001122CB\n"
      ":020000040001F9\n"
      ":02000200AABB97\r\n"
      ":0400000500010000F6\n"
      ":00000001FF\n"
      "not read after the end record",
      &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(image.data, (std::vector<std::uint8_t>{0x11, 0x22, 0xAA, 0xBB}));
  EXPECT_EQ(image.startAddress, 0x00010000u);
}

// The block is written from the start address upwards: data placed anywhere else, twice, past
// the top of the address space or with a hole is refused.
TEST(HexFile, DataLiesWhereTheDownloadWritesIt) {
  const struct {
    const char* text;
    const char* reason;  // empty: parses
    std::size_t dataKept;
  } cases[] = {
      {":020000040800F2\n:040000001122334452\n:0200040055663F\n:0400000508000000EF\n:00000001FF\n",
       "", 6},
      // Only the low 16 bits given: the upper ones are the start address's.
      {":020123001122A7\n:0400000500200123B3\n:00000001FF\n", "", 2},
      {":02000004FFFFFC\n:10FFF00000112233445566778899AABBCCDDEEFF09\n:04000005FFFFFFF00A\n"
       ":00000001FF\n",
       "", 16},
      {":020000040800F2\n:040000001122334452\n:02000200556641\n",
       "line 3: data at 08000002 overlaps earlier data", 4},
      {":020000040800F2\n:040000001122334452\n:0200080055663B\n",
       "line 3: data at 08000008, the data before ends at 08000004", 4},
      {":02000004FFFFFC\n:12FFF00000112233445566778899AABBCCDDEEFF0011F6\n",
       "line 2: data at FFFFFFF0 wraps past FFFFFFFF", 0},
      {":02000002F0000C\n:12FFF00000112233445566778899AABBCCDDEEFF0011F6\n",
       "line 2: data at 000FFFF0 wraps past the end of segment F000", 0},
      {":020000040800F2\n:040000001122334452\n:0400000508000002ED\n:00000001FF\n",
       "line 2: data at 08000000 outside the load region from the start address 08000002", 4},
      {"\n:020000040800F2\n:040000001122334452\n:00000001FF\n",
       "line 3: data at 08000000 outside the load region from the start address 00000000", 4},
      {":0100000408F3\n", "line 1: extended address of 1 bytes", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    THexImage image;
    image.capacity = 64;
    std::string reason;
    EXPECT_EQ(ParseHexText(c.text, image, &reason), c.reason[0] == '\0' ? 1 : 0);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(image.data.size(), c.dataKept);
  }
}

TEST(HexFile, BrokenTextFailsWithItsReason) {
  struct Case {
    const char* text;
    const char* reason;  // empty: parses
    std::size_t dataKept;
    std::size_t capacity = 0;
  };
  const Case cases[] = {
      {":020000001122CB\n:00000001FF\n", "", 2},
      {":0200000011229A\n:00000001FF\n", "line 1: checksum 9A, computed CB", 0},
      {":020000001122CB\n", "no end record", 2},
      {"", "no records", 0},
      {"\r\n:02000000112GCB\n", "line 2: non-hex character 'G'", 0},
      {":020000001122CB\n:0300000011CB\n", "line 2: length field 03, record holds 1 bytes", 2},
      {":020000001122CB\n:0200", "line 2: record cut short (4 digits)", 2},
      {":020000001122CB\n:040000030000F00009\n", "line 2: record type 03 not supported", 2},
      {"\x01:00000001FF\n", "line 1: 0x01 outside a record", 0},
      {":040000001122334452\n:00000001FF\n", "line 1: data beyond the capacity of 2 bytes", 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    THexImage image;
    image.capacity = c.capacity != 0 ? c.capacity : 64;
    std::string reason;
    EXPECT_EQ(ParseHexText(c.text, image, &reason), c.reason[0] == '\0' ? 1 : 0);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(image.data.size(), c.dataKept);
  }
}

TEST(HexFile, RandomTextStaysInsideItsBuffers) {
  std::mt19937 random(11);
  for (int round = 0; round < 500; ++round) {
    std::string junk(static_cast<std::size_t>(random() % 400), '\0');
    for (char& c : junk) c = (random() % 5 == 0) ? ':' : static_cast<char>(random());
    std::int32_t result = -1;
    const THexImage image = Parse(junk, &result);
    EXPECT_LE(image.data.size(), junk.size() / 2);
  }
}

TEST(HexFile, FilesThatAreNoProgrammer) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("empty.hex"), "");
  testing::WriteFile(dir.File("large.hex"), std::string(kMaxProgrammerFileBytes + 1, '\n'));
  std::filesystem::create_directory(dir.File("folder.hex"));
  std::vector<std::pair<const char*, const char*>> cases = {{"missing.hex", "file not found"},
                                                            {"empty.hex", "no records"},
                                                            {"large.hex", "file larger than 4 MiB"},
                                                            {"folder.hex", "not a regular file"}};
#ifndef _WIN32
  // A pipe would block the open; Windows file systems hold none.
  ASSERT_EQ(::mkfifo(dir.File("pipe.hex").c_str(), 0600), 0);
  cases.emplace_back("pipe.hex", "not a regular file");
#endif
  for (const auto& [name, reason] : cases) {
    THexImage image;
    std::string why;
    EXPECT_EQ(ParseHexFile(dir.File(name), image, &why), 0) << name;
    EXPECT_EQ(why, reason);
  }
}

}  // namespace
}  // namespace vornex
