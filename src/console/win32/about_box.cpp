// Resource texts, the title and the About box of the Windows window.
#include "console/win32/about_box.h"

#include "console/win32/window_ids.h"
#include "console/window_texts.h"
#include "foundation/win32/wide_text.h"

namespace vornex {
namespace {

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

}  // namespace

std::wstring ResourceText(UINT id) {
  const wchar_t* text = nullptr;
  const int length =
      ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

std::wstring WindowTitle() {
  return ResourceText(IDS_PRODUCT) + win32::Wide(window::kTitleSuffix);
}

void ShowAboutBox(HWND owner) {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, &AboutProc,
                    0);
}

}  // namespace vornex
