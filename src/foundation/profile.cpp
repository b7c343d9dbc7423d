// Profile (INI) files: reading one value and rewriting one key line in place.
//
// The file is never converted as a whole. It is split into lines at the level of its code
// units (bytes for UTF-8 and Windows-1252, 16-bit units for UTF-16), where CR, LF, blanks,
// ';', '[', ']', '=' and quotes are the same unit in every encoding and never occur inside a
// multi-unit character. Only the names and the value that a lookup needs are decoded, and a
// write splices newly encoded bytes between untouched byte ranges of the original, so every
// other line stays byte for byte as it was. A write goes to a temporary file in the same
// folder that then replaces the original.
#include "foundation/profile.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "foundation/text.h"

namespace vornex::profile {
namespace {

namespace fs = std::filesystem;

enum class Encoding { kUtf8, kUtf8Bom, kAnsi, kUtf16Le, kUtf16Be };

enum class LoadStatus { kAbsent, kOk, kFailed, kTooBig };

enum class LineEnd { kNone, kCrLf, kLf, kCr };

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// A value longer than this many code units cannot survive the 259-unit cut in any encoding
// (one UTF-16 unit needs at most four code units), so only this much of a value is decoded.
constexpr std::size_t kValueDecodeUnits = 4 * kValueBufferUnits + 4;

fs::path ToPath(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

bool IsBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The file's text after its byte-order mark, addressed in code units.
class Units {
 public:
  Units(std::string_view body, Encoding encoding)
      : body_(body),
        wide_(encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be),
        bigEndian_(encoding == Encoding::kUtf16Be),
        ansi_(encoding == Encoding::kAnsi) {}

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
struct Line {
  std::size_t begin = 0;
  std::size_t contentEnd = 0;
  std::size_t end = 0;
};

// The line that starts at `pos`; false at the end of the text. CR LF, LF and a lone CR end
// a line; the last line may have no line end.
bool NextLine(const Units& units, std::size_t& pos, Line& line) {
  const std::size_t size = units.size();
  if (pos >= size) return false;
  line.begin = pos;
  std::size_t i = pos;
  while (i < size && units[i] != kCr && units[i] != kLf) ++i;
  line.contentEnd = i;
  if (i < size) {
    if (units[i] == kCr && i + 1 < size && units[i + 1] == kLf) {
      i += 2;
    } else {
      i += 1;
    }
  }
  line.end = i;
  pos = i;
  return true;
}

LineEnd LineEndOf(const Units& units, const Line& line) {
  const std::size_t n = line.end - line.contentEnd;
  if (n == 0) return LineEnd::kNone;
  if (n == 2) return LineEnd::kCrLf;
  return units[line.contentEnd] == kCr ? LineEnd::kCr : LineEnd::kLf;
}

const char* LineEndText(LineEnd end) {
  switch (end) {
    case LineEnd::kLf:
      return "\n";
    case LineEnd::kCr:
      return "\r";
    default:
      return "\r\n";
  }
}

// True when the units [begin, end) spell `name` (ASCII letter case ignored).
bool NameMatches(const Units& units, std::size_t begin, std::size_t end, std::string_view name) {
  // Every code unit decodes to at least one UTF-8 byte: longer ranges cannot match, and huge
  // junk lines are never decoded for a comparison.
  if (end - begin > name.size()) return false;
  return EqualsNoCase(units.Decode(begin, end), name);
}

// Where the section and the key are in the file, as far as a read or a write needs to know.
struct Layout {
  bool sectionFound = false;
  bool keyFound = false;
  Line keyLine;
  std::size_t keyEnd = 0;  // end of the key's name (blanks before '=' excluded)
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
  // Insertion point for a new key: the end of the section's last non-blank line.
  std::size_t insertAt = 0;
  LineEnd insertLineEnd = LineEnd::kNone;
  // Whole-file facts, complete when the section was not found (the scan then saw every line).
  LineEnd firstLineEnd = LineEnd::kNone;
  LineEnd lastLineEnd = LineEnd::kNone;
  bool lastLineBlank = true;
};

Layout Scan(const Units& units, std::string_view section, std::string_view key) {
  Layout layout;
  bool inSection = false;
  std::size_t pos = 0;
  Line line;
  while (NextLine(units, pos, line)) {
    const LineEnd lineEnd = LineEndOf(units, line);
    if (layout.firstLineEnd == LineEnd::kNone) layout.firstLineEnd = lineEnd;
    layout.lastLineEnd = lineEnd;

    std::size_t b = line.begin;
    std::size_t e = line.contentEnd;
    while (b < e && IsBlank(units[b])) ++b;
    while (e > b && IsBlank(units[e - 1])) --e;
    layout.lastLineBlank = (b == e);
    if (b == e) continue;

    const char16_t first = units[b];
    if (first == u'[') {
      std::size_t close = b + 1;
      while (close < e && units[close] != u']') ++close;
      if (close < e) {
        if (inSection) break;  // the first matching section ends here
        std::size_t nb = b + 1;
        std::size_t ne = close;
        while (nb < ne && IsBlank(units[nb])) ++nb;
        while (ne > nb && IsBlank(units[ne - 1])) --ne;
        if (!layout.sectionFound && NameMatches(units, nb, ne, section)) {
          layout.sectionFound = true;
          inSection = true;
          layout.insertAt = line.end;
          layout.insertLineEnd = lineEnd;
        }
        continue;
      }
      // '[' without ']': neither a section nor a key, but a line of the section.
    }
    if (!inSection) continue;
    layout.insertAt = line.end;
    layout.insertLineEnd = lineEnd;
    if (first == u';' || first == u'[') continue;

    std::size_t eq = b;
    while (eq < e && units[eq] != u'=') ++eq;
    if (eq == e) continue;  // no '=': not a key
    std::size_t ke = eq;
    while (ke > b && IsBlank(units[ke - 1])) --ke;
    if (!NameMatches(units, b, ke, key)) continue;

    std::size_t vb = eq + 1;
    while (vb < e && IsBlank(units[vb])) ++vb;
    layout.keyFound = true;
    layout.keyLine = line;
    layout.keyEnd = ke;
    layout.valueBegin = vb;
    layout.valueEnd = e;
    break;
  }
  return layout;
}

// The value as the station reads it: one pair of surrounding quotes dropped, ended at an
// embedded NUL (as a C string buffer would be), cut at 259 UTF-16 units (`cut` says whether it
// was).
std::string ValueOf(const Units& units, const Layout& layout, bool* cut) {
  std::size_t b = layout.valueBegin;
  std::size_t e = layout.valueEnd;
  if (e - b >= 2) {
    const char16_t q = units[b];
    if ((q == u'"' || q == u'\'') && units[e - 1] == q) {
      ++b;
      --e;
    }
  }
  std::string value = units.Decode(b, std::min(e, b + kValueDecodeUnits));
  const std::size_t nul = value.find('\0');
  if (nul != std::string::npos) value.resize(nul);
  const std::size_t kept = CutToUnits(value, kValueBufferUnits - 1).size();
  if (cut != nullptr) *cut = kept < value.size();
  value.resize(kept);
  return value;
}

// The file's bytes (at most `limit`, or kTooBig when it is larger).
LoadStatus LoadFile(const fs::path& path, std::size_t limit, std::string& bytes, bool& truncated) {
  bytes.clear();
  truncated = false;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return LoadStatus::kAbsent;
  // Directories, pipes, devices: nothing to read (and nothing to block on).
  if (ec || status.type() != fs::file_type::regular) return LoadStatus::kFailed;

  std::ifstream in(path, std::ios::binary);
  if (!in) return LoadStatus::kFailed;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(size, limit)));

  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  std::string chunk(kChunk, '\0');
  while (bytes.size() < limit) {
    const std::size_t want = std::min(kChunk, limit - bytes.size());
    in.read(chunk.data(), static_cast<std::streamsize>(want));
    const std::streamsize got = in.gcount();
    if (got > 0) bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (in.eof()) return LoadStatus::kOk;
    if (!in) return LoadStatus::kFailed;
  }
  // Exactly `limit` bytes read: anything left means the file is larger.
  if (in.peek() == std::ifstream::traits_type::eof())
    return in.bad() ? LoadStatus::kFailed : LoadStatus::kOk;
  truncated = true;
  return LoadStatus::kTooBig;
}

Encoding DetectEncoding(std::string_view bytes, std::size_t& bomSize) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bomSize = 0;
  if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    bomSize = 2;
    return Encoding::kUtf16Le;
  }
  if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
    bomSize = 2;
    return Encoding::kUtf16Be;
  }
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    bomSize = 3;
    return Encoding::kUtf8Bom;
  }
  return IsValidUtf8(bytes) ? Encoding::kUtf8 : Encoding::kAnsi;
}

// Text of the program (UTF-8) as bytes of the file's encoding.
std::string Encode(Encoding encoding, std::string_view utf8) {
  switch (encoding) {
    case Encoding::kAnsi:
      return Utf8ToAnsi(utf8);
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      std::string out;
      for (const char16_t unit : Utf8ToUtf16(utf8)) {
        const char hi = static_cast<char>(unit >> 8);
        const char lo = static_cast<char>(unit & 0xFF);
        out.push_back(encoding == Encoding::kUtf16Le ? lo : hi);
        out.push_back(encoding == Encoding::kUtf16Le ? hi : lo);
      }
      return out;
    }
    default:
      // Ill-formed UTF-8 would turn the whole file into Windows-1252 on the next read.
      return IsValidUtf8(utf8) ? std::string(utf8) : Utf16ToUtf8(Utf8ToUtf16(utf8));
  }
}

// A name that can be written and read back as the same name.
bool IsWritableName(std::string_view name, std::string_view forbidden) {
  if (name.empty()) return false;
  return name.find_first_of(forbidden) == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// Writes `bytes` to a new file beside `target` and renames it over `target`.
bool ReplaceFile(const fs::path& target, std::string_view bytes, bool keepPermissions) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t salt = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();

  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  fs::path temp;
  for (int attempt = 0;; ++attempt) {
    if (attempt == 16) return false;
    const std::uint64_t tag = salt + 0x9E3779B97F4A7C15ULL * ++counter;
    temp = folder / (target.filename().native() + fs::path(".tmp" + std::to_string(tag)).native());
    if (!fs::exists(temp, ec) && !ec) break;
  }

  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temp, ec);
      return false;
    }
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      return false;
    }
  }
  if (keepPermissions) {
    const fs::file_status status = fs::status(target, ec);
    if (!ec) fs::permissions(temp, status.permissions(), ec);
  }
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return false;
  }
  return true;
}

}  // namespace

std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                       bool* cut) {
  if (cut != nullptr) *cut = false;
  if (section.empty() || key.empty()) return {};
  std::string bytes;
  bool truncated = false;
  const LoadStatus status = LoadFile(ToPath(path), kMaxFileBytes, bytes, truncated);
  if (status != LoadStatus::kOk && status != LoadStatus::kTooBig) return {};

  std::size_t bomSize = 0;
  Encoding encoding = DetectEncoding(bytes, bomSize);
  std::string_view body = std::string_view(bytes).substr(bomSize);
  if (truncated) {
    // The line cut by the size limit lies partly beyond it: drop it.
    const Units units(body, encoding);
    std::size_t end = units.size();
    while (end > 0 && units[end - 1] != kCr && units[end - 1] != kLf) --end;
    body = body.substr(0, units.ByteOffset(end));
    if (encoding == Encoding::kAnsi && IsValidUtf8(body)) encoding = Encoding::kUtf8;
  }

  const Units units(body, encoding);
  const Layout layout = Scan(units, TrimBlanks(section), TrimBlanks(key));
  if (!layout.keyFound) return {};
  return ValueOf(units, layout, cut);
}

std::string TextProblem(std::string_view bytes) {
  std::size_t bomSize = 0;
  const Encoding encoding = DetectEncoding(bytes, bomSize);
  const std::string_view body = bytes.substr(bomSize);
  const bool wide = encoding == Encoding::kUtf16Le || encoding == Encoding::kUtf16Be;
  if (wide && body.size() % 2 != 0) return "is not a profile file (UTF-16 text of odd length)";

  const Units units(body, encoding);
  bool inSection = false;
  std::size_t number = 0;
  std::size_t pos = 0;
  for (Line line; NextLine(units, pos, line);) {
    ++number;
    std::size_t first = line.contentEnd;
    std::size_t last = line.begin;  // one past the last non-blank unit
    for (std::size_t i = line.begin; i < line.contentEnd; ++i) {
      const char16_t unit = units[i];
      if ((unit < 0x20 && unit != u'\t') || unit == 0x7F) {
        return FormatBounded(96, "is not a profile file (control byte 0x%02X on line %zu)",
                             static_cast<unsigned>(unit), number);
      }
      if (IsBlank(unit)) continue;
      first = std::min(first, i);
      last = i + 1;
    }
    if (first >= last) continue;  // a blank line
    const char16_t lead = units[first];
    if (lead == u';' || lead == u'#') continue;
    bool closed = false;
    std::size_t equals = last;  // the first '='
    for (std::size_t i = first; i < last; ++i) {
      closed = closed || units[i] == u']';
      if (units[i] == u'=' && equals == last) equals = i;
    }
    if (lead == u'[') {
      if (!closed) {
        return FormatBounded(96, "is not a profile file (line %zu: unclosed section name)", number);
      }
      inSection = true;
    } else if (equals == last || equals == first) {  // no '=', or no key before it
      return FormatBounded(96, "is not a profile file (line %zu is no section, key or comment)",
                           number);
    } else if (!inSection) {
      return FormatBounded(96, "is not a profile file (line %zu: key outside a section)", number);
    }
  }
  return {};
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
  const LoadStatus status = LoadFile(target, kMaxFileBytes, bytes, truncated);
  // A file that cannot be read completely is never rewritten from what could be read.
  if (status == LoadStatus::kFailed || status == LoadStatus::kTooBig) return false;
  const bool exists = status == LoadStatus::kOk;
  if (exists) {
    // The original must be writable, as it would have to be for an in-place write.
    std::ofstream probe(target, std::ios::binary | std::ios::app);
    if (!probe) return false;
  }

  std::size_t bomSize = 0;
  const Encoding encoding = exists ? DetectEncoding(bytes, bomSize) : Encoding::kUtf8;
  const std::string_view body = std::string_view(bytes).substr(bomSize);
  const Units units(body, encoding);
  const Layout layout = Scan(units, section, key);
  const LineEnd newLineEnd =
      layout.firstLineEnd == LineEnd::kNone ? LineEnd::kCrLf : layout.firstLineEnd;
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
    if (layout.insertLineEnd == LineEnd::kNone) {
      // The section's last line is the file's last line and has no line end.
      inserted = std::string(LineEndText(newLineEnd)) + keyValue + LineEndText(newLineEnd);
    } else {
      inserted = keyValue + LineEndText(layout.insertLineEnd);
    }
  } else {
    spliceBegin = spliceEnd = units.size();
    const char* eol = LineEndText(newLineEnd);
    if (units.size() > 0) {
      if (layout.lastLineEnd == LineEnd::kNone) inserted += eol;
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
  return ReplaceFile(target, out, exists);
}

bool IsOn(std::string_view value) {
  return EqualsNoCase(value, "ON");
}

bool IsOff(std::string_view value) {
  return EqualsNoCase(value, "OFF");
}

}  // namespace vornex::profile
