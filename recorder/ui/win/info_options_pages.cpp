#include "recorder/ui/win/info_options_pages.h"

#include "platform/system/system.h"
#include "recorder/ui/settings/win/registry_settings_store.h"
#include "recorder/ui/win/kelvo_resource.h"
#include "recorder/ui/win/win_ui.h"

namespace kmr::win {

namespace {
constexpr int kTextIds[4] = {IDC_TITLE, IDC_AUTHOR, IDC_COPYRIGHT, IDC_DESCRIPTION};
// The check boxes and the values they show.
struct OptionCheck {
  int id;
  int32_t OptionsSettings::*value;
};
constexpr OptionCheck kOptionChecks[] = {
    {IDC_AUTO_RUN, &OptionsSettings::auto_run},           {IDC_START_MINIMIZED, &OptionsSettings::start_minimized},
    {IDC_ALWAYS_ON_TOP, &OptionsSettings::always_on_top}, {IDC_SHOW_SPLASH, &OptionsSettings::show_splash},
    {IDC_HIDE_WALLPAPER, &OptionsSettings::hide_wallpaper}, {IDC_SHOW_BORDER, &OptionsSettings::show_border}};
constexpr const char* kOverwriteEntries[3] = {"Overwrite existing file without prompt.",
                                              "Overwrite existing file with prompt.",
                                              "Don't overwrite existing file. Add file numbers."};
}  // namespace

InfoPage::InfoPage(SheetHost* host, SettingsStore* store) : SettingsPage(IDD_INFO, host, store) { settings_.Load(store); }

void InfoPage::OnInit() {
  std::string* texts[4] = {&settings_.title, &settings_.author, &settings_.copyright, &settings_.description};
  for (int i = 0; i < 4; ++i) SetControlText(hwnd_, kTextIds[i], *texts[i]);
}

void InfoPage::Take() {
  if (hwnd_ == nullptr) return;
  std::string* texts[4] = {&settings_.title, &settings_.author, &settings_.copyright, &settings_.description};
  for (int i = 0; i < 4; ++i) *texts[i] = ControlText(hwnd_, kTextIds[i]);
}

const InfoSettings& InfoPage::Texts() {
  Take();
  return settings_;
}

bool InfoPage::Confirm() {
  Take();
  settings_.Save(store_);
  return true;
}

OptionsPage::OptionsPage(SheetHost* host, SettingsStore* store) : SettingsPage(IDD_OPTIONS, host, store) {
  settings_.Load(store);
}

void OptionsPage::OnInit() {
  for (const OptionCheck& c : kOptionChecks) Check(hwnd_, c.id, settings_.*c.value != 0);
  for (const char* entry : kOverwriteEntries) {
    SendDlgItemMessageA(hwnd_, IDC_OVERWRITE, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
  }
  SendDlgItemMessageA(hwnd_, IDC_OVERWRITE, LB_SETCURSEL, static_cast<WPARAM>(Clamp(settings_.overwrite_option, 3)), 0);
}

void OptionsPage::Take() {
  if (hwnd_ == nullptr) return;
  for (const OptionCheck& c : kOptionChecks) settings_.*c.value = IsChecked(hwnd_, c.id) ? 1 : 0;
  const LRESULT sel = SendDlgItemMessageA(hwnd_, IDC_OVERWRITE, LB_GETCURSEL, 0, 0);
  if (sel >= 0) settings_.overwrite_option = static_cast<int32_t>(sel);
}

bool OptionsPage::OnCommand(int id, int code) {
  const bool on = IsChecked(hwnd_, id);
  switch (id) {
    case IDC_AUTO_RUN:
      LogonStart().Apply(on, platform::ModuleFileName());
      break;
    case IDC_ALWAYS_ON_TOP:
      host_->SetTopmost(on);
      break;
    case IDC_SHOW_SPLASH:
      if (on) host_->ShowSplash();
      break;
    case IDC_SHOW_BORDER:
      host_->ShowBorder(on);
      break;
    case IDC_START_MINIMIZED:
    case IDC_HIDE_WALLPAPER:
      break;
    case IDC_OVERWRITE:
      if (code != LBN_SELCHANGE) return true;
      break;
    default:
      return false;
  }
  Take();
  SetModified();
  return true;
}

bool OptionsPage::Confirm() {
  Take();
  settings_.Save(store_);
  return true;
}

}  // namespace kmr::win
