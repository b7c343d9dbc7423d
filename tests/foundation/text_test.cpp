// Text limits and conversions: cuts by UTF-16 units never split a character, conversions
// survive invalid input, and the device side's Windows-1252 bytes map both ways.
#include "foundation/text.h"

#include <gtest/gtest.h>

namespace vornex {
namespace {

TEST(Text, Utf16LengthCountsSurrogatePairsAndInvalidBytes) {
  EXPECT_EQ(Utf16Length("abc"), 3u);
  EXPECT_EQ(Utf16Length("\xC3\xA9"), 1u);          // é
  EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);  // emoji: one surrogate pair
  EXPECT_EQ(Utf16Length("\xFF\xFE"), 2u);          // invalid bytes count one unit each
  EXPECT_EQ(Utf16Length("\xE2\x82"), 2u);          // truncated sequence
}

TEST(Text, CutToUnitsNeverSplitsACharacter) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(CutToUnits("ab" + emoji, 3), "ab");  // the pair does not fit in one unit
  EXPECT_EQ(CutToUnits("ab" + emoji, 4), "ab" + emoji);
  EXPECT_EQ(CutToUnits("a\xC3\xA9z", 2), "a\xC3\xA9");
  EXPECT_EQ(CutToUnits("abc", 0), "");
  EXPECT_EQ(CutToUnits("abc", 10), "abc");
}

TEST(Text, FixedTextHoldsOneUnitLessThanItsWidth) {
  TFixedText<4> text(std::string("abcdef"));
  EXPECT_EQ(text.str(), "abc");
  text.Set("x\xF0\x9F\x98\x80yz");
  EXPECT_EQ(text.str(), "x\xF0\x9F\x98\x80");
  text.Clear();
  text.Append("ab");
  text.Append("cd");
  EXPECT_EQ(text.str(), "abc");
}

TEST(Text, Utf16RoundTripAndReplacement) {
  const std::string mixed = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(mixed)), mixed);
  EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, u'\xFFFD'));
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, static_cast<char16_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, Windows1252BothWays) {
  EXPECT_EQ(AnsiToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC\xC3\xA9"), "\x80\xE9");
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");  // no Windows-1252 form
  EXPECT_EQ(AnsiToUtf8("\x81"), "\xEF\xBF\xBD");
}

TEST(Text, FormatBoundedCutsLongResults) {
  EXPECT_EQ(FormatBounded(511, "COM%d(%d),%s", 7, 1, "x"), "COM7(1),x");
  const std::string longText(2000, 'q');
  EXPECT_EQ(FormatBounded(511, "%s", longText.c_str()).size(), 511u);
}

TEST(Text, CaseInsensitiveHelpers) {
  EXPECT_TRUE(EqualsNoCase("On", "ON"));
  EXPECT_FALSE(EqualsNoCase("ON ", "ON"));
  EXPECT_TRUE(ContainsNoCase("usb\\vid_05c6&pid_9004", "VID_05C6"));
}

}  // namespace
}  // namespace vornex
