// Tests of TFsLogExist: the file it writes, byte for byte where the format matters, the
// choice of folder, the cuts of over-long texts and lines, and lines from several threads.
#include "foundation/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/pacing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "support/run_scope.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kLogName[] = "ROrUdi_200.txt";

// The lines of UTF-16LE bytes (no mark), split at CR LF; a complete file ends with an empty
// last entry.
std::vector<std::string> SplitLines(std::string_view utf16le) {
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(utf16le[i]) |
                                         (static_cast<unsigned char>(utf16le[i + 1]) << 8)));
  }
  const std::string text = Utf16ToUtf8(wide);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// The text of a line after its "YYYY-MM-DD hh:mm:ss.mmm " stamp; fails the test when the
// stamp is malformed.
std::string TextOf(const std::string& line) {
  static const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
  EXPECT_TRUE(std::regex_search(line, kStamp)) << line;
  return line.size() >= 24 ? line.substr(24) : std::string();
}

// The texts of all lines of a log file that started out empty.
std::vector<std::string> LoggedTexts(const std::string& path) {
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  std::vector<std::string> lines = SplitLines(std::string_view(bytes).substr(2));
  EXPECT_EQ(lines.back(), "") << "the file must end with CR LF";
  lines.pop_back();
  for (auto& line : lines) line = TextOf(line);
  return lines;
}

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths::OverrideExeFolder(exeDir_.path());
    paths::OverrideTempFolder(tmpDir_.path());
    run_.TimeScale(0.01);
  }
  void TearDown() override {
    paths::OverrideExeFolder("");
    paths::OverrideTempFolder("");
  }

  // Logs the texts into an empty file beside the executable and returns the texts of the lines
  // between the banners.
  std::vector<std::string> LogAndRead(const std::vector<std::string>& texts) {
    WriteFile(exeDir_.File(kLogName), "");
    auto log = TFsLogExist::Create(kLogName);
    for (const auto& text : texts) EXPECT_EQ(log->LogPrintf("%s", text.c_str()), 1);
    log.reset();
    std::vector<std::string> lines = LoggedTexts(exeDir_.File(kLogName));
    EXPECT_GE(lines.size(), 6u);
    if (lines.size() < 6) return {};
    return {lines.begin() + 2, lines.end() - 4};
  }

  testing::RunScope run_;
  TempDir exeDir_;
  TempDir tmpDir_;
};

bool IsEmptyDir(const std::string& path) {
  return std::filesystem::directory_iterator(path) == std::filesystem::directory_iterator();
}

TEST_F(LoggerTest, WithoutFileNothingIsWrittenOrCreated) {
  auto log = TFsLogExist::Create(kLogName);
  EXPECT_TRUE(log->LogWaitReady()) << "the writer runs even without a file";
  EXPECT_FALSE(log->HasFile());
  EXPECT_EQ(log->LogPrintf("text %d", 1), 0);
  log.reset();
  EXPECT_TRUE(IsEmptyDir(exeDir_.path()));
  EXPECT_TRUE(IsEmptyDir(tmpDir_.path()));
}

TEST_F(LoggerTest, EmptyFileGetsMarkBannersEscapedLineAndEndBanner) {
  const std::string path = exeDir_.File(kLogName);
  WriteFile(path, "");
  auto log = TFsLogExist::Create(kLogName);
  ASSERT_TRUE(log->HasFile());

  // The start banner is on disk once the writer's queue is ready.
  const std::string early = ReadFile(path);
  ASSERT_EQ(early.substr(0, 2), "\xFF\xFE");
  const std::vector<std::string> earlyLines = SplitLines(std::string_view(early).substr(2));
  ASSERT_EQ(earlyLines.size(), 3u);
  EXPECT_EQ(TextOf(earlyLines[0]), "======== FA Logging Started ========");
  EXPECT_EQ(TextOf(earlyLines[1]), "====================================");

  EXPECT_EQ(log->LogPrintf("a\r\nb"), 1);
  log->LogStop();
  EXPECT_FALSE(log->HasFile());
  EXPECT_EQ(log->LogPrintf("late"), 0);
  EXPECT_FALSE(log->LogWaitReady());
  log->LogStop();  // a second stop does nothing
  log.reset();

  const std::vector<std::string> expected = {"======== FA Logging Started ========",
                                             "====================================",
                                             "a\\r\\nb",
                                             "========= FA Logging Ended =========",
                                             "====================================",
                                             "",
                                             ""};
  EXPECT_EQ(LoggedTexts(path), expected);
}

TEST_F(LoggerTest, ExistingContentKeepsAllButItsFirstTwoBytesAndLinesAreAppended) {
  const std::string path = exeDir_.File(kLogName);
  WriteFile(path, "XXold!");
  TFsLogExist::Create(kLogName)->LogPrintf("new");

  const std::string bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 6u);
  EXPECT_EQ(bytes.substr(0, 6), "\xFF\xFEold!");
  const std::vector<std::string> lines = SplitLines(std::string_view(bytes).substr(6));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(TextOf(lines[0]), "======== FA Logging Started ========");
  EXPECT_EQ(TextOf(lines[2]), "new");
}

TEST_F(LoggerTest, FallsBackToTheTemporaryFolder) {
  // A folder of the log's name beside the executable is no log file.
  std::filesystem::create_directory(exeDir_.File(kLogName));
  WriteFile(tmpDir_.File(kLogName), "");
  TFsLogExist::Create(kLogName)->LogPrintf("in temp");

  EXPECT_TRUE(IsEmptyDir(exeDir_.File(kLogName)));
  const std::vector<std::string> texts = LoggedTexts(tmpDir_.File(kLogName));
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(texts[2], "in temp");
}

TEST_F(LoggerTest, TextsAreCutAt511UnitsBetweenCharactersAndWrittenAsUtf16Le) {
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
  const std::vector<std::string> texts =
      LogAndRead({std::string(511, 'x'), std::string(600, 'y'), std::string(510, 'z') + emoji,
                  "\xC3\xA9" + emoji});
  const std::vector<std::string> expected = {std::string(511, 'x'), std::string(511, 'y'),
                                             std::string(510, 'z'), "\xC3\xA9" + emoji};
  EXPECT_EQ(texts, expected);
  // U+00E9 = E9 00, U+1F600 = 3D D8 00 DE, then CR LF.
  const std::string bytes(" \0\xE9\0\x3D\xD8\0\xDE\r\0\n\0", 12);
  EXPECT_NE(ReadFile(exeDir_.File(kLogName)).find(bytes), std::string::npos);
}

TEST_F(LoggerTest, OverlongEscapedLinesAreCutAndKeepTheirLineEnd) {
  std::string crlf;
  for (int i = 0; i < 255; ++i) crlf += "\r\n";
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string crThenEmoji(487, '\r');
  for (int i = 0; i < 12; ++i) crThenEmoji += emoji;

  const std::vector<std::string> texts = LogAndRead({"x" + crlf, crlf, crThenEmoji});
  ASSERT_EQ(texts.size(), 3u);

  std::string escapedPairs;
  for (int i = 0; i < 249; ++i) escapedPairs += "\\r\\n";
  // 24 + 997 + 2 = 1023 units: exactly full.
  EXPECT_EQ(texts[0], "x" + escapedPairs);
  // An escape pair that does not fit whole is left out, not cut after its backslash.
  EXPECT_EQ(texts[1], escapedPairs);
  // A surrogate pair that does not fit whole is left out (a lone half would decode as U+FFFD).
  std::string expected;
  for (int i = 0; i < 487; ++i) expected += "\\r";
  for (int i = 0; i < 11; ++i) expected += emoji;
  EXPECT_EQ(texts[2], expected);
}

TEST_F(LoggerTest, LinesFromSeveralThreadsAllArriveInPostingOrder) {
  constexpr int kThreads = 4;
  constexpr int kLinesEach = 100;
  WriteFile(exeDir_.File(kLogName), "");
  auto log = TFsLogExist::Create(kLogName);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLinesEach; ++i) EXPECT_EQ(log->LogPrintf("%d %d", t, i), 1);
    });
  }
  for (auto& thread : threads) thread.join();
  log.reset();

  std::vector<int> next(kThreads, 0);
  const std::vector<std::string> texts = LoggedTexts(exeDir_.File(kLogName));
  ASSERT_EQ(texts.size(), 6u + kThreads * kLinesEach);
  for (std::size_t n = 2; n < texts.size() - 4; ++n) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(texts[n].c_str(), "%d %d", &t, &i), 2) << texts[n];
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++) << "thread " << t;
  }
}

}  // namespace
}  // namespace vornex
