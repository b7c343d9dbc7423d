// Ctrl+C, Ctrl+Break, the closing of the console window and the end of the login session or of
// the system, noted in a flag that the front-end polls.
//
// Console events come on a thread the system starts for the handler. Ctrl+C and Ctrl+Break are
// noted and the handler returns. For the closing of the console window (and logoff or shutdown,
// where the system sends those to a console program) the system ends the process as soon as the
// handler returns, and in any case some time after the event: about 5 s for the console window,
// about 20 s at logoff or shutdown. The handler therefore never returns: the process ends when
// the front-end has finished its safe stop and the program returns from main, or when the
// system's time is up, whichever comes first.
//
// This program uses the window system in both modes, so at logoff or shutdown the system tells
// it through its top-level windows rather than through console events. A hidden window on a
// thread of its own takes those messages: WM_QUERYENDSESSION notes the stop and asks the system
// to wait, giving the reason (the operator may end the session anyway); WM_ENDSESSION then holds
// like the console handler until the process ends.
//
// What holds when the system's time runs out first: a job that had not begun its image update
// has not touched its device; a job inside its image stream ends after the block in flight; a
// job past its reset may be cut off before its identity is back. Such a job's identity backup
// stays open in the station records, where both front-ends report it at their next start and
// "vornex restore" puts the identity back.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "foundation/stop_signal.h"

namespace vornex {
namespace {

std::atomic<bool> g_stopSignal{false};

constexpr wchar_t kSessionWindowClass[] = L"VornexStationSessionEnd";
constexpr wchar_t kSessionBlockReason[] = L"Finishing the running jobs at a safe point.";

// Waits for the end of the process: it comes when main returns or when the system ends it.
[[noreturn]] void HoldUntilTheProcessEnds() {
  for (;;) ::Sleep(INFINITE);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stopSignal.store(true);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_stopSignal.store(true);
      HoldUntilTheProcessEnds();
    default:
      return FALSE;
  }
}

LRESULT CALLBACK OnSessionMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      g_stopSignal.store(true);
      ::ShutdownBlockReasonCreate(window, kSessionBlockReason);
      return FALSE;
    case WM_ENDSESSION:
      if (wParam == FALSE) {
        // The session goes on; the stop already noted goes on as well.
        ::ShutdownBlockReasonDestroy(window);
        return 0;
      }
      g_stopSignal.store(true);
      HoldUntilTheProcessEnds();
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

// The hidden top-level window's thread. Without the window (it could not be made) the end of the
// session is not noticed in time, as before.
void RunSessionWindow() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &OnSessionMessage;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kSessionWindowClass;
  if (::RegisterClassW(&windowClass) == 0) return;
  HWND window = ::CreateWindowExW(0, kSessionWindowClass, L"Vornex station", WS_OVERLAPPED, 0, 0, 0,
                                  0, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
}

}  // namespace

void CatchStopSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
    std::thread(&RunSessionWindow).detach();
  });
}

void NoteStopRequest() {
  g_stopSignal.store(true);
}

bool StopSignalled() {
  return g_stopSignal.load();
}

}  // namespace vornex
