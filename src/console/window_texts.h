// Every text the station window shows of its own, and its fixed pauses and sizes, in one place:
// titles, captions, prompts and messages exactly as the operators know them.
#pragma once

#include <cstdint>

namespace vornex::window {

// Titles and captions.
constexpr const char* kProductText = "Vornex 7300/7310 (v1.1.5.9)";  // title and About text
constexpr const char* kTitleSuffix = "(D)";                          // title = product + suffix
constexpr const char* kAboutItem = "&About Vornex...";
constexpr const char* kAboutCaption = "About Vornex";
constexpr const char* kAttention = "Attention";

// Messages and prompts.
constexpr const char* kQuitWhileRunning = "Downloading Devivce, Quit Now ?";
constexpr const char* kFinishingJobs = "Finishing %d jobs...";  // after a confirmed close
constexpr const char* kEnterPassword = "Enter Password :";
constexpr const char* kWrongPassword = "Wrong Password !";
constexpr const char* kSelectImageFolder = "Select Image File Path :";
constexpr const char* kUseAutoPath = "[ Use Auto Path ]";
constexpr const char* kImagePathPrefix = "Image Path : ";

// Buttons.
constexpr const char* kStart = "Start";
constexpr const char* kClear = "Clear";
constexpr const char* kBrowse = "Browse...";
constexpr const char* kOk = "OK";
constexpr const char* kCancel = "Cancel";

// The fixed password that guards the choice of the image folder (compared exactly).
constexpr const char* kBrowsePassword = "5927";

// The name of the single-instance lock.
constexpr const char* kInstanceLockName = "Fa Factory Multi Path Trelvan App";

// Fonts: family, cell height in pixels (ascent plus descent, the height of one line of text; the
// letters themselves are smaller) and weight.
constexpr const char* kFontFamily = "Arial";
constexpr int kLargeFontCellPx = 18;
constexpr int kLargeFontWeight = 700;
constexpr int kSmallFontCellPx = 15;
constexpr int kSmallFontWeight = 100;

// Window sizes in pixels: 600 wide; 700 high in debug mode, else 156 + 42 per slot up to the
// last one in use.
constexpr int kWindowWidthPx = 600;
constexpr int kDebugWindowHeightPx = 700;
constexpr int kBaseHeightPx = 156;
constexpr int kRowPitchPx = 42;

// The columns at the right of a slot row: the status word, then the result ("PASS", "FAILED"),
// whose column is wide enough for "FAILED" in the large font with room to spare and ends as far
// from the window's right edge as the buttons do. The progress bar takes what is left.
constexpr int kStatusWidthPx = 60;
constexpr int kResultWidthPx = 72;
constexpr int kRowGapPx = 10;       // between the progress bar, the status and the result
constexpr int kRightMarginPx = 18;  // between the result column and the window's right edge
constexpr int kProgressLeftPx = 160;

// The password prompt's client area (186 x 90 dialog units of an 8-point dialog font).
constexpr int kPasswordWidthPx = 279;
constexpr int kPasswordHeightPx = 146;

}  // namespace vornex::window
