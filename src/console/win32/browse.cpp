// The password prompt and the folder picker of Browse.
#include "console/win32/browse.h"

// windows.h first (in the header): the shell's headers need it.
#include <shlobj.h>
#include <shobjidl.h>

#include "console/win32/window_ids.h"
#include "console/window_texts.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

// The prompt's font, as the main window's large font.
HFONT g_promptFont = nullptr;
HHOOK g_keyHook = nullptr;

// Enter, Escape and Space never reach the prompt's dialog navigation.
LRESULT CALLBACK PromptKeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if ((msg->message == WM_KEYDOWN || msg->message == WM_KEYUP) &&
        (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE || msg->wParam == VK_SPACE)) {
      return TRUE;
    }
  }
  return ::CallNextHookEx(g_keyHook, code, wParam, lParam);
}

void PlaceControl(HWND dialog, int id, int x, int y, int width, int height) {
  HWND control = ::GetDlgItem(dialog, id);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(g_promptFont), FALSE);
  ::MoveWindow(control, x, y, width, height, TRUE);
}

INT_PTR CALLBACK PromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG: {
      RECT client{};
      ::GetClientRect(dialog, &client);
      const int w = client.right;
      const int h = client.bottom;
      PlaceControl(dialog, IDC_PASSWORD_PROMPT, 40, h / 4 - 12, w - 80, 24);
      PlaceControl(dialog, IDC_PASSWORD_EDIT, 40, h / 2 - 18, w - 80, 24);
      PlaceControl(dialog, IDC_PASSWORD_OK, 40, 3 * h / 4 - 12, 80, 24);
      PlaceControl(dialog, IDC_PASSWORD_CANCEL, w - 120, 3 * h / 4 - 12, 80, 24);
      ::SetFocus(::GetDlgItem(dialog, IDC_PASSWORD_EDIT));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (LOWORD(wParam) == IDC_PASSWORD_OK) {
        const int length = ::GetWindowTextLengthW(::GetDlgItem(dialog, IDC_PASSWORD_EDIT));
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        ::GetDlgItemTextW(dialog, IDC_PASSWORD_EDIT, text.data(), length + 1);
        text.resize(static_cast<std::size_t>(length));
        const bool right = IsBrowsePassword(win32::Narrow(text));
        ::EndDialog(dialog, static_cast<INT_PTR>(right ? TPasswordOutcome::kAccepted
                                                       : TPasswordOutcome::kWrongPassword));
        return TRUE;
      }
      if (LOWORD(wParam) == IDC_PASSWORD_CANCEL) {
        ::EndDialog(dialog, static_cast<INT_PTR>(TPasswordOutcome::kCancelled));
        return TRUE;
      }
      return TRUE;  // the dialog's own OK and cancel (keyboard) do nothing
    case WM_CLOSE:
      ::EndDialog(dialog, static_cast<INT_PTR>(TPasswordOutcome::kCancelled));
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

TPasswordOutcome AskPassword(HWND owner) {
  g_promptFont = ::CreateFontW(window::kLargeFontCellPx, 0, 0, 0, window::kLargeFontWeight, FALSE,
                               FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_TT_ALWAYS,
                               DEFAULT_QUALITY, FF_SWISS, win32::Wide(window::kFontFamily).c_str());
  g_keyHook = ::SetWindowsHookExW(WH_MSGFILTER, &PromptKeyFilter, nullptr, ::GetCurrentThreadId());
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(IDD_PASSWORD), owner, &PromptProc, 0);
  if (g_keyHook != nullptr) ::UnhookWindowsHookEx(g_keyHook);
  g_keyHook = nullptr;
  if (g_promptFont != nullptr) ::DeleteObject(g_promptFont);
  g_promptFont = nullptr;
  switch (result) {
    case static_cast<INT_PTR>(TPasswordOutcome::kAccepted):
      return TPasswordOutcome::kAccepted;
    case static_cast<INT_PTR>(TPasswordOutcome::kWrongPassword):
      return TPasswordOutcome::kWrongPassword;
    default:
      return TPasswordOutcome::kCancelled;  // also a prompt that could not be shown
  }
}

std::wstring ChooseFolder(HWND owner) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  std::wstring chosen;
  IFileOpenDialog* picker = nullptr;
  if (SUCCEEDED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&picker)))) {
    DWORD options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    picker->SetTitle(win32::Wide(window::kSelectImageFolder).c_str());
    IShellItem* desktop = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderItem(FOLDERID_Desktop, KF_FLAG_DEFAULT, nullptr,
                                         IID_PPV_ARGS(&desktop)))) {
      picker->SetFolder(desktop);
      desktop->Release();
    }
    IShellItem* item = nullptr;
    if (SUCCEEDED(picker->Show(owner)) && SUCCEEDED(picker->GetResult(&item))) {
      wchar_t* path = nullptr;
      // A virtual folder without a file-system path counts as a cancel.
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path != nullptr) {
        chosen = path;
        ::CoTaskMemFree(path);
      }
      item->Release();
    }
    picker->Release();
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return chosen;
}

}  // namespace vornex
