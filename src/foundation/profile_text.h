// The text of a profile file as profile.cpp reads and rewrites it: its encoding, its code units,
// its lines, and where a section and a key lie in it. Nothing here touches a file.
//
// The file is never converted as a whole. It is split into lines at the level of its code
// units (bytes for UTF-8 and Windows-1252, 16-bit units for UTF-16), where CR, LF, blanks,
// ';', '[', ']', '=' and quotes are the same unit in every encoding and never occur inside a
// multi-unit character. Only the names and the value that a lookup needs are decoded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/text.h"

namespace vornex::profile::detail {

enum class TEncoding { kUtf8, kUtf8Bom, kAnsi, kUtf16Le, kUtf16Be };

enum class TLineEnd { kNone, kCrLf, kLf, kCr };

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// `text` without the blanks (spaces and tabs) at its start and end.
std::string_view TrimBlanks(std::string_view text);

// The file's text after its byte-order mark, addressed in code units.
class TUnits {
 public:
  TUnits(std::string_view body, TEncoding encoding)
      : body_(body),
        wide_(encoding == TEncoding::kUtf16Le || encoding == TEncoding::kUtf16Be),
        bigEndian_(encoding == TEncoding::kUtf16Be),
        ansi_(encoding == TEncoding::kAnsi) {}

  // A trailing odd byte of a UTF-16 file is no unit; it stays in the file untouched.
  std::size_t size() const { return wide_ ? body_.size() / 2 : body_.size(); }
  std::size_t ByteOffset(std::size_t unit) const { return wide_ ? unit * 2 : unit; }

  char16_t operator[](std::size_t i) const {
    if (!wide_) return static_cast<unsigned char>(body_[i]);
    const auto a = static_cast<unsigned char>(body_[2 * i]);
    const auto b = static_cast<unsigned char>(body_[2 * i + 1]);
    return static_cast<char16_t>(bigEndian_ ? (a << 8) | b : (b << 8) | a);
  }

  // Units [begin, end) as UTF-8.
  std::string Decode(std::size_t begin, std::size_t end) const {
    if (!wide_) {
      const std::string_view bytes = body_.substr(begin, end - begin);
      return ansi_ ? AnsiToUtf8(bytes) : std::string(bytes);
    }
    std::u16string text;
    text.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) text.push_back((*this)[i]);
    return Utf16ToUtf8(text);
  }

 private:
  std::string_view body_;
  bool wide_;
  bool bigEndian_;
  bool ansi_;
};

// One line: content [begin, contentEnd), line end [contentEnd, end).
struct TLine {
  std::size_t begin = 0;
  std::size_t contentEnd = 0;
  std::size_t end = 0;
};

// Where the section and the key are in the file, as far as a read or a write needs to know.
struct TLayout {
  bool sectionFound = false;
  bool keyFound = false;
  TLine keyLine;
  std::size_t keyEnd = 0;  // end of the key's name (blanks before '=' excluded)
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
  // Insertion point for a new key: the end of the section's last non-blank line.
  std::size_t insertAt = 0;
  TLineEnd insertLineEnd = TLineEnd::kNone;
  // Whole-file facts, complete when the section was not found (the scan then saw every line).
  TLineEnd firstLineEnd = TLineEnd::kNone;
  TLineEnd lastLineEnd = TLineEnd::kNone;
  bool lastLineBlank = true;
};

// The layout of `section` and `key` (names as given, compared without regard to letter case).
TLayout Scan(const TUnits& units, std::string_view section, std::string_view key);

// The value as the station reads it: one pair of surrounding quotes dropped, ended at an
// embedded NUL (as a C string buffer would be), cut at 259 UTF-16 units (`cut` says whether it
// was).
std::string ValueOf(const TUnits& units, const TLayout& layout, bool* cut);

// The encoding of a file's bytes, and the size of its byte-order mark.
TEncoding DetectEncoding(std::string_view bytes, std::size_t& bomSize);

// Text of the program (UTF-8) as bytes of the file's encoding.
std::string Encode(TEncoding encoding, std::string_view utf8);

// The bytes that end a line like `end` (CR LF for kNone and kCrLf).
const char* LineEndText(TLineEnd end);

}  // namespace vornex::profile::detail
