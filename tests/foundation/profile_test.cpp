// Profile (INI) files: the reading rules of the private-profile functions, the encodings a
// file may have, hostile files (junk, NUL bytes, huge sizes), and writes that change one
// line and leave every other byte of the file alone.
#include "foundation/profile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <random>
#include <string>

#include "foundation/text.h"
#include "support/temp_dir.h"

namespace vornex::profile {
namespace {

using vornex::testing::ReadFile;
using vornex::testing::TempDir;
using vornex::testing::WriteFile;

constexpr std::size_t kMiB = std::size_t{1024} * 1024;

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string out;
  for (const char16_t unit : text) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

// Whether file permissions can keep this process out: not for root, and not on Windows, where
// std::filesystem reduces them to the read-only attribute.
bool PermissionsBind() {
#ifdef _WIN32
  return false;
#else
  return ::geteuid() != 0;
#endif
}

std::string Utf16LeWithBom(std::u16string_view text) {
  return "\xFF\xFE" + Utf16Bytes(text, false);
}

// A file holding `content`, read back by section and key.
class ProfileReadTest : public ::testing::Test {
 protected:
  std::string Read(std::string_view content, std::string_view section, std::string_view key) {
    WriteFile(path_, content);
    return ReadString(path_, section, key);
  }
  TempDir dir_;
  std::string path_ = dir_.File("Vornex_730.ini");
};

// --- names, blanks, quotes, comments ------------------------------------------------------

TEST_F(ProfileReadTest, SectionAndKeyNamesIgnoreLetterCase) {
  const std::string file = "[cOnFiG]\r\nimagepath=C:\\img\r\n";
  EXPECT_EQ(Read(file, "Config", "ImagePath"), "C:\\img");
  EXPECT_EQ(Read(file, "CONFIG", "IMAGEPATH"), "C:\\img");
}

TEST_F(ProfileReadTest, BlanksAroundSectionKeyAndValueAreDropped) {
  const std::string file = "  \t[ \tConfig  ]  \r\n \t Debug \t=  \t ON  \t\r\nPath = a b  c \r\n";
  EXPECT_EQ(Read(file, "Config", "Debug"), "ON");
  EXPECT_EQ(Read(file, "Config", "Path"), "a b  c");  // inner blanks stay
}

TEST_F(ProfileReadTest, OnePairOfMatchingQuotesIsDropped) {
  const std::string file =
      "[Config]\r\n"
      "Double=\"C:\\my images\"\r\n"
      "Single=' padded '\r\n"
      "Twice=\"\"x\"\"\r\n"
      "Mixed=\"x'\r\n"
      "Lone=\"\r\n"
      "Empty=\"\"\r\n"
      "Inner=a\"b\"\r\n";
  EXPECT_EQ(Read(file, "Config", "Double"), "C:\\my images");
  EXPECT_EQ(Read(file, "Config", "Single"), " padded ");  // blanks inside quotes are kept
  EXPECT_EQ(Read(file, "Config", "Twice"), "\"x\"");      // only one pair
  EXPECT_EQ(Read(file, "Config", "Mixed"), "\"x'");       // quotes must match
  EXPECT_EQ(Read(file, "Config", "Lone"), "\"");
  EXPECT_EQ(Read(file, "Config", "Empty"), "");
  EXPECT_EQ(Read(file, "Config", "Inner"), "a\"b\"");
}

TEST_F(ProfileReadTest, CommentLinesAreIgnored) {
  const std::string file =
      "; Debug=ON before any section\r\n"
      "[Config]\r\n"
      ";Debug=ON\r\n"
      "  \t; AutoPath=OFF\r\n"
      "Browse=ON ; not a comment: kept in the value\r\n";
  EXPECT_EQ(Read(file, "Config", "Debug"), "");
  EXPECT_EQ(Read(file, "Config", "AutoPath"), "");
  EXPECT_EQ(Read(file, "Config", ";Debug"), "");
  EXPECT_EQ(Read(file, "Config", "Browse"), "ON ; not a comment: kept in the value");
}

TEST_F(ProfileReadTest, LinesWithoutEqualsAreNoKeys) {
  const std::string file = "[Config]\r\nDebug\r\nDebug ON\r\n[Broken\r\nDebug=second\r\n";
  // "Debug" and "Debug ON" are skipped, a '[' line without ']' is no section header.
  EXPECT_EQ(Read(file, "Config", "Debug"), "second");
  EXPECT_EQ(Read("[Config]\r\nDebug\r\n", "Config", "Debug"), "");
}

TEST_F(ProfileReadTest, FirstMatchingSectionAndFirstMatchingKeyWin) {
  const std::string file =
      "[Config]\r\nKey=first\r\nkey=second\r\n"
      "[Other]\r\nOnlyOther=1\r\n"
      "[config]\r\nKey=third\r\nLate=only in the second Config\r\n";
  EXPECT_EQ(Read(file, "Config", "Key"), "first");
  EXPECT_EQ(Read(file, "Config", "Late"), "");
  EXPECT_EQ(Read(file, "Config", "OnlyOther"), "");
  EXPECT_EQ(Read(file, "Other", "OnlyOther"), "1");
}

TEST_F(ProfileReadTest, KeysBeforeTheFirstSectionBelongToNone) {
  EXPECT_EQ(Read("Debug=ON\r\n[Config]\r\nX=1\r\n", "Config", "Debug"), "");
}

TEST_F(ProfileReadTest, EqualsSignsAfterTheFirstBelongToTheValue) {
  EXPECT_EQ(Read("[Config]\r\nA = b=c \r\n", "Config", "A"), "b=c");
}

// --- the 259-unit cut ------------------------------------------------------------------------

TEST_F(ProfileReadTest, ValueIsCutAt259Units) {
  EXPECT_EQ(Read("[C]\r\nK=" + std::string(300, 'a') + "\r\n", "C", "K"), std::string(259, 'a'));
  EXPECT_EQ(Read("[C]\r\nK=" + std::string(259, 'b') + "\r\n", "C", "K"), std::string(259, 'b'));
  // A one-unit character of three bytes as the 259th unit is kept whole.
  EXPECT_EQ(Read("[C]\r\nK=" + std::string(258, 'c') + "\xE2\x82\xAC" + "d\r\n", "C", "K"),
            std::string(258, 'c') + "\xE2\x82\xAC");
}

TEST_F(ProfileReadTest, CutNeverSplitsACharacterOfTwoUnits) {
  const std::string grin = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units
  // Units 259 and 260 would be this character: it is dropped whole.
  EXPECT_EQ(Read("[C]\r\nK=" + std::string(258, 'a') + grin + "\r\n", "C", "K"),
            std::string(258, 'a'));
  // Units 258 and 259: it fits.
  EXPECT_EQ(Read("[C]\r\nK=" + std::string(257, 'a') + grin + "z\r\n", "C", "K"),
            std::string(257, 'a') + grin);
}

TEST_F(ProfileReadTest, QuotesAreDroppedBeforeTheCut) {
  const std::string value = '"' + std::string(300, 'q') + '"';
  EXPECT_EQ(Read("[C]\r\nK=" + value + "\r\n", "C", "K"), std::string(259, 'q'));
}

// --- absent things -------------------------------------------------------------------------

TEST_F(ProfileReadTest, AbsentFileSectionOrKeyReadsEmpty) {
  EXPECT_EQ(ReadString(dir_.File("missing.ini"), "Config", "Debug"), "");
  EXPECT_EQ(ReadString(dir_.File("no/such/folder/x.ini"), "Config", "Debug"), "");
  EXPECT_EQ(Read("", "Config", "Debug"), "");
  EXPECT_EQ(Read("[Other]\r\nDebug=ON\r\n", "Config", "Debug"), "");
  EXPECT_EQ(Read("[Config]\r\nDebugX=ON\r\n", "Config", "Debug"), "");
  EXPECT_EQ(Read("[Config]\r\nDebug=ON\r\n", "", "Debug"), "");
  EXPECT_EQ(Read("[Config]\r\nDebug=ON\r\n", "Config", ""), "");
}

TEST_F(ProfileReadTest, DirectoryReadsEmpty) {
  EXPECT_EQ(ReadString(dir_.path(), "Config", "Debug"), "");
}

TEST_F(ProfileReadTest, UnreadableFileReadsEmpty) {
  if (!PermissionsBind()) GTEST_SKIP() << "no permission keeps this process from reading";
  WriteFile(path_, "[Config]\r\nDebug=ON\r\n");
  std::filesystem::permissions(path_, std::filesystem::perms::none);
  EXPECT_EQ(ReadString(path_, "Config", "Debug"), "");
}

// --- encodings and line ends ----------------------------------------------------------------

TEST_F(ProfileReadTest, Utf16LeWithBomIsRead) {
  const std::string file =
      Utf16LeWithBom(u"[Config]\r\nImagePath= \"D:\\Bilder\u00e9\u20ac\" \r\n");
  EXPECT_EQ(Read(file, "config", "imagepath"), "D:\\Bilder\xC3\xA9\xE2\x82\xAC");
}

TEST_F(ProfileReadTest, Utf16BeWithBomIsRead) {
  const std::string file = "\xFE\xFF" + Utf16Bytes(u"[Config]\nKey=\u00e9\n", true);
  EXPECT_EQ(Read(file, "Config", "Key"), "\xC3\xA9");
}

TEST_F(ProfileReadTest, Utf8WithAndWithoutBomIsRead) {
  EXPECT_EQ(Read("\xEF\xBB\xBF[Config]\r\nKey=caf\xC3\xA9\r\n", "Config", "Key"), "caf\xC3\xA9");
  EXPECT_EQ(Read("[Config]\r\nKey=caf\xC3\xA9\r\n", "Config", "Key"), "caf\xC3\xA9");
}

TEST_F(ProfileReadTest, Windows1252FileIsConvertedToUtf8) {
  // 0xE9 is no valid UTF-8 here, so the whole file is Windows-1252: e-acute and the euro sign.
  const std::string file = "[Config]\r\nKey=caf\xE9\r\nMoney=\x80 5\r\n";
  EXPECT_EQ(Read(file, "Config", "Key"), "caf\xC3\xA9");
  EXPECT_EQ(Read(file, "Config", "Money"), "\xE2\x82\xAC 5");
}

TEST_F(ProfileReadTest, LfLoneCrAndMissingFinalNewlineEndLines) {
  EXPECT_EQ(Read("[Config]\nA=1\nB=2", "Config", "B"), "2");
  EXPECT_EQ(Read("[Config]\rA=1\rB=2\r", "Config", "A"), "1");
  EXPECT_EQ(Read("[Config]\r\nA=1\rB=2\nC=3", "Config", "B"), "2");
  EXPECT_EQ(Read("[Config]\r\nA=1\rB=2\nC=3", "Config", "C"), "3");
  EXPECT_EQ(Read("[Config]", "Config", "A"), "");
}

// --- hostile files -------------------------------------------------------------------------

TEST_F(ProfileReadTest, NulBytesEndAValueAndSpoilOnlyTheirLine) {
  using namespace std::string_literals;
  const std::string file = "[Config]\r\nA=ab\0cd\r\nB\0=1\r\n\0\0\0\r\nC=3\r\n"s;
  EXPECT_EQ(Read(file, "Config", "A"), "ab");  // as a C string buffer would hold it
  EXPECT_EQ(Read(file, "Config", "B"), "");    // the name is "B\0": no match
  EXPECT_EQ(Read(file, "Config", "C"), "3");
}

TEST_F(ProfileReadTest, BinaryJunkAroundASectionStillReadsTheKey) {
  std::mt19937 random(7);
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>(random() & 0xFF));
  EXPECT_EQ(Read(junk + "\r\n[Config]\r\nDebug=ON\r\n" + junk, "Config", "Debug"), "ON");
}

TEST_F(ProfileReadTest, RandomBinaryFilesNeitherCrashNorHang) {
  std::mt19937 random(42);
  for (int round = 0; round < 300; ++round) {
    std::string file = round % 3 == 0 ? "\xFF\xFE" : (round % 3 == 1 ? "\xFE\xFF" : "");
    const std::size_t size = random() % 3000;
    for (std::size_t i = 0; i < size; ++i) {
      // Plenty of the characters that matter to the parser among the junk.
      static constexpr char kSyntax[] = "[]=;\"' \t\r\n\0CcKk";
      file.push_back(random() % 2 ? kSyntax[random() % (sizeof(kSyntax) - 1)]
                                  : static_cast<char>(random() & 0xFF));
    }
    const std::string value = Read(file, "C", "K");
    EXPECT_LE(Utf16Length(value), kValueBufferUnits - 1);
  }
}

TEST_F(ProfileReadTest, FileOfOnlyJunkReadsEmpty) {
  using namespace std::string_literals;
  EXPECT_EQ(Read("\0\x01\x02\xFF\x80\x00\x7F"s, "Config", "Debug"), "");
  EXPECT_EQ(Read("\xFF\xFE\x00"s, "Config", "Debug"), "");  // UTF-16 with an odd byte
}

TEST_F(ProfileReadTest, HugeFileIsReadOnlyUpToTheSizeLimit) {
  // 20 MB: a key at the start, filler lines, a key line cut by the 16 MB limit, and a
  // section that lies wholly beyond it.
  std::string file = "[Config]\r\nEarly=1\r\n";
  const std::string filler = "Filler=" + std::string(90, 'f') + "\r\n";
  while (file.size() + filler.size() < kMaxFileBytes - 10) file += filler;
  file += "Cut=" + std::string(100, 'c') + "\r\n";  // crosses the limit
  ASSERT_GT(file.size(), kMaxFileBytes);
  file += "[Late]\r\nKey=x\r\n";
  while (file.size() < 20 * kMiB) file += filler;

  EXPECT_EQ(Read(file, "Config", "Early"), "1");
  EXPECT_EQ(Read(file, "Config", "Cut"), "");  // partly beyond the limit: absent, not cut short
  EXPECT_EQ(Read(file, "Late", "Key"), "");
  EXPECT_EQ(Read(file, "Config", "Missing"), "");
}

TEST_F(ProfileReadTest, HugeSingleLineIsHarmless) {
  std::string file = "[Config]\r\nA=1\r\nBig=" + std::string(20 * kMiB, 'x');
  EXPECT_EQ(Read(file, "Config", "A"), "1");
  EXPECT_EQ(Read(file, "Config", "Big"), "");  // cut by the size limit: absent
  file = "[Config]\r\nBig=" + std::string(2 * kMiB, 'y') + "\r\n";
  EXPECT_EQ(Read(file, "Config", "Big"), std::string(259, 'y'));
}

// --- switches ------------------------------------------------------------------------------

TEST(ProfileSwitchTest, OnAndOffInAnyLetterCase) {
  EXPECT_TRUE(IsOn("ON"));
  EXPECT_TRUE(IsOn("on"));
  EXPECT_TRUE(IsOn("oN"));
  EXPECT_FALSE(IsOn("ONE"));
  EXPECT_FALSE(IsOn("yes"));
  EXPECT_FALSE(IsOn(""));
  EXPECT_TRUE(IsOff("OFF"));
  EXPECT_TRUE(IsOff("Off"));
  EXPECT_FALSE(IsOff("no"));
  EXPECT_FALSE(IsOff("OF"));
  EXPECT_FALSE(IsOff(""));
}

// --- writing -------------------------------------------------------------------------------

class ProfileWriteTest : public ::testing::Test {
 protected:
  // Writes `content`, sets Config/ImagePath and returns the file's bytes afterwards.
  std::string Rewrite(std::string_view content, std::string_view value) {
    WriteFile(path_, content);
    EXPECT_TRUE(WriteString(path_, "Config", "ImagePath", value));
    return ReadFile(path_);
  }
  std::size_t EntriesInFolder() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_.path()),
                                                  std::filesystem::directory_iterator()));
  }
  TempDir dir_;
  std::string path_ = dir_.File("Vornex_730.ini");
};

TEST_F(ProfileWriteTest, CreatesAnAbsentFileAsUtf8WithCrLf) {
  ASSERT_TRUE(WriteString(path_, "Config", "ImagePath", "C:\\x"));
  EXPECT_EQ(ReadFile(path_), "[Config]\r\nImagePath=C:\\x\r\n");
  EXPECT_EQ(EntriesInFolder(), 1u);  // no temporary file left behind
}

TEST_F(ProfileWriteTest, CreatesAnAbsentSectionAtTheEndAfterABlankLine) {
  EXPECT_EQ(Rewrite("[Other]\r\nA=1\r\n", "x"),
            "[Other]\r\nA=1\r\n\r\n[Config]\r\nImagePath=x\r\n");
  // No final newline: the last line is ended first.
  EXPECT_EQ(Rewrite("[Other]\r\nA=1", "x"), "[Other]\r\nA=1\r\n\r\n[Config]\r\nImagePath=x\r\n");
  // Already ends with a blank line: none added.
  EXPECT_EQ(Rewrite("[Other]\r\nA=1\r\n\r\n", "x"),
            "[Other]\r\nA=1\r\n\r\n[Config]\r\nImagePath=x\r\n");
  // The file's own line end is used.
  EXPECT_EQ(Rewrite("[Other]\nA=1\n", "x"), "[Other]\nA=1\n\n[Config]\nImagePath=x\n");
  // An empty file gets just the section.
  EXPECT_EQ(Rewrite("", "x"), "[Config]\r\nImagePath=x\r\n");
}

TEST_F(ProfileWriteTest, ReplacesTheValueOfTheFirstKeyLineOfTheFirstSection) {
  const std::string before =
      "; station settings\r\n"
      "[config]\r\n"
      "Debug = ON   ; on for now\r\n"
      "  imagepath = \"C:\\old path\" \r\n"
      "ImagePath=second\r\n"
      "\r\n"
      "[Config]\r\n"
      "ImagePath=other section\r\n";
  const std::string after =
      "; station settings\r\n"
      "[config]\r\n"
      "Debug = ON   ; on for now\r\n"
      "  imagepath=D:\\new\r\n"  // indentation and the key's spelling kept
      "ImagePath=second\r\n"
      "\r\n"
      "[Config]\r\n"
      "ImagePath=other section\r\n";
  EXPECT_EQ(Rewrite(before, "D:\\new"), after);
  EXPECT_EQ(ReadString(path_, "Config", "ImagePath"), "D:\\new");
}

TEST_F(ProfileWriteTest, InsertsAMissingKeyAfterTheSectionsLastNonBlankLine) {
  EXPECT_EQ(Rewrite("[Config]\r\nDebug=ON\r\n;end of Config\r\n\r\n[Next]\r\nA=1\r\n", "x"),
            "[Config]\r\nDebug=ON\r\n;end of Config\r\nImagePath=x\r\n\r\n[Next]\r\nA=1\r\n");
  EXPECT_EQ(Rewrite("[Config]\r\n\r\n[Next]\r\n", "x"),
            "[Config]\r\nImagePath=x\r\n\r\n[Next]\r\n");
  // The section is last and the file has no final newline.
  EXPECT_EQ(Rewrite("[A]\nB=1\n[Config]\nDebug=ON", "x"),
            "[A]\nB=1\n[Config]\nDebug=ON\nImagePath=x\n");
  EXPECT_EQ(Rewrite("[Config]", "x"), "[Config]\r\nImagePath=x\r\n");
}

TEST_F(ProfileWriteTest, EveryOtherByteStaysAsItWas) {
  // Mixed line ends, tabs, comments, junk lines, a trailing line without newline.
  const std::string head = "\t; comment \r\n[Other]\nX = 1 \r\njunk line\r\r\n[Config]\r\n";
  const std::string tail = "\nDebug=\tOn\t\n;c\r\n[Z]\r\nlast=1";
  EXPECT_EQ(Rewrite(head + "ImagePath=old" + tail, "new"), head + "ImagePath=new" + tail);
}

TEST_F(ProfileWriteTest, Utf16LeFileStaysUtf16LeWithBom) {
  const std::u16string before = u"[Config]\r\nDebug=ON\r\nImagePath=C:\\alt\r\n; \u00e9\r\n";
  const std::u16string after =
      u"[Config]\r\nDebug=ON\r\nImagePath=C:\\\u00e9t\u00e9\u20ac\r\n; \u00e9\r\n";
  EXPECT_EQ(Rewrite(Utf16LeWithBom(before), "C:\\\xC3\xA9t\xC3\xA9\xE2\x82\xAC"),
            Utf16LeWithBom(after));
  EXPECT_EQ(ReadString(path_, "Config", "ImagePath"), "C:\\\xC3\xA9t\xC3\xA9\xE2\x82\xAC");
  // Inserting a key and a section keeps the encoding too.
  EXPECT_EQ(Rewrite(Utf16LeWithBom(u"[Config]\r\n"), "x"),
            Utf16LeWithBom(u"[Config]\r\nImagePath=x\r\n"));
  EXPECT_EQ(Rewrite(Utf16LeWithBom(u"[A]\r\n"), "x"),
            Utf16LeWithBom(u"[A]\r\n\r\n[Config]\r\nImagePath=x\r\n"));
}

TEST_F(ProfileWriteTest, Utf16BeFileStaysUtf16Be) {
  const std::string before = "\xFE\xFF" + Utf16Bytes(u"[Config]\nImagePath=a\n", true);
  EXPECT_EQ(Rewrite(before, "b"), "\xFE\xFF" + Utf16Bytes(u"[Config]\nImagePath=b\n", true));
}

TEST_F(ProfileWriteTest, Windows1252FileStaysWindows1252) {
  const std::string before = "[Config]\r\nName=caf\xE9\r\nImagePath=x\r\n";
  // e-acute and the euro sign become single bytes; a character without a 1252 form becomes '?'.
  EXPECT_EQ(Rewrite(before, "C:\\\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xE2\x84\xA6"),
            "[Config]\r\nName=caf\xE9\r\nImagePath=C:\\\xE9t\xE9 \x80 ?\r\n");
  EXPECT_EQ(ReadString(path_, "Config", "Name"), "caf\xC3\xA9");
}

TEST_F(ProfileWriteTest, Utf8FileKeepsItsBomAndGetsUtf8) {
  EXPECT_EQ(Rewrite("\xEF\xBB\xBF[Config]\r\nImagePath=x\r\n", "\xC3\xA9"),
            "\xEF\xBB\xBF[Config]\r\nImagePath=\xC3\xA9\r\n");
  EXPECT_EQ(Rewrite("[Config]\r\nImagePath=\xC3\xA0\r\n", "\xC3\xA9"),
            "[Config]\r\nImagePath=\xC3\xA9\r\n");
}

TEST_F(ProfileWriteTest, WrittenValuesReadBackUnderTheReadingRules) {
  ASSERT_TRUE(WriteString(path_, " Config ", " ImagePath ", std::string(300, 'p')));
  EXPECT_EQ(ReadFile(path_), "[Config]\r\nImagePath=" + std::string(300, 'p') + "\r\n");
  EXPECT_EQ(ReadString(path_, "Config", "ImagePath"), std::string(259, 'p'));
  ASSERT_TRUE(WriteString(path_, "Config", "ImagePath", ""));
  EXPECT_EQ(ReadFile(path_), "[Config]\r\nImagePath=\r\n");
  EXPECT_EQ(ReadString(path_, "Config", "ImagePath"), "");
}

TEST_F(ProfileWriteTest, FailuresReturnFalseAndLeaveTheFileAlone) {
  EXPECT_FALSE(WriteString(dir_.path(), "Config", "ImagePath", "x"));  // a directory
  EXPECT_FALSE(WriteString(dir_.File("no/such/folder/x.ini"), "Config", "ImagePath", "x"));

  const std::string before = "[Config]\r\nImagePath=x\r\n";
  WriteFile(path_, before);
  EXPECT_FALSE(WriteString(path_, "Config", "ImagePath", "two\r\nlines"));
  EXPECT_FALSE(WriteString(path_, "Config", "", "x"));
  EXPECT_FALSE(WriteString(path_, "", "ImagePath", "x"));
  EXPECT_FALSE(WriteString(path_, "Config", "Image=Path", "x"));
  EXPECT_FALSE(WriteString(path_, "Con]fig", "ImagePath", "x"));
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(EntriesInFolder(), 1u);
}

TEST_F(ProfileWriteTest, FileBeyondTheSizeLimitIsNotRewritten) {
  // Rewriting it from its first 16 MB would lose the rest.
  const std::string before = "[Config]\r\nImagePath=x\r\n;" + std::string(kMaxFileBytes, 'z');
  WriteFile(path_, before);
  EXPECT_FALSE(WriteString(path_, "Config", "ImagePath", "y"));
  EXPECT_EQ(ReadFile(path_).size(), before.size());
}

TEST_F(ProfileWriteTest, UnwritableFolderOrFileReturnsFalse) {
  if (!PermissionsBind()) GTEST_SKIP() << "no permission keeps this process from writing";
  namespace fs = std::filesystem;
  WriteFile(path_, "[Config]\r\nImagePath=x\r\n");
  fs::permissions(path_, fs::perms::owner_read);
  EXPECT_FALSE(WriteString(path_, "Config", "ImagePath", "y"));
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(WriteString(dir_.File("new.ini"), "Config", "ImagePath", "y"));
  fs::permissions(dir_.path(), fs::perms::owner_all);
}

TEST_F(ProfileWriteTest, WritesThroughASymbolicLink) {
  namespace fs = std::filesystem;
  const std::string real = dir_.File("real.ini");
  WriteFile(real, "[Config]\r\nImagePath=x\r\n");
  std::error_code ec;
  fs::create_symlink(real, path_, ec);
  if (ec) GTEST_SKIP() << "no symbolic link could be made here: " << ec.message();
  ASSERT_TRUE(WriteString(path_, "Config", "ImagePath", "y"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ReadFile(real), "[Config]\r\nImagePath=y\r\n");
}

}  // namespace
}  // namespace vornex::profile
