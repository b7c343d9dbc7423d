// The slot panel on the dialog's controls.
#include "console/win32/win_slot_panel.h"

#include <commctrl.h>

#include <algorithm>

#include "console/win32/window_ids.h"
#include "console/window_texts.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

constexpr int kProgressMax = 1000;
constexpr int kTooltipWidthPx = 400;

COLORREF ToColorRef(TRgb rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

bool ValidSlot(int slot) {
  return slot >= 0 && slot < kSlotCount;
}

// Arial with the given cell height and weight, as the station's fonts are made.
HFONT MakeFont(int height, int weight) {
  return ::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                       CLIP_TT_ALWAYS, DEFAULT_QUALITY, FF_SWISS,
                       win32::Wide(window::kFontFamily).c_str());
}

}  // namespace

CWinSlotPanel::CWinSlotPanel(HWND dialog, const TStationSettings& settings)
    : dialog_(dialog), lastSlotInUse_(LastSlotInUse(settings)) {
  largeFont_ = MakeFont(window::kLargeFontCellPx, window::kLargeFontWeight);
  smallFont_ = MakeFont(window::kSmallFontCellPx, window::kSmallFontWeight);
  statusColors_.fill(slot_color::kEmpty);
  resultColors_.fill(slot_color::kFailed);
}

CWinSlotPanel::~CWinSlotPanel() {
  if (largeFont_ != nullptr) ::DeleteObject(largeFont_);
  if (smallFont_ != nullptr) ::DeleteObject(smallFont_);
}

int CWinSlotPanel::LastSlotInUse(const TStationSettings& settings) {
  int last = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (settings.enabled[static_cast<std::size_t>(slot)] >= 1) last = slot + 1;
  }
  return last;
}

void CWinSlotPanel::Init(const TStationSettings& settings) {
  ::ShowWindow(Item(IDC_PLACEHOLDER), SW_HIDE);
  SetFont(IDC_PATH, smallFont_);
  const std::string path = settings.autoPath
                               ? std::string(window::kUseAutoPath)
                               : std::string(window::kImagePathPrefix) + settings.imagePath;
  ::SetWindowTextW(Item(IDC_PATH), win32::Wide(path).c_str());
  SetFont(IDC_BROWSE, smallFont_);
  ::ShowWindow(Item(IDC_BROWSE), settings.browseButton ? SW_SHOW : SW_HIDE);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    SetFont(IDC_LABEL_A + slot, largeFont_);
    SetFont(IDC_PORT_A + slot, smallFont_);
    SetFont(IDC_STATUS_A + slot, largeFont_);
    SetFont(IDC_INFO_A + slot, largeFont_);
    ::SendMessageW(Item(IDC_PROGRESS_A + slot), PBM_SETRANGE32, 0, kProgressMax);
    const bool inUse = settings.enabled[static_cast<std::size_t>(slot)] >= 1;
    for (int first : {IDC_LABEL_A, IDC_PORT_A, IDC_PROGRESS_A, IDC_STATUS_A, IDC_INFO_A}) {
      ::ShowWindow(Item(first + slot), inUse ? SW_SHOW : SW_HIDE);
    }
  }
  SetFont(IDC_START, largeFont_);
  ::EnableWindow(Item(IDC_START), FALSE);
  SetFont(IDC_CLEAR, largeFont_);
  ::ShowWindow(Item(IDC_CLEAR), settings.debugMode ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Item(IDC_LOG), settings.debugMode ? SW_SHOW : SW_HIDE);
  // The log pane grows until Clear or the next Start empties it, past the edit's 30000
  // characters.
  ::SendMessageW(Item(IDC_LOG), EM_SETLIMITTEXT, 0, 0);
  MakeTooltips();
}

void CWinSlotPanel::LayoutControls(int width, int height) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const int y = 55 + window::kRowPitchPx * slot;
    Place(IDC_LABEL_A + slot, 10, y, 70, 18);
    Place(IDC_PORT_A + slot, 88, y + 2, 70, 14);
    const int resultLeft = width - window::kRightMarginPx - window::kResultWidthPx;
    const int statusLeft = resultLeft - window::kRowGapPx - window::kStatusWidthPx;
    Place(IDC_PROGRESS_A + slot, window::kProgressLeftPx, y - 5,
          statusLeft - window::kRowGapPx - window::kProgressLeftPx, 28);
    Place(IDC_STATUS_A + slot, statusLeft, y, window::kStatusWidthPx, 18);
    Place(IDC_INFO_A + slot, resultLeft, y, window::kResultWidthPx, 18);
  }
  Place(IDC_START, width - 118, height - 68, 100, 50);
  Place(IDC_CLEAR, width - 118, height - 136, 100, 50);
  Place(IDC_PATH, 10, 18, width - 155, 24);
  Place(IDC_BROWSE, width - 118, 12, 100, 24);
  const int paneTop = window::kRowPitchPx * lastSlotInUse_ + 50;
  Place(IDC_LOG, 10, paneTop, width - 155, height - paneTop - 10);
}

std::optional<COLORREF> CWinSlotPanel::TextColor(int id) const {
  if (id >= IDC_STATUS_A && id < IDC_STATUS_A + kSlotCount) {
    return ToColorRef(statusColors_[static_cast<std::size_t>(id - IDC_STATUS_A)]);
  }
  if (id >= IDC_INFO_A && id < IDC_INFO_A + kSlotCount) {
    return ToColorRef(resultColors_[static_cast<std::size_t>(id - IDC_INFO_A)]);
  }
  if (id == IDC_PATH) return ToColorRef(slot_color::kPathDisplay);
  return std::nullopt;
}

void CWinSlotPanel::SetPathText(const std::string& text) {
  ::SetWindowTextW(Item(IDC_PATH), win32::Wide(text).c_str());
}

void CWinSlotPanel::SetPortText(int slot, const std::string& text) {
  if (ValidSlot(slot)) SetText(IDC_PORT_A + slot, text);
}

void CWinSlotPanel::SetStatusText(int slot, SlotState /*state*/, const std::string& text,
                                  TRgb color) {
  if (!ValidSlot(slot)) return;
  statusColors_[static_cast<std::size_t>(slot)] = color;
  SetText(IDC_STATUS_A + slot, text);
}

void CWinSlotPanel::SetResultText(int slot, const std::string& text, TRgb color) {
  if (!ValidSlot(slot)) return;
  resultColors_[static_cast<std::size_t>(slot)] = color;
  SetText(IDC_INFO_A + slot, text);
}

void CWinSlotPanel::SetResultReason(int slot, const std::string& reason) {
  if (!ValidSlot(slot) || tooltip_ == nullptr) return;
  std::wstring tip = win32::Wide(reason);
  for (int id : {IDC_INFO_A + slot, IDC_PROGRESS_A + slot}) {
    TTTOOLINFOW tool = Tool(id);
    tool.lpszText = tip.data();  // copied by the tooltip; an empty text shows nothing
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void CWinSlotPanel::SetProgress(int slot, int value) {
  if (!ValidSlot(slot)) return;
  ::SendMessageW(Item(IDC_PROGRESS_A + slot), PBM_SETPOS,
                 static_cast<WPARAM>(std::clamp(value, 0, kProgressMax)), 0);
}

void CWinSlotPanel::SetSlotEnabled(int slot, bool enabled) {
  if (!ValidSlot(slot)) return;
  for (int first : {IDC_LABEL_A, IDC_PORT_A, IDC_PROGRESS_A}) {
    ::EnableWindow(Item(first + slot), enabled ? TRUE : FALSE);
  }
}

void CWinSlotPanel::SetStartEnabled(bool enabled) {
  ::EnableWindow(Item(IDC_START), enabled ? TRUE : FALSE);
}

void CWinSlotPanel::AppendLogText(const std::string& text) {
  HWND pane = Item(IDC_LOG);
  const LRESULT end = ::GetWindowTextLengthW(pane);
  ::SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
  ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win32::Wide(text).c_str()));
  ::SendMessageW(pane, EM_SCROLLCARET, 0, 0);
}

void CWinSlotPanel::ClearLogText() {
  ::SetWindowTextW(Item(IDC_LOG), L"");
}

void CWinSlotPanel::ShowNotice(const std::string& text, const std::string& caption) {
  ::MessageBoxW(dialog_, win32::Wide(text).c_str(), win32::Wide(caption).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

TTTOOLINFOW CWinSlotPanel::Tool(int id) const {
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog_;
  tool.uId = reinterpret_cast<UINT_PTR>(Item(id));
  return tool;
}

void CWinSlotPanel::MakeTooltips() {
  tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                               WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  if (tooltip_ == nullptr) return;
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, kTooltipWidthPx);  // long reasons wrap
  wchar_t empty[] = L"";
  for (int slot = 0; slot < kSlotCount; ++slot) {
    for (int id : {IDC_INFO_A + slot, IDC_PROGRESS_A + slot}) {
      TTTOOLINFOW tool = Tool(id);
      tool.lpszText = empty;
      ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
}

void CWinSlotPanel::SetFont(int id, HFONT font) {
  ::SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void CWinSlotPanel::SetText(int id, const std::string& text) {
  ::SetWindowTextW(Item(id), win32::Wide(text).c_str());
  ::InvalidateRect(Item(id), nullptr, TRUE);  // the colour may have changed alone
}

void CWinSlotPanel::Place(int id, int x, int y, int width, int height) {
  ::MoveWindow(Item(id), x, y, std::max(0, width), std::max(0, height), TRUE);
}

}  // namespace vornex
