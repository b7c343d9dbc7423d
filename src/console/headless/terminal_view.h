// The headless station's screen: one line per slot in use (letter, port, progress bar, status
// word, result), redrawn in place on a terminal, or printed as a new line whenever a slot's
// status changes, and at every tenth of its progress, when the output is not a terminal. Log
// pane text (debug mode) is printed as it comes.
//
// Output that fails (the terminal was closed, the reader of a pipe quit) is given up for good:
// nothing more is written to it, and OutputLost tells the front-end, which stops the run safely.
#pragma once

#include <array>
#include <ostream>
#include <string>

#include "console/console_view.h"
#include "foundation/settings.h"

namespace vornex {

class TTerminalView : public TConsoleView {
 public:
  TTerminalView(std::ostream& out, bool liveRedraw, const StationSettings& settings);

  void SetPortText(int slot, const std::string& text) override;
  void SetStatusText(int slot, const std::string& text, Rgb color) override;
  void SetResultText(int slot, const std::string& text, Rgb color) override;
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
  // The line of one slot as it is shown.
  std::string Line(int slot) const;

 private:
  struct Row {
    std::string port = "( null )";
    std::string status = "EMPTY";
    std::string result;
    int progress = 0;
    Rgb statusColor = 0;
    std::string printed;  // the line as last printed
  };
  Row& At(int slot) { return rows_.at(static_cast<std::size_t>(slot)); }
  // Writes the slot lines that changed.
  void Draw();

  std::ostream& out_;
  bool liveRedraw_;
  StationSettings settings_;
  std::array<Row, kSlotCount> rows_{};
  bool drawn_ = false;
  bool dirty_ = true;
  bool lost_ = false;
};

}  // namespace vornex
