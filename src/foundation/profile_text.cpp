// The text of a profile file: its encodings, lines and layout, and the check that bytes are a
// profile text at all.
#include "foundation/profile_text.h"

#include <algorithm>

#include "foundation/profile.h"

namespace vornex::profile {
namespace detail {
namespace {

// A value longer than this many code units cannot survive the 259-unit cut in any encoding
// (one UTF-16 unit needs at most four code units), so only this much of a value is decoded.
constexpr std::size_t kValueDecodeUnits = 4 * kValueBufferUnits + 4;

bool IsBlank(char16_t unit) {
  return unit == u' ' || unit == u'\t';
}

// The line that starts at `pos`; false at the end of the text. CR LF, LF and a lone CR end
// a line; the last line may have no line end.
bool NextLine(const TUnits& units, std::size_t& pos, TLine& line) {
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

TLineEnd LineEndOf(const TUnits& units, const TLine& line) {
  const std::size_t n = line.end - line.contentEnd;
  if (n == 0) return TLineEnd::kNone;
  if (n == 2) return TLineEnd::kCrLf;
  return units[line.contentEnd] == kCr ? TLineEnd::kCr : TLineEnd::kLf;
}

// True when the units [begin, end) spell `name` (ASCII letter case ignored).
bool NameMatches(const TUnits& units, std::size_t begin, std::size_t end, std::string_view name) {
  // Every code unit decodes to at least one UTF-8 byte: longer ranges cannot match, and huge
  // junk lines are never decoded for a comparison.
  if (end - begin > name.size()) return false;
  return EqualsNoCase(units.Decode(begin, end), name);
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

const char* LineEndText(TLineEnd end) {
  switch (end) {
    case TLineEnd::kLf:
      return "\n";
    case TLineEnd::kCr:
      return "\r";
    default:
      return "\r\n";
  }
}

TLayout Scan(const TUnits& units, std::string_view section, std::string_view key) {
  TLayout layout;
  bool inSection = false;
  std::size_t pos = 0;
  TLine line;
  while (NextLine(units, pos, line)) {
    const TLineEnd lineEnd = LineEndOf(units, line);
    if (layout.firstLineEnd == TLineEnd::kNone) layout.firstLineEnd = lineEnd;
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

std::string ValueOf(const TUnits& units, const TLayout& layout, bool* cut) {
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

TEncoding DetectEncoding(std::string_view bytes, std::size_t& bomSize) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  bomSize = 0;
  if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) {
    bomSize = 2;
    return TEncoding::kUtf16Le;
  }
  if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF) {
    bomSize = 2;
    return TEncoding::kUtf16Be;
  }
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    bomSize = 3;
    return TEncoding::kUtf8Bom;
  }
  return IsValidUtf8(bytes) ? TEncoding::kUtf8 : TEncoding::kAnsi;
}

std::string Encode(TEncoding encoding, std::string_view utf8) {
  switch (encoding) {
    case TEncoding::kAnsi:
      return Utf8ToAnsi(utf8);
    case TEncoding::kUtf16Le:
    case TEncoding::kUtf16Be: {
      std::string out;
      for (const char16_t unit : Utf8ToUtf16(utf8)) {
        const char hi = static_cast<char>(unit >> 8);
        const char lo = static_cast<char>(unit & 0xFF);
        out.push_back(encoding == TEncoding::kUtf16Le ? lo : hi);
        out.push_back(encoding == TEncoding::kUtf16Le ? hi : lo);
      }
      return out;
    }
    default:
      // Ill-formed UTF-8 would turn the whole file into Windows-1252 on the next read.
      return IsValidUtf8(utf8) ? std::string(utf8) : Utf16ToUtf8(Utf8ToUtf16(utf8));
  }
}

}  // namespace detail

namespace {

using detail::DetectEncoding;
using detail::IsBlank;
using detail::NextLine;
using detail::TEncoding;
using detail::TLine;
using detail::TUnits;

}  // namespace

std::string TextProblem(std::string_view bytes) {
  std::size_t bomSize = 0;
  const TEncoding encoding = DetectEncoding(bytes, bomSize);
  const std::string_view body = bytes.substr(bomSize);
  const bool wide = encoding == TEncoding::kUtf16Le || encoding == TEncoding::kUtf16Be;
  if (wide && body.size() % 2 != 0) return "is not a profile file (UTF-16 text of odd length)";

  const TUnits units(body, encoding);
  bool inSection = false;
  std::size_t number = 0;
  std::size_t pos = 0;
  for (TLine line; NextLine(units, pos, line);) {
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

}  // namespace vornex::profile
