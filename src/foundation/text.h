// Text handling of the station. Text is UTF-8 inside the program; the fixed widths of the
// station's records and buffers (260 units for paths, 512 for one log or report line, 128 for a
// description) are kept as limits counted in UTF-16 units, and a cut never splits a character.
// Device-side texts are 8-bit Windows-1252 bytes and are converted for display.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace vornex {

// The longest path a record of 260 units holds (the terminator takes the last unit).
constexpr std::size_t kMaxPathUnits = 259;

// Number of UTF-16 units that the UTF-8 text takes. A byte that does not start a valid
// sequence counts as one unit (it becomes one replacement character when converted).
std::size_t Utf16Length(std::string_view utf8);

// The longest prefix of the text that fits into maxUnits UTF-16 units, cut between characters.
std::string_view CutToUnits(std::string_view utf8, std::size_t maxUnits);

// UTF-8 <-> UTF-16 conversion. Invalid input becomes U+FFFD, never an error.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Windows-1252 bytes (the device side's ANSI code page) <-> UTF-8.
std::string AnsiToUtf8(std::string_view ansi);
// Characters without a Windows-1252 form become '?'.
std::string Utf8ToAnsi(std::string_view utf8);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// True for a character that a terminal or a spreadsheet may act on instead of showing: C0 and C1
// controls (so the start of every escape sequence), DEL, the line and paragraph separators and
// the bidirectional embeddings, overrides and isolates.
bool IsUnprintable(char32_t cp);
// UTF-8 text (a name, a reason, a key from a file or from the line) as it may reach a terminal,
// a page or a CSV cell: a tab becomes a space, every other unprintable character '?', and each
// byte that starts no valid character U+FFFD.
std::string PrintableText(std::string_view utf8);

// The format check of the station's printf-style functions (argument numbers of the format and
// of the first value). The build names the archetype: on Windows the station formats with the
// MinGW C99 printf, which the checks of the C runtime's own printf do not describe.
#define VORNEX_PRINTF(formatArg, firstArg) \
  __attribute__((format(VORNEX_PRINTF_ARCHETYPE, formatArg, firstArg)))

// printf-style formatting into at most maxUnits UTF-16 units (the rest is cut off).
std::string FormatBounded(std::size_t maxUnits, const char* format, ...) VORNEX_PRINTF(2, 3);
std::string FormatBoundedV(std::size_t maxUnits, const char* format, std::va_list args);

// ASCII letter case helpers, the station's way of comparing switches, keys and section names.
std::string ToUpperAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);

// A text field of a fixed width of Units UTF-16 units including the terminator, as the
// station's records have them: it holds at most Units - 1 units and cuts longer text.
template <std::size_t Units>
class TFixedText {
 public:
  static constexpr std::size_t kCapacity = Units - 1;

  TFixedText() = default;
  TFixedText(std::string_view text) { Set(text); }  // NOLINT: used like the record's own buffer
  TFixedText& operator=(std::string_view text) {
    Set(text);
    return *this;
  }

  void Set(std::string_view text) { text_.assign(CutToUnits(text, kCapacity)); }
  // Appends as much of the text as still fits.
  void Append(std::string_view text) {
    std::string joined = text_;
    joined.append(text);
    Set(joined);
  }
  void Clear() { text_.clear(); }

  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }
  operator std::string_view() const { return text_; }  // NOLINT: reads like the text it holds

  friend bool operator==(const TFixedText& a, std::string_view b) { return a.text_ == b; }

 private:
  std::string text_;
};

}  // namespace vornex
