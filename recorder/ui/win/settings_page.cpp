#include "recorder/ui/win/settings_page.h"

#include <cstdlib>
#include <string>

#include "recorder/ui/win/win_ui.h"

namespace kmr::win {

HPROPSHEETPAGE SettingsPage::Make(HINSTANCE instance) {
  instance_ = instance;
  PROPSHEETPAGEA page{};
  page.dwSize = sizeof(page);
  page.hInstance = instance;
  page.pszTemplate = MAKEINTRESOURCEA(dialog_id_);
  page.pfnDlgProc = Proc;
  page.lParam = reinterpret_cast<LPARAM>(this);
  return CreatePropertySheetPageA(&page);
}

void SettingsPage::SetModified() {
  if (ready_ && hwnd_ != nullptr) PropSheet_Changed(GetParent(hwnd_), hwnd_);
}

bool SettingsPage::ReadNumber(int id, int low, int high, int32_t* value) {
  const std::string text = ControlText(hwnd_, id);
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || n < low || n > high) {
    Say(hwnd_, "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".",
        MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(hwnd_, id));
    return false;
  }
  *value = static_cast<int32_t>(n);
  return true;
}

INT_PTR CALLBACK SettingsPage::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* page = reinterpret_cast<SettingsPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lp)->lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    page->hwnd_ = hwnd;
    page->OnInit();
    page->ready_ = true;
    return TRUE;
  }
  auto* page = reinterpret_cast<SettingsPage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (page == nullptr) return FALSE;
  switch (msg) {
    case WM_COMMAND:
      if (!page->ready_) return FALSE;
      return page->OnCommand(LOWORD(wp), HIWORD(wp)) ? TRUE : FALSE;
    case WM_NOTIFY:
      if (reinterpret_cast<NMHDR*>(lp)->code == static_cast<UINT>(PSN_APPLY)) {
        const bool ok = page->Confirm();
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, ok ? PSNRET_NOERROR : PSNRET_INVALID);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      page->hwnd_ = nullptr;
      return FALSE;
    default:
      return page->OnMessage(msg, wp, lp) ? TRUE : FALSE;
  }
}

}  // namespace kmr::win
