// The station window on Windows: the main dialog of the resource script, run modeless by the
// program's own message loop, on the station core (console/station_core.h) like every other
// front-end. The slot panel (win_slot_panel.h) is the core's view; confirmations from the
// coordinator's and the workers' threads are queued and announced to the window's thread by a
// posted WM_DOWNLOAD_CNF, one message per record, so they are handled one at a time in posting
// order (window_relay.h); the core is ticked by a window timer.
//
// Closing while jobs run (once the operator has confirmed) keeps the window open, saying
// "Finishing N jobs..." and naming an overdue job, until every job has ended. The single-instance
// mutex is held until every thread has stopped. At the start and at the end of every batch the
// window says what is left to do about the identity backups still open (log pane and a message
// box, but no box in an unattended run or while the window closes), and once more on standard
// error when the window has gone.
#include "console/win32/station_window.h"

// windows.h first: the other system headers need it.
#include <windows.h>
//
#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "console/exit_status.h"
#include "console/station_core.h"
#include "console/win32/about_box.h"
#include "console/win32/browse.h"
#include "console/win32/win_slot_panel.h"
#include "console/win32/window_ids.h"
#include "console/win32/window_image.h"
#include "console/win32/window_relay.h"
#include "console/window_texts.h"
#include "foundation/os_file.h"
#include "foundation/pacing.h"
#include "foundation/stop_signal.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

constexpr UINT_PTR kTickTimer = 1;
// A notice of the start, shown once the window is up.
constexpr UINT kShowNoticeMessage = WM_APP + 1;
// The device interface class of serial (COM) ports.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// Says a line on standard error (when the program has a console).
void SayOnStderr(const std::string& line) {
  std::fprintf(stderr, "vornex: %s\n", line.c_str());
  std::fflush(stderr);
}

// The main window.
class CVornexDlg {
 public:
  CVornexDlg(TStationSetup setup, std::string screenshotFile)
      : setup_(std::move(setup)), screenshotFile_(std::move(screenshotFile)) {}

  ~CVornexDlg() {
    if (window_ != nullptr) ::DestroyWindow(window_);
    relay_.Close();
    if (!core_) return;
    // Every thread stops after its running job (if any) has returned; only then do the window's
    // parts go. One overdue is named once a minute in the log pane and, as the window has
    // closed, on standard error; so is the run's last word.
    const std::string left = core_->Shutdown([this](const std::string& line) {
      core_->Presenter().AppendLog("%s\r\n", line.c_str());
      SayOnStderr(line);
    });
    if (!left.empty()) SayOnStderr(left);
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

  int ExitStatus() const {
    return core_ ? core_->Driver().ExitStatus() : exit_status::kUnavailable;
  }

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
        if (wParam == kTickTimer && core_ && !closing_) Follow(core_->Tick());
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
    const TStationSettings& settings = setup_.run.settings;
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

    // From here on confirmations arrive as WM_DOWNLOAD_CNF.
    relay_.Attach(window_);
    core_ = std::make_unique<TStationCore>(
        std::move(setup_), *panel_, relay_,
        [this](const std::string& line) { core_->Presenter().AppendLog("%s\r\n", line.c_str()); });
    core_->OnNotice([this](const std::string& text, bool showBox) {
      if (core_->Settings().debugMode) panel_->AppendLogText(text + "\r\n");
      if (showBox) ShowNoticeLater(text);
    });
    const auto tick =
        std::chrono::duration_cast<std::chrono::milliseconds>(pacing::Scaled(kDriverTickMs));
    ::SetTimer(window_, kTickTimer, static_cast<UINT>(std::max<long long>(1, tick.count())),
               nullptr);
    core_->Begin();  // the start notice, if any, comes as the window's first box

    // Port arrivals and removals of the COM-port interface class, besides the broadcasts.
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    deviceNotify_ = ::RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }

  // A warning box once the window's current message has been handled.
  void ShowNoticeLater(const std::string& text) {
    notice_ = text;
    ::PostMessageW(window_, kShowNoticeMessage, 0, 0);
  }

  INT_PTR OnSysCommand(WPARAM wParam, LPARAM lParam) {
    const UINT command = static_cast<UINT>(wParam & 0xFFF0);
    if (command == IDM_ABOUTBOX) {
      ShowAboutBox(window_);
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
    if (notification != BN_CLICKED || !core_) return;
    switch (id) {
      case IDC_START:
        core_->Start();
        break;
      case IDC_CLEAR:
        core_->Clear();
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
    bool wrongPassword = false;
    const std::string shown = core_->Browse(
        [this] { return AskPassword(window_); },
        [this] {
          return window_ != nullptr ? win32::Narrow(ChooseFolder(window_)) : std::string();
        },
        &wrongPassword);
    if (wrongPassword) {
      ::MessageBoxW(window_, win32::Wide(window::kWrongPassword).c_str(),
                    win32::Wide(window::kAttention).c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
    if (!shown.empty() && window_ != nullptr) panel_->SetPathText(shown);
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
    if (header == nullptr || !core_) return;
    if (header->dbch_devicetype == DBT_DEVTYP_PORT ||
        header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      core_->PortsChanged();
    }
  }

  void OnConfirmMessage() {
    std::optional<TConfirmation> next = relay_.Take();
    if (!next || !core_) return;
    if (!core_->Confirm(next->code, std::move(next->record)) || screenshotFile_.empty()) return;
    std::string error;
    if (!SaveWindowPicture(window_, screenshotFile_, &error)) {
      core_->Presenter().AppendLog("%s\r\n", error.c_str());
      SayOnStderr(error);
    }
  }

  // The caption's close button (and a close from outside): asks while a job runs or waits.
  void RequestClose() {
    if (closing_ || !core_) return;
    Follow(core_->RequestClose([this] {
      const int answer =
          ::MessageBoxW(window_, win32::Wide(window::kQuitWhileRunning).c_str(),
                        win32::Wide(window::kAttention).c_str(), MB_YESNO | MB_ICONQUESTION);
      return answer == IDYES && !closing_;
    }));
  }

  // Acts on the core's answer to a close request or a tick.
  void Follow(TCloseStep step) {
    if (step == TCloseStep::kClose) {
      Destroy();
      return;
    }
    // The finishing text while the window waits for jobs, and the line's state.
    const std::string text = core_->TitleText();
    if (text == shownTitle_) return;
    shownTitle_ = text;
    ::SetWindowTextW(
        window_,
        (text.empty() ? WindowTitle() : WindowTitle() + L" - " + win32::Wide(text)).c_str());
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

  TStationSetup setup_;  // until the dialog is made
  std::string screenshotFile_;
  std::string notice_;
  TWindowRelay relay_;
  std::unique_ptr<CWinSlotPanel> panel_;
  std::unique_ptr<TStationCore> core_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HDEVNOTIFY deviceNotify_ = nullptr;
  bool closing_ = false;
  std::string shownTitle_;  // the core's title text shown
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

  TStationSetup setup{PrepareRun(options), options.dataFolder, true, RestoreOptionsOf(options),
                      options.closeWhenDone};
  if (!options.screenshotFile.empty()) setup.screenshotPercent = options.screenshotPercent;
  CatchStopSignals();
  int status = 0;
  {
    CVornexDlg window(std::move(setup), options.screenshotFile);
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
