// The notes of a port listing (what it refused or found in the way), and names and values as
// they appear in them: short and on one line, whatever a file name, a record or a sysfs tree
// holds.
//
// A note is typed: whoever decides something about it (the system check, which leaves out what
// its port lines already tell) goes by its kind and COM number; whoever shows it shows its text,
// worded here for the kinds that have one wording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// What a note is about.
enum class TNoteKind : std::uint8_t {
  kRefused,   // a record, value or port the listing refused, or a step of it that failed
  kClaimed,   // one COM number claimed by more than one port: none of them listed
  kWithheld,  // a port left out with its device, since other ports of that device are in doubt
  kHeld,      // another program holds the port open
  kDenied,    // this user may not open the port
  kNotShown,  // counts the notes beyond the last one handed on
};

// One note: its kind, the COM number it is about (0 when none) and its text for the operator,
// one short line.
struct TDiscoveryNote {
  TNoteKind kind = TNoteKind::kRefused;
  std::int32_t com = 0;
  std::string text;

  bool operator==(const TDiscoveryNote&) const = default;
};

// "COM5 held by ModemManager (pid 812)".
inline TDiscoveryNote HeldNote(std::int32_t com, std::string_view holders) {
  return {TNoteKind::kHeld, com, "COM" + std::to_string(com) + " held by " + std::string(holders)};
}

// "COM6 may not be opened by this user: /dev/ttyUSB3".
inline TDiscoveryNote DeniedNote(std::int32_t com, std::string_view tty) {
  return {TNoteKind::kDenied, com,
          "COM" + std::to_string(com) + " may not be opened by this user: " + NoteText(tty)};
}

// "COM13 withheld with its device <5A3F0C21>".
inline TDiscoveryNote WithheldNote(std::int32_t com, std::string_view key) {
  return {TNoteKind::kWithheld, com,
          "COM" + std::to_string(com) + " withheld with its device <" + std::string(key) + ">"};
}

// "3 more problems not shown".
inline TDiscoveryNote NotShownNote(std::size_t more) {
  return {TNoteKind::kNotShown, 0, std::to_string(more) + " more problems not shown"};
}

// A refusal in the words of whoever refused, about COM `com` (0 when it names none).
inline TDiscoveryNote RefusedNote(std::string text, std::int32_t com = 0) {
  return {TNoteKind::kRefused, com, std::move(text)};
}

}  // namespace vornex
