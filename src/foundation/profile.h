// Profile (INI) files, read and written with the rules the station has always relied on:
// section and key names compare without regard to letter case, blanks around keys and values
// are dropped, one pair of surrounding quotes is dropped, comment lines (starting with ';')
// are ignored, values are cut at 259 UTF-16 units, and an absent file, section or key reads
// as empty text. Writing a key creates the file and the section when needed and leaves every
// other line, comment and section exactly as it was. Files may be UTF-16 with a byte-order
// mark, UTF-8 (with or without a mark) or plain Windows-1252; a written file keeps its encoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vornex::profile {

// Values are read into a buffer of this many UTF-16 units, terminator included.
constexpr std::size_t kValueBufferUnits = 260;

// Files larger than this are read only up to this size; whatever lies beyond reads as absent.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

// The value of `key` in `section` of the file at `path`, as UTF-8; empty when the file,
// the section or the key is missing. `cut`, when given, says whether the value was longer than
// 259 units and was cut.
std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                       bool* cut = nullptr);

// Why the bytes of a file are no profile text (sections "[name]", "key=value" lines inside a
// section, comments starting with ';' or '#', blank lines, no control bytes), as "is not a
// profile file (...)"; empty when they are one.
std::string TextProblem(std::string_view bytes);

// Sets `key` in `section` to `value`; true when the file was written.
bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value);

// The station's switches: "ON" / "OFF" in any letter case.
bool IsOn(std::string_view value);
bool IsOff(std::string_view value);

}  // namespace vornex::profile
