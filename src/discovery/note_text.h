// Names and values as they appear in discovery notes: short and on one line, whatever a file
// name, a record or a sysfs tree holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vornex {

constexpr std::size_t kNoteTextHead = 32;
constexpr std::size_t kNoteTextTail = 48;

// `text` with control characters read as '?'; a text longer than head + tail bytes keeps its
// first and last bytes around "..." (a path keeps its file name), cut between characters.
inline std::string NoteText(std::string_view text) {
  const auto continuation = [&](std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  };
  std::string shown;
  if (text.size() <= kNoteTextHead + kNoteTextTail) {
    shown = text;
  } else {
    std::size_t head = kNoteTextHead;
    while (head > 0 && continuation(head)) --head;
    std::size_t tail = text.size() - kNoteTextTail;
    while (continuation(tail)) ++tail;
    shown.append(text.substr(0, head)).append("...").append(text.substr(tail));
  }
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

}  // namespace vornex
