// The headless station's screen: one line per slot in use (letter, port, progress bar, status
// word, result and, after FAILED, why), redrawn in place on a terminal, or printed as a new line
// whenever a slot's status or result changes, and at every tenth of its progress, when the
// output is not a terminal. A line redrawn in place is cut to the terminal's width, ending in
// "…", when it would wrap (a wrapped line would break the redraw); printed lines are whole. Log
// pane text (debug mode) is printed as it comes.
//
// Output that fails (the terminal was closed, the reader of a pipe quit) is given up for good:
// nothing more is written to it, and OutputLost tells the front-end, which stops the run safely.
#pragma once

#include <array>
#include <functional>
#include <ostream>
#include <string>

#include "console/console_view.h"
#include "foundation/settings.h"

namespace vornex {

// The width of the terminal in columns, asked at every redraw; 0 or less when it is not known.
using TTerminalColumns = std::function<int()>;

// A slot line as it fits a terminal of that many columns: whole when it fits in one column less
// (a console may move to the next line once its last column is written), else cut there, its
// last character replaced by "…". A width of 0 or less keeps the line whole. Characters are
// counted as one column each.
std::string FitToColumns(const std::string& line, int columns);

class TTerminalView : public TConsoleView {
 public:
  TTerminalView(std::ostream& out, bool liveRedraw, const TStationSettings& settings,
                TTerminalColumns columns = {});

  void SetPortText(int slot, const std::string& text) override;
  void SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) override;
  void SetResultText(int slot, const std::string& text, TRgb color) override;
  void SetResultReason(int slot, const std::string& reason) override;
  void SetProgress(int slot, int value) override;
  void SetSlotEnabled(int slot, bool enabled) override;
  void SetStartEnabled(bool enabled) override;
  void AppendLogText(const std::string& text) override;
  void ClearLogText() override {}
  void ShowNotice(const std::string& text, const std::string& caption) override;

  // Draws what changed since the last call (on a terminal: all lines in place) and hands
  // everything written to the output.
  void Flush();
  // True once a write to the output has failed; nothing is written from then on.
  bool OutputLost() const { return lost_; }
  // The line of one slot, whole.
  std::string Line(int slot) const;

 private:
  struct TRow {
    std::string port = "( null )";
    SlotState state = SlotState::kEmpty;
    std::string status = "EMPTY";
    std::string result;
    std::string reason;
    int progress = 0;
    TRgb statusColor = 0;
    std::string printed;  // the line as last printed
  };
  TRow& At(int slot) { return rows_.at(static_cast<std::size_t>(slot)); }
  // Writes the slot lines that changed.
  void Draw();

  std::ostream& out_;
  bool liveRedraw_;
  TStationSettings settings_;
  TTerminalColumns columns_;
  std::array<TRow, kSlotCount> rows_{};
  bool drawn_ = false;
  bool dirty_ = true;
  bool lost_ = false;
};

}  // namespace vornex
