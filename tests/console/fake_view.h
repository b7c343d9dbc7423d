// A console view that remembers what the console logic shows, for the console tests.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "console/console_view.h"

namespace vornex::testing {

struct FakeSlot {
  std::string port;
  std::string status;
  SlotState state = SlotState::kEmpty;
  TRgb statusColor = 0;
  std::string result;
  TRgb resultColor = 0;
  std::string reason;
  int progress = 0;
  bool enabled = false;
};

class FakeView : public TConsoleView {
 public:
  void SetPortText(int slot, const std::string& text) override { slots[At(slot)].port = text; }
  void SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) override {
    slots[At(slot)].state = state;
    slots[At(slot)].status = text;
    slots[At(slot)].statusColor = color;
  }
  void SetResultText(int slot, const std::string& text, TRgb color) override {
    slots[At(slot)].result = text;
    slots[At(slot)].resultColor = color;
  }
  void SetResultReason(int slot, const std::string& reason) override {
    slots[At(slot)].reason = reason;
  }
  void SetProgress(int slot, int value) override { slots[At(slot)].progress = value; }
  void SetSlotEnabled(int slot, bool enabled) override { slots[At(slot)].enabled = enabled; }
  void SetStartEnabled(bool enabled) override { startEnabled = enabled; }
  void AppendLogText(const std::string& text) override { log += text; }
  void ClearLogText() override { log.clear(); }
  void ShowNotice(const std::string& text, const std::string& caption) override {
    notices.push_back(caption + ": " + text);
  }

  std::array<FakeSlot, 8> slots{};
  bool startEnabled = false;
  std::string log;
  std::vector<std::string> notices;

 private:
  static std::size_t At(int slot) { return static_cast<std::size_t>(slot); }
};

}  // namespace vornex::testing
