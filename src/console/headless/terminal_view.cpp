// The headless station's terminal lines.
#include "console/headless/terminal_view.h"

#include "foundation/text.h"

namespace vornex {
namespace {

constexpr int kBarWidth = 30;
constexpr const char* kEllipsis = "\xE2\x80\xA6";  // "…" in UTF-8

// ANSI colour of a status, close to the window's colours.
const char* AnsiColor(TRgb color) {
  switch (color) {
    case 0x00A651:
      return "\x1b[32m";  // green: PASS
    case 0xFF0000:
      return "\x1b[31m";  // red: FAILED
    case 0x0000FF:
      return "\x1b[34m";  // blue: RUNNING
    case 0x00BFFF:
      return "\x1b[36m";  // sky blue: READY
    case 0xF7941D:
      return "\x1b[33m";  // orange: BUSY
    default:
      return "\x1b[90m";  // grey: EMPTY
  }
}

// The start of a UTF-8 character (any byte but a continuation byte).
bool StartsCharacter(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

}  // namespace

std::string FitToColumns(const std::string& line, int columns) {
  if (columns <= 1) return line;
  const auto fits = static_cast<std::size_t>(columns - 1);
  std::size_t characters = 0;
  std::size_t cut = 0;  // the end of the last character kept when the line is cut
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (!StartsCharacter(line[i])) continue;
    if (characters == fits - 1) cut = i;
    if (++characters > fits) return line.substr(0, cut) + kEllipsis;
  }
  return line;
}

TTerminalView::TTerminalView(std::ostream& out, bool liveRedraw, const TStationSettings& settings,
                             TTerminalColumns columns)
    : out_(out), liveRedraw_(liveRedraw), settings_(settings), columns_(std::move(columns)) {}

void TTerminalView::SetPortText(int slot, const std::string& text) {
  At(slot).port = text;
  dirty_ = true;
}

void TTerminalView::SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) {
  At(slot).state = state;
  At(slot).status = text;
  At(slot).statusColor = color;
  dirty_ = true;
}

void TTerminalView::SetResultText(int slot, const std::string& text, TRgb /*color*/) {
  At(slot).result = text;
  dirty_ = true;
}

void TTerminalView::SetResultReason(int slot, const std::string& reason) {
  std::string& shown = At(slot).reason;
  shown = reason;
  // One line each: a reason's own line ends would break the table.
  for (char& c : shown) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  dirty_ = true;
}

void TTerminalView::SetProgress(int slot, int value) {
  At(slot).progress = value;
  dirty_ = true;
}

void TTerminalView::SetSlotEnabled(int /*slot*/, bool /*enabled*/) {}
void TTerminalView::SetStartEnabled(bool /*enabled*/) {}

void TTerminalView::AppendLogText(const std::string& text) {
  if (lost_) return;
  std::string shown = text;
  if (!shown.empty() && shown.back() == '\n') shown.pop_back();
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  out_ << "  | " << shown << '\n';
  drawn_ = false;  // the log line went below the slot lines: draw them anew
}

void TTerminalView::ShowNotice(const std::string& text, const std::string& caption) {
  if (lost_) return;
  out_ << (caption.empty() ? text : caption + ": " + text) << '\n';
  drawn_ = false;
}

std::string TTerminalView::Line(int slot) const {
  const TRow& row = rows_.at(static_cast<std::size_t>(slot));
  const int filled = std::max(0, std::min(kBarWidth, row.progress * kBarWidth / 1000));
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(filled), '#')
      .append(static_cast<std::size_t>(kBarWidth - filled), '.')
      .append("]");
  std::string line = FormatBounded(200, "%c %-12s %s %-8s %s", 'A' + slot, row.port.c_str(),
                                   bar.c_str(), row.status.c_str(), row.result.c_str());
  if (!row.result.empty() && !row.reason.empty()) line += "  " + row.reason;
  return line;
}

void TTerminalView::Flush() {
  if (lost_) return;
  if (dirty_) Draw();
  out_.flush();
  if (out_.fail()) lost_ = true;
}

void TTerminalView::Draw() {
  dirty_ = false;
  if (liveRedraw_) {
    int shown = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) shown += settings_.enabled[slot] >= 1 ? 1 : 0;
    if (drawn_) out_ << "\x1b[" << shown << "F";  // back to the first slot line
    const int columns = columns_ ? columns_() : 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (settings_.enabled[static_cast<std::size_t>(slot)] < 1) continue;
      out_ << "\x1b[2K" << AnsiColor(At(slot).statusColor) << FitToColumns(Line(slot), columns)
           << "\x1b[0m\n";
    }
    drawn_ = true;
  } else {
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (settings_.enabled[static_cast<std::size_t>(slot)] < 1) continue;
      TRow& row = At(slot);
      // Without a terminal a line is printed when the status word's kind changes and at every
      // tenth of the progress, not at every step.
      const bool running = row.state == SlotState::kRunning;
      const std::string key =
          row.port + "|" +
          (running ? "RUNNING " + std::to_string(row.progress / 100) : row.status) + "|" +
          row.result + "|" + row.reason;
      if (key == row.printed) continue;
      row.printed = key;
      out_ << Line(slot) << '\n';
    }
  }
}

}  // namespace vornex
