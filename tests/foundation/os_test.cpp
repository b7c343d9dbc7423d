// The system seams of the foundation: what the file calls refuse, the folders the system names,
// the terminal answer for a redirected output and the local calendar.
#include <gtest/gtest.h>

#include <algorithm>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/local_time.h"
#include "foundation/os_file.h"
#include "foundation/paths.h"
#include "foundation/terminal.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

namespace fs = std::filesystem;
using os::TFileResult;
using os::TFileStatus;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

TEST(OsFileTest, RefusalsLeaveWhatIsThereAsItWas) {
  TempDir dir;
  const std::string file = dir.File("record");
  const std::string folder = dir.File("folder");
  WriteFile(file, "12345");
  fs::create_directory(folder);

  std::string bytes;
  os::TFile out;
  const auto read = [&](const std::string& path) { return os::ReadRegularFile(path, 5, &bytes); };
  const auto readFour = [&](const std::string& path) {
    return os::ReadRegularFile(path, 4, &bytes);
  };
  const auto create = [](const std::string& path) { return os::WriteNewFile(path, "new"); };
  const auto open = [&](const std::string& path) { return os::OpenExistingForWriting(path, &out); };
  struct Case {
    const char* what;
    std::function<TFileResult(const std::string&)> call;
    std::string path;
    TFileStatus status;
    const char* bytesAfter;  // what a read leaves in `bytes`
  };
  const Case cases[] = {
      {"read a whole file", read, file, TFileStatus::kDone, "12345"},
      {"read a missing file", read, dir.File("gone"), TFileStatus::kMissing, ""},
      {"read a folder", read, folder, TFileStatus::kNotRegular, ""},
      {"read a device", read, kNullDevice, TFileStatus::kNotRegular, ""},
      {"read over the limit", readFour, file, TFileStatus::kTooLarge, ""},
      {"create over a file", create, file, TFileStatus::kNameTaken, "-"},
      {"create over a folder", create, folder, TFileStatus::kNameTaken, "-"},
      {"create in a missing folder", create, dir.File("gone/x"), TFileStatus::kMissing, "-"},
      {"open a missing file", open, dir.File("gone"), TFileStatus::kMissing, "-"},
      {"open a folder", open, folder, TFileStatus::kNotRegular, "-"},
      {"open a device", open, kNullDevice, TFileStatus::kNotRegular, "-"},
  };
  for (const Case& c : cases) {
    bytes.assign(1, '-');
    const TFileResult result = c.call(c.path);
    EXPECT_EQ(result.status, c.status) << c.what << ": " << os::FileResultText(result);
    EXPECT_EQ(bytes, c.bytesAfter) << c.what;
  }
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(ReadFile(file), "12345");
  EXPECT_FALSE(fs::exists(dir.File("gone")));
  EXPECT_EQ(readFour(file).size, 5u);
}

TEST(OsFileTest, AWholeFileTakesThePlaceOfNoFolderDeviceOrPipe) {
  TempDir dir;
  fs::create_directory(dir.File("folder"));
  WriteFile(dir.File("record"), "old");
  struct Case {
    std::string path;
    TFileStatus status;
  };
  std::vector<Case> cases = {{dir.File("folder"), TFileStatus::kNotRegular},
                             {kNullDevice, TFileStatus::kNotRegular},
                             {dir.File("record"), TFileStatus::kDone},
                             {dir.File("new"), TFileStatus::kDone}};
#ifdef _WIN32
  cases.push_back({dir.File("COM1.txt"), TFileStatus::kNotRegular});
#else
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  fs::create_symlink(dir.File("pipe"), dir.File("link"));
  cases.push_back({dir.File("pipe"), TFileStatus::kNotRegular});
  cases.push_back({dir.File("link"), TFileStatus::kNotRegular});
#endif
  for (const Case& c : cases) {
    const fs::file_type before = fs::symlink_status(c.path).type();
    const TFileResult result = os::WriteFileAtomically(c.path, "new");
    EXPECT_EQ(result.status, c.status) << c.path << ": " << os::FileResultText(result);
    if (c.status != TFileStatus::kDone) {
      EXPECT_EQ(fs::symlink_status(c.path).type(), before) << c.path;
    }
  }
  EXPECT_EQ(ReadFile(dir.File("record")), "new");
  std::size_t names = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++names;
  const auto inFolder = std::count_if(cases.begin(), cases.end(), [&](const Case& c) {
    return c.path.rfind(dir.path(), 0) == 0 && fs::exists(fs::symlink_status(c.path));
  });
  EXPECT_EQ(names, static_cast<std::size_t>(inFolder)) << "a temporary file was left";
}

TEST(OsFileTest, ReadRefusesALinkItself) {
  TempDir dir;
  WriteFile(dir.File("record"), "12345");
  std::error_code ec;
  fs::create_symlink(dir.File("record"), dir.File("link"), ec);
  if (ec) GTEST_SKIP() << "no symbolic link could be made here: " << ec.message();
  std::string bytes;
  EXPECT_EQ(os::ReadRegularFile(dir.File("link"), 5, &bytes).status, TFileStatus::kLink);
  EXPECT_EQ(bytes, "");
}

TEST(OsFileTest, NewFileHoldsExactlyItsBytes) {
  TempDir dir;
  const std::string bytes("a\0b\r\nc\xFF", 7);
  ASSERT_TRUE(os::WriteNewFile(dir.File("new"), bytes).Done());
  EXPECT_EQ(ReadFile(dir.File("new")), bytes);
}

TEST(PathsTest, JoinPutsOneSeparatorBetweenFolderAndName) {
  const std::string sep = paths::Join("", "");
  ASSERT_EQ(sep.size(), 1u);
  EXPECT_EQ(paths::Join("a", "b"), "a" + sep + "b");
  EXPECT_EQ(paths::Join("a/", "b"), "a/b");
#ifdef _WIN32
  EXPECT_EQ(paths::Join("C:\\", "b"), "C:\\b");
#endif
}

TEST(PathsTest, SystemFoldersExist) {
  EXPECT_TRUE(fs::is_directory(paths::FsPath(paths::ExeFolder())));
  const std::string temp = paths::TempFolder();
  EXPECT_TRUE(fs::is_directory(paths::FsPath(temp))) << temp;
  EXPECT_EQ(paths::Join(temp, ""), temp) << "ends with a separator";
  // Not created here, but always named where the user has a home.
  EXPECT_FALSE(paths::StateFolder().empty());
}

TEST(PathsTest, NonAsciiPathsSurviveTheRoundTrip) {
  const std::string name = "Bilder\xC3\xA9\xE2\x82\xAC";  // U+00E9, U+20AC
  EXPECT_EQ(paths::Utf8Path(paths::FsPath(name)), name);
  TempDir dir;
  ASSERT_TRUE(os::WriteNewFile(paths::Join(dir.path(), name), "x").Done());
  EXPECT_EQ(paths::Utf8Path(fs::directory_iterator(paths::FsPath(dir.path()))->path().filename()),
            name);
}

TEST(TerminalTest, NoEscapesWithoutATerminal) {
  if (terminal::StdoutIsTerminal()) GTEST_SKIP() << "standard output is a terminal";
  EXPECT_FALSE(terminal::EnableEscapes());
}

TEST(LocalTimeTest, TheCalendarIsFilledIn) {
  const TLocalTime now = LocalTimeNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_EQ(LocalTimeText(now).size(), 23u);
}

}  // namespace
}  // namespace vornex
