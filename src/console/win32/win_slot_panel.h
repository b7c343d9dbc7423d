// The slot panel of the Windows station window: the dialog's controls as the station core's
// view. Why a slot FAILED is the tooltip of its result text and of its progress bar.
#pragma once

// windows.h first: the other system headers need it.
#include <windows.h>
//
#include <commctrl.h>

#include <array>
#include <optional>
#include <string>

#include "console/console_view.h"
#include "console/presenter.h"
#include "foundation/settings.h"

namespace vornex {

class CWinSlotPanel : public TConsoleView {
 public:
  CWinSlotPanel(HWND dialog, const TStationSettings& settings);
  ~CWinSlotPanel();
  CWinSlotPanel(const CWinSlotPanel&) = delete;
  CWinSlotPanel& operator=(const CWinSlotPanel&) = delete;

  // The number of rows shown: up to the last slot in use.
  static int LastSlotInUse(const TStationSettings& settings);

  // Fonts, ranges, texts and visibility of every control.
  void Init(const TStationSettings& settings);
  // Places every control from the client size.
  void LayoutControls(int width, int height);
  // The text colour of a status, result or path control; nothing for other controls.
  std::optional<COLORREF> TextColor(int id) const;
  void SetPathText(const std::string& text);

  void SetPortText(int slot, const std::string& text) override;
  void SetStatusText(int slot, SlotState state, const std::string& text, TRgb color) override;
  void SetResultText(int slot, const std::string& text, TRgb color) override;
  void SetResultReason(int slot, const std::string& reason) override;
  void SetProgress(int slot, int value) override;
  void SetSlotEnabled(int slot, bool enabled) override;
  void SetStartEnabled(bool enabled) override;
  void AppendLogText(const std::string& text) override;
  void ClearLogText() override;
  void ShowNotice(const std::string& text, const std::string& caption) override;

 private:
  HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
  // The tooltip's entry of a control (the result texts take mouse moves through SS_NOTIFY).
  TTTOOLINFOW Tool(int id) const;
  // One tooltip for the result text and the progress bar of every slot, empty until a job fails.
  void MakeTooltips();
  void SetFont(int id, HFONT font);
  void SetText(int id, const std::string& text);
  void Place(int id, int x, int y, int width, int height);

  HWND dialog_;
  int lastSlotInUse_;
  HFONT largeFont_ = nullptr;
  HFONT smallFont_ = nullptr;
  HWND tooltip_ = nullptr;  // owned by the dialog, which destroys it
  std::array<TRgb, kSlotCount> statusColors_{};
  std::array<TRgb, kSlotCount> resultColors_{};
};

}  // namespace vornex
