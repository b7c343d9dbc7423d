// UTF-8 / UTF-16 / Windows-1252 conversion and bounded formatting.
#include "foundation/text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace vornex {
namespace {

// Decodes one UTF-8 character at text[pos]. Returns its length in bytes (0 for an invalid
// start or sequence) and stores the code point.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t* cp) {
  const auto b0 = static_cast<unsigned char>(text[pos]);
  std::size_t len = 0;
  char32_t value = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, value = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, value = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, value = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > text.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(text[pos + i]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(utf8, pos, &cp);
    units += (len == 4) ? 2 : 1;
    pos += len ? len : 1;
  }
  return units;
}

std::string_view CutToUnits(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(utf8, pos, &cp);
    const std::size_t need = (len == 4) ? 2 : 1;
    if (units + need > maxUnits) break;
    units += need;
    pos += len ? len : 1;
  }
  return utf8.substr(0, pos);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeUtf8(utf8, pos, &cp);
    if (len == 0) {
      cp = 0xFFFD;
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    pos += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (const char c : ansi) {
    const auto b = static_cast<unsigned char>(c);
    char32_t cp = b;
    if (b >= 0x80 && b <= 0x9F) cp = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD;
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    std::size_t len = DecodeUtf8(utf8, pos, &cp);
    if (len == 0) {
      cp = '?';
      len = 1;
    }
    pos += len;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const auto* hit = std::find(kCp1252High.begin(), kCp1252High.end(), static_cast<char16_t>(cp));
    out.push_back(cp <= 0xFFFF && hit != kCp1252High.end()
                      ? static_cast<char>(0x80 + (hit - kCp1252High.begin()))
                      : '?');
  }
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(bytes, pos, &cp);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

bool IsUnprintable(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string PrintableText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp = 0;
    const std::size_t len = DecodeUtf8(utf8, pos, &cp);
    if (len == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++pos;
      continue;
    }
    if (cp == '\t') {
      out += ' ';
    } else if (IsUnprintable(cp)) {
      out += '?';
    } else {
      out.append(utf8.substr(pos, len));
    }
    pos += len;
  }
  return out;
}

std::string FormatBoundedV(std::size_t maxUnits, const char* format, std::va_list args) {
  if (format == nullptr) return {};
  std::array<char, 1024> small{};
  std::va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small.data(), small.size(), format, copy);
  va_end(copy);
  if (needed < 0) return {};
  std::string text;
  if (static_cast<std::size_t>(needed) < small.size()) {
    text.assign(small.data(), static_cast<std::size_t>(needed));
  } else {
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    text.assign(big.data(), static_cast<std::size_t>(needed));
  }
  text.resize(CutToUnits(text, maxUnits).size());
  return text;
}

std::string FormatBounded(std::size_t maxUnits, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatBoundedV(maxUnits, format, args);
  va_end(args);
  return text;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToUpperAscii(a) == ToUpperAscii(b);
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  return ToUpperAscii(haystack).find(ToUpperAscii(needle)) != std::string::npos;
}

}  // namespace vornex
