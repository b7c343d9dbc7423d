// The station window on Windows: the main dialog of the resource script, run modeless by the
// program's own message loop. The slot panel is the window's TConsoleView; the coordinator, the
// console presenter and the run driver are wired as in the other front-ends. Confirmations from
// the coordinator's and the workers' threads are queued and announced to the window's thread by
// a posted WM_DOWNLOAD_CNF, one message per record, so they are handled one at a time in posting
// order; the driver is ticked by a window timer.
//
// Closing while jobs run (once the operator has confirmed) asks every job to stop at its next
// safe point and keeps the window open, saying "Finishing N jobs...", until they have all ended,
// so that no job is cut off while it puts an identity back; a job still running a minute after
// the stop is named in the title, and again every minute, until it ends. The single-instance
// mutex is held until every thread has stopped.
//
// Why a slot FAILED is the tooltip of its result text and of its progress bar. At the start and
// at the end of every batch the window says what is left to do about the identity backups still
// open (log pane and a message box, but no box in an unattended run or while the window closes),
// and once more on standard error when the window has gone.
#include "console/win32/station_window.h"

// windows.h first: the other system headers need it.
#include <windows.h>
//
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/confirmation_queue.h"
#include "console/exit_status.h"
#include "console/presenter.h"
#include "console/run_driver.h"
#include "console/station_records.h"
#include "console/win32/browse.h"
#include "console/win32/window_ids.h"
#include "console/win32/window_image.h"
#include "console/window_texts.h"
#include "foundation/os_file.h"
#include "foundation/pacing.h"
#include "foundation/stop_signal.h"
#include "foundation/text.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr int kProgressMax = 1000;
constexpr int kTooltipWidthPx = 400;
// A notice of the start, shown once the window is up.
constexpr UINT kShowNoticeMessage = WM_APP + 1;
// The device interface class of serial (COM) ports.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

COLORREF ToColorRef(Rgb rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

std::wstring ResourceText(UINT id) {
  const wchar_t* text = nullptr;
  const int length =
      ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring WindowTitle() {
  return ResourceText(IDS_PRODUCT) + win32::Wide(window::kTitleSuffix);
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

// The confirmations of the coordinator and the workers, queued for the window's thread. Each
// queued record is announced by one posted message; once closed, every post is refused.
class TWindowRelay : public TNotifyTarget {
 public:
  void Attach(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
  }

  bool PostConfirmation(std::uint32_t message, std::uint32_t code, TConfirmRecord record) override {
    std::lock_guard lock(mutex_);
    if (window_ == nullptr) return false;
    queue_.push_back(TConfirmation{code, std::move(record)});
    if (!::PostMessageW(window_, message, 0, 0)) {
      queue_.pop_back();
      return false;
    }
    return true;
  }

  std::optional<TConfirmation> Take() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    TConfirmation next = std::move(queue_.front());
    queue_.pop_front();
    return next;
  }

  void Close() {
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    queue_.clear();
  }

 private:
  std::mutex mutex_;
  HWND window_ = nullptr;
  std::deque<TConfirmation> queue_;
};

// The slot panel on the dialog's controls.
class CWinSlotPanel : public TConsoleView {
 public:
  CWinSlotPanel(HWND dialog, const StationSettings& settings)
      : dialog_(dialog), lastSlotInUse_(LastSlotInUse(settings)) {
    largeFont_ = MakeFont(window::kLargeFontCellPx, window::kLargeFontWeight);
    smallFont_ = MakeFont(window::kSmallFontCellPx, window::kSmallFontWeight);
    statusColors_.fill(slot_color::kEmpty);
    resultColors_.fill(slot_color::kFailed);
  }
  ~CWinSlotPanel() {
    if (largeFont_ != nullptr) ::DeleteObject(largeFont_);
    if (smallFont_ != nullptr) ::DeleteObject(smallFont_);
  }
  CWinSlotPanel(const CWinSlotPanel&) = delete;
  CWinSlotPanel& operator=(const CWinSlotPanel&) = delete;

  static int LastSlotInUse(const StationSettings& settings) {
    int last = 0;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (settings.enabled[static_cast<std::size_t>(slot)] >= 1) last = slot + 1;
    }
    return last;
  }

  // Fonts, ranges, texts and visibility of every control.
  void Init(const StationSettings& settings) {
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

  // Places every control from the client size.
  void LayoutControls(int width, int height) {
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

  // The text colour of a status, result or path control; nothing for other controls.
  std::optional<COLORREF> TextColor(int id) const {
    if (id >= IDC_STATUS_A && id < IDC_STATUS_A + kSlotCount) {
      return ToColorRef(statusColors_[static_cast<std::size_t>(id - IDC_STATUS_A)]);
    }
    if (id >= IDC_INFO_A && id < IDC_INFO_A + kSlotCount) {
      return ToColorRef(resultColors_[static_cast<std::size_t>(id - IDC_INFO_A)]);
    }
    if (id == IDC_PATH) return ToColorRef(slot_color::kPathDisplay);
    return std::nullopt;
  }

  void SetPathText(const std::string& text) {
    ::SetWindowTextW(Item(IDC_PATH), win32::Wide(text).c_str());
  }

  void SetPortText(int slot, const std::string& text) override {
    if (ValidSlot(slot)) SetText(IDC_PORT_A + slot, text);
  }
  void SetStatusText(int slot, const std::string& text, Rgb color) override {
    if (!ValidSlot(slot)) return;
    statusColors_[static_cast<std::size_t>(slot)] = color;
    SetText(IDC_STATUS_A + slot, text);
  }
  void SetResultText(int slot, const std::string& text, Rgb color) override {
    if (!ValidSlot(slot)) return;
    // "PASS" in green, anything else in red.
    resultColors_[static_cast<std::size_t>(slot)] = color;
    SetText(IDC_INFO_A + slot, text);
  }
  void SetResultReason(int slot, const std::string& reason) override {
    if (!ValidSlot(slot) || tooltip_ == nullptr) return;
    std::wstring tip = win32::Wide(reason);
    for (int id : {IDC_INFO_A + slot, IDC_PROGRESS_A + slot}) {
      TTTOOLINFOW tool = Tool(id);
      tool.lpszText = tip.data();  // copied by the tooltip; an empty text shows nothing
      ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
  void SetProgress(int slot, int value) override {
    if (!ValidSlot(slot)) return;
    ::SendMessageW(Item(IDC_PROGRESS_A + slot), PBM_SETPOS,
                   static_cast<WPARAM>(std::clamp(value, 0, kProgressMax)), 0);
  }
  void SetSlotEnabled(int slot, bool enabled) override {
    if (!ValidSlot(slot)) return;
    for (int first : {IDC_LABEL_A, IDC_PORT_A, IDC_PROGRESS_A}) {
      ::EnableWindow(Item(first + slot), enabled ? TRUE : FALSE);
    }
  }
  void SetStartEnabled(bool enabled) override {
    ::EnableWindow(Item(IDC_START), enabled ? TRUE : FALSE);
  }
  void AppendLogText(const std::string& text) override {
    HWND pane = Item(IDC_LOG);
    const LRESULT end = ::GetWindowTextLengthW(pane);
    ::SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
    ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(win32::Wide(text).c_str()));
    ::SendMessageW(pane, EM_SCROLLCARET, 0, 0);
  }
  void ClearLogText() override { ::SetWindowTextW(Item(IDC_LOG), L""); }
  void ShowNotice(const std::string& text, const std::string& caption) override {
    ::MessageBoxW(dialog_, win32::Wide(text).c_str(), win32::Wide(caption).c_str(),
                  MB_OK | MB_ICONEXCLAMATION);
  }

 private:
  HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
  // The tooltip's entry of a control (the result texts take mouse moves through SS_NOTIFY).
  TTTOOLINFOW Tool(int id) const {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog_;
    tool.uId = reinterpret_cast<UINT_PTR>(Item(id));
    return tool;
  }
  // One tooltip for the result text and the progress bar of every slot, empty until a job fails.
  void MakeTooltips() {
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
  void SetFont(int id, HFONT font) {
    ::SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  void SetText(int id, const std::string& text) {
    ::SetWindowTextW(Item(id), win32::Wide(text).c_str());
    ::InvalidateRect(Item(id), nullptr, TRUE);  // the colour may have changed alone
  }
  void Place(int id, int x, int y, int width, int height) {
    ::MoveWindow(Item(id), x, y, std::max(0, width), std::max(0, height), TRUE);
  }

  HWND dialog_;
  int lastSlotInUse_;
  HFONT largeFont_ = nullptr;
  HFONT smallFont_ = nullptr;
  HWND tooltip_ = nullptr;  // owned by the dialog, which destroys it
  std::array<Rgb, kSlotCount> statusColors_{};
  std::array<Rgb, kSlotCount> resultColors_{};
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetDlgItemTextW(dialog, IDC_ABOUT_TEXT, ResourceText(IDS_PRODUCT).c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

// The main window.
class CVornexDlg {
 public:
  CVornexDlg(TRunSetup setup, const TRunOptions& options)
      : setup_(std::move(setup)), options_(options) {
    coordinator_ = std::make_unique<TMdlThread>();
    store_ = OpenStationRecords(options.dataFolder, setup_.settings, &notice_);
    if (store_) notice_ = OpenBackupsNotice(*store_, RestoreOptionsOf(options));
    coordinator_->SetRecordStore(store_.get(), setup_.settings.verifyIdentity,
                                 setup_.settings.flashBlankDevices);
    for (const std::string& warning : setup_.warnings) {
      notice_ = notice_.empty() ? warning : notice_ + "\n" + warning;
    }
  }

  ~CVornexDlg() {
    if (window_ != nullptr) ::DestroyWindow(window_);
    relay_.Close();
    // The coordinator's thread and the workers' from H back to A stop, each after its running job
    // (if any) has returned; only then do the window's parts go. One overdue is named once a
    // minute in the log pane and, as the window has closed, on standard error (when the program
    // has a console).
    if (driver_) {
      driver_->StopThreads([this](const std::string& line) {
        presenter_->AppendLog("%s\r\n", line.c_str());
        std::fprintf(stderr, "vornex: %s\n", line.c_str());
        std::fflush(stderr);
      });
    }
    coordinator_.reset();
    // The run's last word, on standard error (when the program has a console) as the window has
    // gone.
    if (const std::string left =
            store_ ? OpenBackupsNotice(*store_, RestoreOptionsOf(options_)) : "";
        !left.empty()) {
      std::fprintf(stderr, "vornex: %s\n", left.c_str());
      std::fflush(stderr);
    }
  }

  CVornexDlg(const CVornexDlg&) = delete;
  CVornexDlg& operator=(const CVornexDlg&) = delete;

  // Makes the dialog (initialisation runs inside); false with the system's reason otherwise.
  bool Create(std::string* error) {
    HWND made =
        ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_VORNEX_DIALOG),
                             nullptr, &DialogProc, reinterpret_cast<LPARAM>(this));
    if (made == nullptr) {
      *error = "the station window could not be made: " +
               os::SystemErrorText(static_cast<int>(::GetLastError()));
      return false;
    }
    ::ShowWindow(made, SW_SHOW);
    ::UpdateWindow(made);
    return true;
  }

  HWND Window() const { return window_; }

  // Escape and Space are swallowed anywhere in the window, before dialog navigation.
  bool SwallowsKey(const MSG& msg) const {
    if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) return false;
    if (msg.wParam != VK_ESCAPE && msg.wParam != VK_SPACE) return false;
    return window_ != nullptr && (msg.hwnd == window_ || ::IsChild(window_, msg.hwnd));
  }

  int ExitStatus() const { return driver_ ? driver_->ExitStatus() : exit_status::kUnavailable; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    CVornexDlg* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<CVornexDlg*>(lParam);
      ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
      self->window_ = dialog;
    } else {
      self = reinterpret_cast<CVornexDlg*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
    }
    if (self == nullptr) return FALSE;
    return self->Handle(message, wParam, lParam);
  }

  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_INITDIALOG:
        OnInitDialog();
        // Start is disabled at first: the focus stays on the window rather than landing on the
        // path display, whose text it would select.
        ::SetFocus(window_);
        return FALSE;
      case WM_SYSCOMMAND:
        return OnSysCommand(wParam, lParam);
      case WM_CLOSE:
        RequestClose();
        return TRUE;
      case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
      case WM_CTLCOLORSTATIC:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      case WM_SIZE:
        if (panel_) panel_->LayoutControls(LOWORD(lParam), HIWORD(lParam));
        return FALSE;
      case WM_TIMER:
        if (wParam == kTickTimer) OnTick();
        return TRUE;
      case WM_HELP:
        return TRUE;  // F1 does nothing
      case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
      case WM_LBUTTONDOWN:
        // Pressing anywhere on the background drags the window.
        ::PostMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
        return TRUE;
      case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        return FALSE;
      case kShowNoticeMessage:
        ::MessageBoxW(window_, win32::Wide(notice_).c_str(),
                      win32::Wide(window::kAttention).c_str(), MB_OK | MB_ICONWARNING);
        return TRUE;
      case WM_DESTROY:
        OnDestroy();
        return FALSE;
      default:
        if (message == WM_DOWNLOAD_CNF) {
          OnConfirmMessage();
          return TRUE;
        }
        return FALSE;
    }
  }

  void OnInitDialog() {
    HMENU systemMenu = ::GetSystemMenu(window_, FALSE);
    const std::wstring aboutItem = ResourceText(IDS_ABOUTBOX);
    if (systemMenu != nullptr && !aboutItem.empty()) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutItem.c_str());
    }
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    icon_ = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            0, 0, LR_DEFAULTSIZE | LR_SHARED));
    ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    // Panel initialisation: size and place, title, layout, controls.
    const StationSettings& settings = setup_.settings;
    panel_ = std::make_unique<CWinSlotPanel>(window_, settings);
    const int height =
        settings.debugMode
            ? window::kDebugWindowHeightPx
            : window::kBaseHeightPx + window::kRowPitchPx * CWinSlotPanel::LastSlotInUse(settings);
    ::SetWindowPos(window_, nullptr, 0, 0, window::kWindowWidthPx, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowTextW(window_, WindowTitle().c_str());
    RECT client{};
    ::GetClientRect(window_, &client);
    panel_->LayoutControls(client.right, client.bottom);
    panel_->Init(settings);
    presenter_ = std::make_unique<TConsolePresenter>(*panel_, *coordinator_, settings);
    presenter_->OnBatchEnded([this] { TellWhatIsLeft(); });

    // From here on confirmations arrive as WM_DOWNLOAD_CNF.
    relay_.Attach(window_);
    coordinator_->SetNotifyAll(&relay_, WM_DOWNLOAD_CNF);
    presenter_->InitPanel();

    driver_ = std::make_unique<TRunDriver>(
        *presenter_, *coordinator_, setup_.plan, std::move(setup_.watch),
        [this](const std::string& line) { presenter_->AppendLog("%s\r\n", line.c_str()); });
    const auto tick =
        std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(kDriverTickMs));
    ::SetTimer(window_, kTickTimer, static_cast<UINT>(std::max<long long>(1, tick.count())),
               nullptr);
    driver_->Begin();

    // Port arrivals and removals of the COM-port interface class, besides the broadcasts.
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    deviceNotify_ = ::RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);

    if (!notice_.empty()) {
      presenter_->AppendLog("%s\r\n", notice_.c_str());
      // An unattended run is not held up by a box nobody answers.
      if (!options_.closeWhenDone) ::PostMessageW(window_, kShowNoticeMessage, 0, 0);
    }
  }

  INT_PTR OnSysCommand(WPARAM wParam, LPARAM lParam) {
    const UINT command = static_cast<UINT>(wParam & 0xFFF0);
    if (command == IDM_ABOUTBOX) {
      ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), window_,
                        &AboutProc, 0);
      return TRUE;
    }
    if (command == SC_CLOSE) {
      // A close from the keyboard (Alt+F4) carries no position and does nothing.
      if (static_cast<std::int32_t>(lParam) <= 0) return TRUE;
      RequestClose();
      return TRUE;
    }
    return FALSE;
  }

  void OnCommand(int id, int notification) {
    if (notification != BN_CLICKED) return;
    switch (id) {
      case IDC_START:
        presenter_->Start();
        break;
      case IDC_CLEAR:
        presenter_->Clear();
        break;
      case IDC_BROWSE:
        Browse();
        break;
      default:
        break;  // Enter (IDOK) and the dialog's cancel (IDCANCEL) do not close the window
    }
  }

  // Browse: password, folder choice, path display, settings file.
  void Browse() {
    switch (AskPassword(window_)) {
      case PasswordOutcome::kWrongPassword:
        ::MessageBoxW(window_, win32::Wide(window::kWrongPassword).c_str(),
                      win32::Wide(window::kAttention).c_str(), MB_OK | MB_ICONEXCLAMATION);
        return;
      case PasswordOutcome::kCancelled:
        return;
      case PasswordOutcome::kAccepted:
        break;
    }
    const std::wstring chosen = ChooseFolder(window_);
    if (chosen.empty() || window_ == nullptr) return;
    const std::string path = win32::Narrow(ImageFolderPath(chosen));
    panel_->SetPathText(std::string(window::kImagePathPrefix) + path);
    presenter_->SetImagePath(path);
    // A failed write is not reported: the path still applies to this run.
    WriteImagePath(setup_.settingsPath.empty() ? SettingsPath() : setup_.settingsPath, path);
  }

  INT_PTR OnCtlColor(HDC dc, HWND control) {
    if (!panel_) return FALSE;
    const std::optional<COLORREF> color = panel_->TextColor(::GetDlgCtrlID(control));
    if (!color) return FALSE;
    ::SetTextColor(dc, *color);
    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
  }

  void OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header == nullptr || !driver_) return;
    if (header->dbch_devicetype == DBT_DEVTYP_PORT ||
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      driver_->PortsChanged();
    }
  }

  void OnConfirmMessage() {
    std::optional<TConfirmation> next = relay_.Take();
    if (!next || !driver_) return;
    const std::uint32_t code = next->code;
    driver_->Confirm(code, std::move(next->record));
    if (code == CNF_SINGLE || code == CNF_DOWNLOAD_DEVICE || code == CNF_JOB_SUMMARY) {
      MaybeTakeScreenshot();
    }
  }

  void OnTick() {
    if (!driver_ || closing_) return;
    driver_->Tick();
    // A stop from outside (an interrupt or termination request) closes the window safely.
    if (driver_->Stopping() && !finishing_ && !stopClosing_) {
      stopClosing_ = true;
      if (!BeginFinishing()) {
        Destroy();
        return;
      }
    }
    if (finishing_) {
      UpdateFinishing();
      return;
    }
    if (options_.closeWhenDone && driver_->Over()) Destroy();
  }

  // The caption's close button (and a close from outside): asks while a slot is RUNNING.
  void RequestClose() {
    if (closing_) return;
    if (finishing_ || driver_->Stopping()) {
      if (Idle()) {
        Destroy();
      } else if (!finishing_) {
        BeginFinishing();
      }
      return;
    }
    if (presenter_->AnySlotRunning()) {
      const int answer =
          ::MessageBoxW(window_, win32::Wide(window::kQuitWhileRunning).c_str(),
                        win32::Wide(window::kAttention).c_str(), MB_YESNO | MB_ICONQUESTION);
      if (answer != IDYES || closing_) return;
      if (BeginFinishing()) return;
    }
    // No job runs (one that just ended may still be releasing its device: the coordinator waits
    // for it when the window goes).
    Destroy();
  }

  bool Idle() const { return coordinator_->BusyWorkers() == 0 && coordinator_->IdleFlag() == 1; }

  // At the end of a batch: what is left to do about the backups still open.
  void TellWhatIsLeft() {
    const std::string left = store_ ? OpenBackupsNotice(*store_, RestoreOptionsOf(options_)) : "";
    if (left.empty()) return;
    if (setup_.settings.debugMode) panel_->AppendLogText(left + "\r\n");
    // An unattended run is not held up by a box nobody answers; a closing window says it as it
    // goes.
    if (options_.closeWhenDone || finishing_ || stopClosing_ || driver_->Stopping()) return;
    notice_ = left;
    ::PostMessageW(window_, kShowNoticeMessage, 0, 0);
  }

  // Asks every job to stop at its next safe point; true when the window must wait for jobs.
  bool BeginFinishing() {
    driver_->Stop();
    if (Idle()) return false;
    finishing_ = true;
    UpdateFinishing();
    return true;
  }

  void UpdateFinishing() {
    if (Idle()) {
      Destroy();
      return;
    }
    std::string busy = FormatBounded(64, window::kFinishingJobs, coordinator_->BusyWorkers());
    if (!driver_->OverdueNotice().empty()) busy += " - " + driver_->OverdueNotice();
    ::SetWindowTextW(window_, (WindowTitle() + L" - " + win32::Wide(busy)).c_str());
  }

  void Destroy() {
    if (closing_ || window_ == nullptr) return;
    closing_ = true;
    ::DestroyWindow(window_);
  }

  void OnDestroy() {
    ::KillTimer(window_, kTickTimer);
    if (deviceNotify_ != nullptr) ::UnregisterDeviceNotification(deviceNotify_);
    deviceNotify_ = nullptr;
    relay_.Close();
    window_ = nullptr;
    ::PostQuitMessage(0);
  }

  // Saves the picture once every started slot has reached the asked progress (or all ended).
  void MaybeTakeScreenshot() {
    if (options_.screenshotFile.empty() || screenshotTaken_ || !driver_->Pressed()) return;
    bool anyRunning = false;
    bool allThere = true;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      if (!driver_->JobStarted(slot)) continue;
      const TSlotView& view = presenter_->Slot(slot);
      if (view.state == SlotState::kRunning) {
        anyRunning = true;
        if (view.progress < options_.screenshotPercent * 10) allThere = false;
      } else if (view.state != SlotState::kPass && view.state != SlotState::kFailed) {
        allThere = false;  // not started moving yet
      }
    }
    if (!((anyRunning && allThere) || driver_->Done())) return;
    screenshotTaken_ = true;  // one attempt only
    std::string error;
    if (!SaveWindowPicture(window_, options_.screenshotFile, &error)) {
      presenter_->AppendLog("%s\r\n", error.c_str());
      std::fprintf(stderr, "vornex: %s\n", error.c_str());
    }
  }

  TRunSetup setup_;
  TRunOptions options_;
  std::string notice_;
  std::unique_ptr<TStationStore> store_;  // outlives the coordinator and its workers
  TWindowRelay relay_;
  std::unique_ptr<TMdlThread> coordinator_;
  std::unique_ptr<CWinSlotPanel> panel_;
  std::unique_ptr<TConsolePresenter> presenter_;
  std::unique_ptr<TRunDriver> driver_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HDEVNOTIFY deviceNotify_ = nullptr;
  bool finishing_ = false;
  bool stopClosing_ = false;
  bool closing_ = false;
  bool screenshotTaken_ = false;
};

}  // namespace

int RunStationWindow(const TRunOptions& options, std::ostream& err) {
  // One station per login session; a second start ends silently. Without the mutex the station
  // runs unguarded.
  HANDLE instance = ::CreateMutexW(nullptr, FALSE, win32::Wide(window::kInstanceLockName).c_str());
  if (instance != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(instance);
    return 0;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
  ::InitCommonControlsEx(&controls);

  TRunSetup setup = PrepareRun(options);
  CatchStopSignals();
  int status = 0;
  {
    CVornexDlg window(std::move(setup), options);
    std::string error;
    if (!window.Create(&error)) {
      err << "vornex: " << error << '\n';
      status = exit_status::kUnavailable;
    } else {
      // Started from the desktop, the program got a console of its own: the window does not need
      // it. One shared with a command prompt stays.
      DWORD processes[2] = {};
      if (::GetConsoleProcessList(processes, 2) == 1) ::FreeConsole();
      MSG msg{};
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.SwallowsKey(msg)) continue;
        if (window.Window() != nullptr && ::IsDialogMessageW(window.Window(), &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      if (options.closeWhenDone) status = window.ExitStatus();
    }
  }
  // The window has gone and every thread with it, each after its job had ended: only now may a
  // new start take over the devices.
  if (instance != nullptr) ::CloseHandle(instance);
  return status;
}

}  // namespace vornex
