// What the operator console shows, as the console logic sees it: eight slot rows (with the
// reason of a FAILED job), the Start button, the log pane and message boxes. The windows and the
// terminal front-end implement it; tests use a recording fake. Every call comes on the
// front-end's own thread.
#pragma once

#include <cstdint>
#include <string>

namespace vornex {

// A text colour as 0xRRGGBB.
using TRgb = std::uint32_t;

// The state of a slot, as its status word shows it.
enum class SlotState : std::int32_t {
  kEmpty = 0,
  kReady = 1,
  kBusy = 2,
  kRunning = 3,
  kPass = 4,
  kFailed = 5,
  kNoAccess = 6,  // this user may not open the device's ports
};

class TConsoleView {
 public:
  // The "( COM n )" / "( null )" text of a slot.
  virtual void SetPortText(int slot, const std::string& text) = 0;
  // The state of a slot and its status word ("READY", "53.7%", "83.5s" ...) in its colour.
  virtual void SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) = 0;
  // The result text ("PASS", "FAILED" or empty) in its colour.
  virtual void SetResultText(int slot, const std::string& text, TRgb color) = 0;
  // Why the slot's job FAILED, from its account (failure and cause), told beside the result
  // text: after it on the terminal line, as the result's tooltip in the windows. Empty once the
  // result text no longer shows that failure. A view that has no place for it ignores it.
  virtual void SetResultReason(int /*slot*/, const std::string& /*reason*/) {}
  // The progress bar, 0..1000.
  virtual void SetProgress(int slot, int value) = 0;
  // Label, port text and progress bar enabled (a device is in the slot) or greyed out.
  virtual void SetSlotEnabled(int slot, bool enabled) = 0;
  virtual void SetStartEnabled(bool enabled) = 0;
  // The log pane: append text (line ends are in the text) or empty it.
  virtual void AppendLogText(const std::string& text) = 0;
  virtual void ClearLogText() = 0;
  // A modal notice the operator acknowledges with OK.
  virtual void ShowNotice(const std::string& text, const std::string& caption) = 0;

 protected:
  ~TConsoleView() = default;
};

}  // namespace vornex
