// Profile (INI) files: reading one value and rewriting one key line in place.
//
// The text is read at the level of its code units (profile_text.h). A write splices newly
// encoded bytes between untouched byte ranges of the original, so every other line stays byte
// for byte as it was. A write replaces the whole file in one step (os::WriteFileAtomically).
#include "foundation/profile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "foundation/os_file.h"
#include "foundation/paths.h"
#include "foundation/profile_text.h"
#include "foundation/text.h"

namespace vornex::profile {
namespace {

using detail::DetectEncoding;
using detail::Encode;
using detail::kCr;
using detail::kLf;
using detail::LineEndText;
using detail::Scan;
using detail::TEncoding;
using detail::TLayout;
using detail::TLineEnd;
using detail::TrimBlanks;
using detail::TUnits;
using detail::ValueOf;

namespace fs = std::filesystem;

enum class TLoadStatus { kAbsent, kOk, kFailed, kTooBig };

fs::path ToPath(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// The file's bytes (at most `limit`, or kTooBig when it is larger).
TLoadStatus LoadFile(const fs::path& path, std::size_t limit, std::string& bytes, bool& truncated) {
  bytes.clear();
  truncated = false;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return TLoadStatus::kAbsent;
  // Directories, pipes, devices: nothing to read (and nothing to block on).
  if (ec || status.type() != fs::file_type::regular) return TLoadStatus::kFailed;

  std::ifstream in(path, std::ios::binary);
  if (!in) return TLoadStatus::kFailed;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, limit)));

  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  std::string chunk(kChunk, '\0');
  while (bytes.size() < limit) {
    const std::size_t want = std::min(kChunk, limit - bytes.size());
    in.read(chunk.data(), static_cast<std::streamsize>(want));
    const std::streamsize got = in.gcount();
    if (got > 0) bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (in.eof()) return TLoadStatus::kOk;
    if (!in) return TLoadStatus::kFailed;
  }
  // Exactly `limit` bytes read: anything left means the file is larger.
  if (in.peek() == std::ifstream::traits_type::eof())
    return in.bad() ? TLoadStatus::kFailed : TLoadStatus::kOk;
  truncated = true;
  return TLoadStatus::kTooBig;
}

// A name that can be written and read back as the same name.
bool IsWritableName(std::string_view name, std::string_view forbidden) {
  if (name.empty()) return false;
  return name.find_first_of(forbidden) == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace

std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                       bool* cut) {
  if (cut != nullptr) *cut = false;
  if (section.empty() || key.empty()) return {};
  std::string bytes;
  bool truncated = false;
  const TLoadStatus status = LoadFile(ToPath(path), kMaxFileBytes, bytes, truncated);
  if (status != TLoadStatus::kOk && status != TLoadStatus::kTooBig) return {};

  std::size_t bomSize = 0;
  TEncoding encoding = DetectEncoding(bytes, bomSize);
  std::string_view body = std::string_view(bytes).substr(bomSize);
  if (truncated) {
    // The line cut by the size limit lies partly beyond it: drop it.
    const TUnits units(body, encoding);
    std::size_t end = units.size();
    while (end > 0 && units[end - 1] != kCr && units[end - 1] != kLf) --end;
    body = body.substr(0, units.ByteOffset(end));
    if (encoding == TEncoding::kAnsi && IsValidUtf8(body)) encoding = TEncoding::kUtf8;
  }

  const TUnits units(body, encoding);
  const TLayout layout = Scan(units, TrimBlanks(section), TrimBlanks(key));
  if (!layout.keyFound) return {};
  return ValueOf(units, layout, cut);
}

bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  if (!IsWritableName(section, "[]\r\n") || !IsWritableName(key, "=\r\n") || key[0] == ';' ||
      key[0] == '[' || value.find_first_of("\r\n") != std::string_view::npos ||
      value.find('\0') != std::string_view::npos) {
    return false;
  }

  fs::path target = ToPath(path);
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    // Write through a link to the file it names rather than replacing the link.
    fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = std::move(resolved);
  }

  std::string bytes;
  bool truncated = false;
  const TLoadStatus status = LoadFile(target, kMaxFileBytes, bytes, truncated);
  // A file that cannot be read completely is never rewritten from what could be read.
  if (status == TLoadStatus::kFailed || status == TLoadStatus::kTooBig) return false;
  const bool exists = status == TLoadStatus::kOk;
  if (exists) {
    // The original must be writable, as it would have to be for an in-place write.
    std::ofstream probe(target, std::ios::binary | std::ios::app);
    if (!probe) return false;
  }

  std::size_t bomSize = 0;
  const TEncoding encoding = exists ? DetectEncoding(bytes, bomSize) : TEncoding::kUtf8;
  const std::string_view body = std::string_view(bytes).substr(bomSize);
  const TUnits units(body, encoding);
  const TLayout layout = Scan(units, section, key);
  const TLineEnd newLineEnd =
      layout.firstLineEnd == TLineEnd::kNone ? TLineEnd::kCrLf : layout.firstLineEnd;
  const std::string keyValue = std::string(key) + "=" + std::string(value);

  // The new file: head + inserted text + tail, with head and tail taken from the original.
  std::size_t spliceBegin = 0;  // unit offsets of the replaced part of the body
  std::size_t spliceEnd = 0;
  std::string inserted;  // UTF-8
  if (layout.keyFound) {
    // Keep the line's indentation and the key's own spelling; replace from the name's end.
    spliceBegin = layout.keyEnd;
    spliceEnd = layout.keyLine.contentEnd;
    inserted.assign(1, '=').append(value);
  } else if (layout.sectionFound) {
    spliceBegin = spliceEnd = layout.insertAt;
    if (layout.insertLineEnd == TLineEnd::kNone) {
      // The section's last line is the file's last line and has no line end.
      inserted = std::string(LineEndText(newLineEnd)) + keyValue + LineEndText(newLineEnd);
    } else {
      inserted = keyValue + LineEndText(layout.insertLineEnd);
    }
  } else {
    spliceBegin = spliceEnd = units.size();
    const char* eol = LineEndText(newLineEnd);
    if (units.size() > 0) {
      if (layout.lastLineEnd == TLineEnd::kNone) inserted += eol;
      if (!layout.lastLineBlank) inserted += eol;  // a blank line before the new section
    }
    inserted.append("[").append(section).append("]").append(eol).append(keyValue).append(eol);
  }

  std::string out;
  const std::size_t headBytes = bomSize + units.ByteOffset(spliceBegin);
  const std::size_t tailBytes = bomSize + units.ByteOffset(spliceEnd);
  out.reserve(bytes.size() + inserted.size() * 2);
  out.append(bytes, 0, headBytes);
  out.append(Encode(encoding, inserted));
  out.append(bytes, tailBytes, std::string::npos);
  return os::WriteFileAtomically(paths::Utf8Path(target), out).Done();
}

bool IsOn(std::string_view value) {
  return EqualsNoCase(value, "ON");
}

bool IsOff(std::string_view value) {
  return EqualsNoCase(value, "OFF");
}

}  // namespace vornex::profile
