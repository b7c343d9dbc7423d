// The station's settings: defaults, the switches, the PathNumber rules with the Enabled table
// derived from them, the cut image path and the file's place beside the executable.
#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "foundation/paths.h"
#include "foundation/profile.h"
#include "support/temp_dir.h"

namespace vornex {
namespace {

using vornex::testing::ReadFile;
using vornex::testing::TempDir;
using vornex::testing::WriteFile;

using Enabled = std::array<std::int32_t, kSlotCount>;

class SettingsTest : public ::testing::Test {
 protected:
  TStationSettings Load(std::string_view config) {
    WriteFile(path_, "[Config]\r\n" + std::string(config));
    return LoadSettings(path_);
  }
  // The values that a settings file gives, field by field.
  struct Fields {
    bool debugMode;
    bool autoPath;
    bool browseButton;
    std::string imagePath;
    std::int32_t pathNumber;
    Enabled enabled;
  };
  void Expect(const TStationSettings& s, const Fields& f) {
    EXPECT_EQ(s.debugMode, f.debugMode);
    EXPECT_EQ(s.autoPath, f.autoPath);
    EXPECT_EQ(s.browseButton, f.browseButton);
    EXPECT_EQ(s.imagePath, f.imagePath);
    EXPECT_EQ(s.pathNumber, f.pathNumber);
    EXPECT_EQ(s.enabled, f.enabled);
  }
  void ExpectDefaults(const TStationSettings& s) {
    Expect(s, {false, true, false, "", 8, {1, 1, 1, 1, 1, 1, 1, 1}});
  }
  TempDir dir_;
  std::string path_ = dir_.File(kSettingsFileName);
};

TEST_F(SettingsTest, NoFileGivesAllDefaults) {
  ExpectDefaults(LoadSettings(dir_.File("absent.ini")));
}

TEST_F(SettingsTest, EmptyFileOrOtherSectionGivesAllDefaults) {
  WriteFile(path_, "");
  ExpectDefaults(LoadSettings(path_));
  WriteFile(path_, "[Other]\r\nDebug=ON\r\nAutoPath=OFF\r\nPathNumber=2\r\n");
  ExpectDefaults(LoadSettings(path_));
}

TEST_F(SettingsTest, AutoPathOffInLowerCaseSwitchesItOffAndNoLeavesItOn) {
  EXPECT_FALSE(Load("AutoPath=off\r\n").autoPath);
  EXPECT_FALSE(Load("AutoPath = \"OFF\" \r\n").autoPath);
  EXPECT_TRUE(Load("AutoPath=no\r\n").autoPath);
  EXPECT_TRUE(Load("AutoPath=\r\n").autoPath);
  EXPECT_TRUE(Load("AutoPath=ON\r\n").autoPath);
}

TEST_F(SettingsTest, DebugAndBrowseButtonSwitchOnOnlyWithOn) {
  const TStationSettings on = Load("Debug=On\r\nBrowseButton=oN\r\n");
  EXPECT_TRUE(on.debugMode);
  EXPECT_TRUE(on.browseButton);
  const TStationSettings other = Load("Debug=yes\r\nBrowseButton=1\r\n");
  EXPECT_FALSE(other.debugMode);
  EXPECT_FALSE(other.browseButton);
}

TEST_F(SettingsTest, PathNumberOutOfRangeOrWithoutANumberGivesEight) {
  for (const char* text : {"0", "9", "abc", "-1", "-0", "", "x3", "+", "99999999999999999999",
                           "4294967299" /* 3 if it wrapped at 32 bits */}) {
    SCOPED_TRACE(text);
    const TStationSettings s = Load(std::string("PathNumber=") + text + "\r\n");
    EXPECT_EQ(s.pathNumber, 8);
    EXPECT_EQ(s.enabled, (Enabled{1, 1, 1, 1, 1, 1, 1, 1}));
  }
}

TEST_F(SettingsTest, PathNumberIsTheLeadingNumber) {
  const TStationSettings three = Load("PathNumber=3x\r\n");
  EXPECT_EQ(three.pathNumber, 3);
  EXPECT_EQ(three.enabled, (Enabled{1, 1, 1, 0, 0, 0, 0, 0}));

  EXPECT_EQ(Load("PathNumber=1\r\n").enabled, (Enabled{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Load("PathNumber=8\r\n").pathNumber, 8);
  EXPECT_EQ(Load("PathNumber= +5 \r\n").pathNumber, 5);
  EXPECT_EQ(Load("PathNumber=007\r\n").pathNumber, 7);
  EXPECT_EQ(Load("PathNumber=2.9\r\n").pathNumber, 2);
}

TEST_F(SettingsTest, ImagePathIsReadAsItIsAndCutAt259Units) {
  EXPECT_EQ(Load("ImagePath = \"D:\\Images\\Vornex 730\" \r\n").imagePath,
            "D:\\Images\\Vornex 730");
  EXPECT_EQ(Load("ImagePath=" + std::string(400, 'p') + "\r\n").imagePath, std::string(259, 'p'));
}

TEST_F(SettingsTest, AllKeysTogether) {
  Expect(
      Load("debug=ON\r\nautopath=OFF\r\nbrowsebutton=ON\r\nimagepath=E:\\img\r\npathnumber=5\r\n"),
      {true, false, true, "E:\\img", 5, {1, 1, 1, 1, 1, 0, 0, 0}});
}

TEST_F(SettingsTest, WriteImagePathSetsConfigImagePathAndKeepsTheRest) {
  WriteFile(path_, "[Config]\r\nDebug=ON\r\nImagePath=old\r\nPathNumber=2\r\n");
  ASSERT_TRUE(WriteImagePath(path_, "/srv/images"));
  EXPECT_EQ(ReadFile(path_), "[Config]\r\nDebug=ON\r\nImagePath=/srv/images\r\nPathNumber=2\r\n");
  const TStationSettings s = LoadSettings(path_);
  EXPECT_EQ(s.imagePath, "/srv/images");
  EXPECT_TRUE(s.debugMode);
  EXPECT_EQ(s.pathNumber, 2);

  const std::string fresh = dir_.File("fresh.ini");
  ASSERT_TRUE(WriteImagePath(fresh, "C:\\x"));
  EXPECT_EQ(ReadFile(fresh), "[Config]\r\nImagePath=C:\\x\r\n");
  EXPECT_FALSE(WriteImagePath(dir_.path(), "C:\\x"));
}

TEST_F(SettingsTest, SettingsFileLivesBesideTheExecutable) {
  paths::OverrideExeFolder(dir_.path());
  EXPECT_EQ(SettingsPath(), paths::Join(dir_.path(), "Vornex_730.ini"));
  WriteFile(path_, "[Config]\r\nPathNumber=4\r\n");
  EXPECT_EQ(LoadSettings().pathNumber, 4);
  paths::OverrideExeFolder("");
  EXPECT_EQ(SettingsPath(), paths::Join(paths::ExeFolder(), "Vornex_730.ini"));
}

}  // namespace
}  // namespace vornex
