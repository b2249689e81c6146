#include "recorder/ui/win/win_ui.h"

#include <vector>

#include "shared/path_name.h"
#include "shared/text/utf16.h"

namespace kmr::win {

namespace {
std::string& Title() {
  static std::string title = "Kelvo";
  return title;
}
}  // namespace

std::string OwnFolder() {
  PathName self;
  std::string dir;
  if (!self.SetToModulePath() || !self.Directory(&dir, false)) return {};
  return dir;
}

void SetProgramTitle(const std::string& title) { Title() = title; }
const std::string& ProgramTitle() { return Title(); }

int Say(HWND owner, const std::string& text, UINT flags) {
  return MessageBoxA(owner, text.c_str(), Title().c_str(), flags | MB_SYSTEMMODAL);
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int n = GetWindowTextLengthA(control);
  std::vector<char> buf(static_cast<size_t>(n < 0 ? 0 : n) + 1, '\0');
  GetWindowTextA(control, buf.data(), static_cast<int>(buf.size()));
  return buf.data();
}

void SetControlText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }
bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void Check(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }
void Enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

int AddItem(HWND dialog, int id, const std::string& text, intptr_t data) {
  const LRESULT i = SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (i >= 0) SendDlgItemMessageA(dialog, id, CB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(data));
  return static_cast<int>(i);
}

int AddUtf8Item(HWND dialog, int id, const std::string& utf8, intptr_t data) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::string ansi;
  if (!wide.empty()) {
    const auto* w = reinterpret_cast<const wchar_t*>(wide.c_str());
    const int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n > 0) {
      ansi.resize(static_cast<size_t>(n));
      WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), ansi.data(), n, nullptr, nullptr);
    }
  }
  return AddItem(dialog, id, ansi, data);
}

void ClearItems(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, CB_RESETCONTENT, 0, 0); }
int ItemCount(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0)); }
int Selection(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0)); }
void Select(HWND dialog, int id, int index) { SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

intptr_t ItemData(HWND dialog, int id, int index) {
  return static_cast<intptr_t>(SendDlgItemMessageA(dialog, id, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

int Clamp(int index, int count) {
  if (index >= count) index = count - 1;
  return index < 0 ? 0 : index;
}

}  // namespace kmr::win
