// The operator console's logic, free of any toolkit: the eight slot views and their states,
// what Start sends, when Start is enabled, what each confirmation of the coordinator and the
// workers does to the slots and the log pane, the reason a FAILED slot shows (from its job's
// typed account), and when a batch has ended. It runs on the front-end's thread and talks to
// the screen through TConsoleView.
#pragma once

#include <array>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/console_view.h"
#include "coordination/coordinator.h"
#include "foundation/settings.h"

namespace vornex {

// Text colours of the slot rows.
namespace slot_color {
constexpr TRgb kEmpty = 0x6F6F6F;
constexpr TRgb kReady = 0x00BFFF;
constexpr TRgb kBusy = 0xF7941D;
constexpr TRgb kRunning = 0x0000FF;
constexpr TRgb kPass = 0x00A651;
constexpr TRgb kFailed = 0xFF0000;
constexpr TRgb kPathDisplay = 0x7F7F7F;
}  // namespace slot_color

// Both front-ends send the first device check this long after the console is up.
constexpr std::uint32_t kFirstCheckMs = 600;

// The reason of a device that was listed and selected but got no job in its batch.
constexpr const char* kNotStartedText = "not started";

// Why a job FAILED, as its slot shows it: the failure the operator saw, followed by its cause in
// parentheses when there is one; empty for a job that passed.
std::string FailureReason(const TJobSummary& summary);

// The display state of one slot.
struct TSlotView {
  std::int32_t comPort = 0;   // COM number of the device shown; <= 0: none
  std::int32_t progress = 0;  // last progress shown, 0..1000; only RUNNING changes it
  SlotState state = SlotState::kEmpty;
  bool noteShown = false;  // the result text holds a check's note (holder, no permission)
  std::string lastText;    // the last text its job reported: the step it is in
  std::string reason;      // why the FAILED shown in the result text failed; empty otherwise
  bool accounted = false;  // its job of the last Start has given its account
  bool awaited = false;    // its job of the running batch has not given its account yet
};

// The status word and colour of a state (RUNNING and PASS show values, see ShowSlotState).
// NO ACCESS shows in the colour of BUSY.
TRgb StatusColor(SlotState state);

class TConsolePresenter {
 public:
  TConsolePresenter(TConsoleView& view, TMdlThread& coordinator, const TStationSettings& settings);

  // Panel start: every slot cleared, result texts empty, Start disabled, then the Start update.
  void InitPanel();

  // The operator's commands. Start is true when the download request went out.
  bool Start();
  void Clear() { view_.ClearLogText(); }
  // Asks the coordinator for a device check unless it or any worker is busy; true when asked.
  bool SendCheckRequest();

  // Handles one confirmation (WM_DOWNLOAD_CNF) and releases its record.
  void OnConfirm(std::uint32_t code, TConfirmRecord record);
  // Called once each batch has ended: every job its download answer started has given its
  // account (at once when it started none; never for a refused Start).
  void OnBatchEnded(std::function<void()> callback) { batchEnded_ = std::move(callback); }

  // Slot operations; a slot outside 0..7 is ignored.
  void ShowSlotPort(int slot, std::int32_t port);
  void ShowSlotState(int slot, SlotState state, std::uint32_t value = 0);
  void ClearSlot(int slot);
  void UpdateStartButton();

  // Formats into at most 511 units and appends to the log pane, in debug mode only.
  void AppendLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const TSlotView& Slot(int slot) const { return slots_.at(static_cast<std::size_t>(slot)); }
  bool SlotInUse(int slot) const;
  bool AnySlotRunning() const;
  bool StartEnabled() const { return startEnabled_; }
  const TStationSettings& Settings() const { return settings_; }
  // The image folder chosen with Browse (kept for the next Start).
  void SetImagePath(const std::string& path) {
    settings_.imagePath = path;
    settings_.imagePathCut = false;
  }

 private:
  void OnCheckDevice(const TDeviceTable& table);
  void OnDownloadDevice(const TDownloadCnf& answer);
  void OnSingle(const TSingleCnf& report);
  void OnJobSummary(const TJobSummary& summary);
  void SetStartEnabled(bool enabled);
  // A check's note in the slot's result text ("held by ..."); an empty note removes one shown.
  void ShowSlotNote(int slot, const std::string& note);
  // The result text and the reason beside it (told to the view only when it changes).
  void ShowResult(int slot, const std::string& text, TRgb color, const std::string& reason = {});
  // Calls the batch-end callback once no job of the batch is awaited any more.
  void EndBatchWhenDone();

  TConsoleView& view_;
  TMdlThread& coordinator_;
  TStationSettings settings_;
  std::array<TSlotView, kSlotCount> slots_{};
  std::int32_t panelWasEmpty_ = 1;
  std::int32_t startArmed_ = 1;
  bool startEnabled_ = false;
  std::vector<std::string> searchNotes_;  // of the last check, told to the operator
  bool batchRunning_ = false;             // a download answer started a batch not yet ended
  std::function<void()> batchEnded_;
};

}  // namespace vornex
