#include "recorder/ui/win/main_sheet.h"

#include <shellapi.h>

#include "recorder/ui/hotkeys/hot_key.h"
#include "recorder/ui/pages/recording_fill.h"
#include "platform/system/system.h"
#include "recorder/ui/settings/win/registry_settings_store.h"
#include "recorder/ui/win/kelvo_resource.h"
#include "recorder/ui/win/splash_window.h"
#include "recorder/ui/win/win_ui.h"
#include "shared/trace.h"

namespace kmr::win {

namespace {

MainSheet* g_sheet = nullptr;
constexpr UINT_PTR kTrackerTimer = 1;
constexpr int kApplyNowButton = 0x3021;

// The sheet's dialog template, before it is made: hidden until the
// deferred start-up shows it, with a minimise box and no maximise box.
void AdjustTemplate(LPARAM lp) {
  auto* words = reinterpret_cast<WORD*>(lp);
  DWORD* style = words[1] == 0xFFFF ? reinterpret_cast<DWORD*>(words + 6) : reinterpret_cast<DWORD*>(words);
  *style = (*style & ~(WS_VISIBLE | WS_MAXIMIZEBOX | DS_CONTEXTHELP)) | WS_MINIMIZEBOX | WS_SYSMENU | WS_CAPTION;
}

}  // namespace

MainSheet::MainSheet(HINSTANCE instance, SettingsStore* store)
    : instance_(instance),
      store_(store),
      parts_(this),
      tracker_(&desktop_, &border_, this, [this](const Rect& r) { parts_.Video().SetRect(r); }),
      video_(this, store, &parts_),
      audio_(this, store, &parts_),
      info_(this, store),
      options_(this, store),
      pages_{&video_, &audio_, &info_, &options_} {
  g_sheet = this;
  parts_.Controller().SetHooks(this);
}

MainSheet::~MainSheet() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  g_sheet = nullptr;
}

int CALLBACK MainSheet::SheetCallback(HWND, UINT msg, LPARAM lp) {
  if (msg == PSCB_PRECREATE) AdjustTemplate(lp);
  return 0;
}

bool MainSheet::Create() {
  HPROPSHEETPAGE pages[4];
  for (int i = 0; i < 4; ++i) {
    pages[i] = pages_[i]->Make(instance_);
    if (pages[i] == nullptr) return false;
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_USEHICON;
  header.hInstance = instance_;
  header.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_IDLE));
  header.pszCaption = ProgramTitle().c_str();
  header.nPages = 4;
  header.phpage = pages;
  header.pfnCallback = SheetCallback;
  const INT_PTR made = PropertySheetA(&header);
  if (made == 0 || made == -1) return false;
  hwnd_ = reinterpret_cast<HWND>(made);
  sheet_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainSheet::SheetProc)));
  if (!OnCreated()) {
    DestroyWindow(hwnd_);
    return false;
  }
  return true;
}

// The creation handler: system menu, icons, notification-area icon, border
// window, then the deferred start-up.
bool MainSheet::OnCreated() {
  HideButtons();
  HMENU system = GetSystemMenu(hwnd_, FALSE);
  if (system == nullptr || !AppendMenuA(system, MF_SEPARATOR, 0, nullptr) ||
      !AppendMenuA(system, MF_STRING, IDM_ABOUT, "&About...")) {
    return false;
  }
  HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(IDI_IDLE));
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  notify_ = std::make_unique<platform::WindowNotifyTarget>(hwnd_);
  parts_.Controller().SetNotifyTarget(notify_.get());
  tray_ = std::make_unique<TrayIcon>(instance_, hwnd_, ProgramTitle());
  // A shell without a notification area still records: the window is then
  // minimised to the task bar instead of hidden. A shell that starts again
  // (or later) says so, and the icon is added then.
  taskbar_created_ = RegisterWindowMessageA("TaskbarCreated");
  tray_->Add();
  if (!border_.Create(instance_)) return false;
  // The region, the border and the window being followed move with this timer.
  if (SetTimer(hwnd_, kTrackerTimer, RegionTracker::kTickMs, nullptr) == 0) return false;
  return PostMessageA(hwnd_, kDeferredStartMessage, 0, 0) != FALSE;
}

// The sheet's own buttons (OK, Cancel, Apply, Help) are not used: the pages
// confirm themselves. The window ends above where they were.
void MainSheet::HideButtons() {
  RECT ok{}, window{};
  const bool have_ok = GetWindowRect(GetDlgItem(hwnd_, IDOK), &ok) && GetWindowRect(hwnd_, &window);
  for (int id : {IDOK, IDCANCEL, IDHELP, kApplyNowButton}) ShowWindow(GetDlgItem(hwnd_, id), SW_HIDE);
  if (have_ok && ok.top > window.top) {
    SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left, ok.top - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

int MainSheet::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (hwnd_ != nullptr && PropSheet_IsDialogMessage(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK MainSheet::SheetProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  MainSheet* self = g_sheet;
  if (self == nullptr || self->sheet_proc_ == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  LRESULT result = 0;
  if (self->Handle(msg, wp, lp, &result)) return result;
  return CallWindowProcA(self->sheet_proc_, hwnd, msg, wp, lp);
}

bool MainSheet::Handle(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  if (msg == taskbar_created_ && taskbar_created_ != 0) {
    if (tray_ != nullptr) tray_->AddAgain();
    return true;
  }
  switch (msg) {
    case kDeferredStartMessage:
      DeferredStart();
      return true;
    case TrayIcon::kCallbackMessage:
      OnTray(lp);
      return true;
    case kWriterFailureMessage:
      // Stops (when recording) and says which file could not be written.
      parts_.Controller().OnWriteFailure();
      return true;
    case WM_HOTKEY:
      OnHotKey(lp);
      return true;
    case WM_TIMER:
      if (wp != kTrackerTimer) return false;
      tracker_.Tick();
      return true;
    case WM_SYSCOMMAND:
      OnSysCommand(wp, lp);
      return true;
    case WM_COMMAND:
      // The hidden OK and Cancel (Enter, Esc) would end the sheet.
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) return true;
      return OnMenuCommand(LOWORD(wp));
    case WM_ACTIVATEAPP:
      OnActivateApp(wp != FALSE);
      return false;
    case WM_DISPLAYCHANGE:
      parts_.Capture().OnDisplayChange(!IsRecording());
      return false;
    case WM_CLOSE:
      OnClose();
      return true;
    case WM_QUERYENDSESSION:
      // The session ends (log-off, shut-down): the recording stops and its
      // file is finished before the system is answered.
      OnSessionEnding();
      *result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wp != FALSE) {
        OnSessionEnding();
        for (SettingsPage* page : pages_) page->SaveAtExit();  // no WM_DESTROY may come
      }
      *result = 0;
      return true;
    case WM_DESTROY:
      OnDestroy();
      return false;
    case WM_NCDESTROY: {
      const WNDPROC proc = sheet_proc_;
      SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
      *result = CallWindowProcA(proc, hwnd_, msg, wp, lp);
      hwnd_ = nullptr;
      sheet_proc_ = nullptr;
      PostQuitMessage(0);
      return true;
    }
    default:
      return false;
  }
}

void MainSheet::DeferredStart() {
  // Every page once, so that each has loaded its settings.
  for (int i = 1; i < 4; ++i) PropSheet_SetCurSel(hwnd_, nullptr, i);
  PropSheet_SetCurSel(hwnd_, nullptr, 0);
  const OptionsSettings& o = options_.Values();
  LogonStart().Apply(o.auto_run != 0, platform::ModuleFileName());
  if (o.start_minimized) {
    SendMessageA(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
  }
  SetTopmost(o.always_on_top != 0);
  if (o.show_splash) ShowSplash();
  video_.FillFormats();
  ShowBorder(o.show_border != 0);
}

void MainSheet::OnSysCommand(WPARAM command, LPARAM lp) {
  switch (command & 0xFFF0) {
    case IDM_ABOUT:
      SplashWindow::ShowAbout(instance_, hwnd_);
      return;
    case SC_MINIMIZE:
      CallWindowProcA(sheet_proc_, hwnd_, WM_SYSCOMMAND, command, lp);
      // Hidden only where the icon is there to bring it back.
      if (tray_ == nullptr || !tray_->Added()) return;
      ShowWindow(hwnd_, SW_HIDE);
      if (tray_ != nullptr) tray_->Balloon(lp != 0 ? page_texts::kRestoreBalloon : "", ProgramTitle(), 1000);
      return;
    case SC_RESTORE:
      if (tray_ != nullptr) tray_->Balloon("", ProgramTitle(), 1000);
      ShowBorder(options_.Values().show_border != 0);
      ShowWindow(hwnd_, SW_RESTORE);
      ShowWindow(hwnd_, SW_SHOW);
      SetForegroundWindow(hwnd_);
      return;
    default:
      CallWindowProcA(sheet_proc_, hwnd_, WM_SYSCOMMAND, command, lp);
  }
}

void MainSheet::ShowSettings() { PostMessageA(hwnd_, WM_COMMAND, ID_TRAY_SETTINGS, 0); }

void MainSheet::ActivatePage(int index) { PropSheet_SetCurSel(hwnd_, nullptr, index); }

void MainSheet::SetTopmost(bool on) {
  SetWindowPos(hwnd_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainSheet::ShowSplash() { SplashWindow::ShowSplash(instance_); }

void MainSheet::ShowBorder(bool on) {
  if (on) {
    tracker_.Tick();
    border_.Show();
  } else if (!tracker_.IsSelecting()) {
    border_.Hide();
  }
}

void MainSheet::MinimiseWithBalloon() { SendMessageA(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 1); }

bool MainSheet::IsRecording() const { return parts_.Controller().IsRecording(); }

void MainSheet::OnTray(LPARAM event) {
  if (in_tray_) return;
  in_tray_ = true;
  switch (event) {
    case WM_LBUTTONUP:
      if (IsRecording()) ToggleStartStop();
      break;
    case WM_LBUTTONDBLCLK:
      if (!IsRecording()) OnMenuCommand(ID_TRAY_SETTINGS);
      break;
    case WM_RBUTTONUP:
      ShowTrayMenu();
      break;
    default:
      break;
  }
  in_tray_ = false;
}

void MainSheet::ShowTrayMenu() {
  HMENU menu = LoadMenuA(instance_, MAKEINTRESOURCEA(IDR_TRAY_MENU));
  HMENU popup = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
  if (popup == nullptr) {
    if (menu != nullptr) DestroyMenu(menu);
    return;
  }
  const RecordingController& c = parts_.Controller();
  std::string shown;  // for the debug log
  for (const TrayMenuItem& item :
       TrayMenuItems(c.IsRecording(), c.IsPaused(), HotKeyText(video_.StartHotKey()), HotKeyText(video_.PauseHotKey()))) {
    if (!item.label.empty()) ModifyMenuA(popup, item.command, MF_BYCOMMAND | MF_STRING, item.command, item.label.c_str());
    EnableMenuItem(popup, item.command, MF_BYCOMMAND | (item.grayed ? MF_GRAYED : MF_ENABLED));
    char label[64] = "";
    GetMenuStringA(popup, item.command, label, sizeof(label), MF_BYCOMMAND);
    shown += std::string(shown.empty() ? "" : " | ") + label + (item.grayed ? " (grayed)" : "");
  }
  Trace(nullptr, "TrayMenu(): %s\n", shown.c_str());
  POINT at{};
  GetCursorPos(&at);
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, hwnd_, nullptr);
  PostMessageA(hwnd_, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

bool MainSheet::OnMenuCommand(int id) {
  switch (id) {
    case ID_TRAY_SETTINGS:
      SendMessageA(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
      return true;
    case ID_TRAY_START:
      ToggleStartStop();
      return true;
    case ID_TRAY_PAUSE:
      TogglePause();
      return true;
    case ID_TRAY_VIEW:
      SendMessageA(video_.Window(), WM_COMMAND, MAKEWPARAM(IDC_VIEW, BN_CLICKED), 0);
      return true;
    case ID_TRAY_HELP:
      ShellExecuteA(hwnd_, "open", kHelpPage, nullptr, nullptr, SW_SHOWNORMAL);
      return true;
    case ID_TRAY_ABOUT:
      SplashWindow::ShowAbout(instance_, hwnd_);
      return true;
    case ID_TRAY_EXIT:
      PostMessageA(hwnd_, WM_CLOSE, 0, 0);
      return true;
    default:
      return false;
  }
}

void MainSheet::OnHotKey(LPARAM lp) {
  if (in_hot_key_) return;
  in_hot_key_ = true;
  // The message's key code and modifiers, in the stored value's places.
  const uint32_t pressed = (static_cast<uint32_t>(HIWORD(lp)) << 16) | LOWORD(lp);
  if (HotKeysMatch(pressed, video_.StartHotKey())) {
    ToggleStartStop();
  } else if (HotKeysMatch(pressed, video_.PauseHotKey())) {
    TogglePause();
  }
  in_hot_key_ = false;
}

void MainSheet::OnActivateApp(bool active) {
  if (in_activation_ || destroyed_) return;
  in_activation_ = true;
  if (active) {
    SetTopmost(options_.Values().always_on_top != 0);
  } else {
    ConfirmAll();
  }
  in_activation_ = false;
}

bool MainSheet::ConfirmAll() {
  bool all = true;
  for (SettingsPage* page : pages_) {
    if (page->Created() && !page->Confirm()) all = false;
  }
  return all;
}

void MainSheet::StartStopFromPage() { ToggleStartStop(); }

RecordingSettings MainSheet::CurrentSettings() {
  const CodecChoice* codec = video_.Codec();
  CodecUse use;
  if (codec != nullptr && codec->kind == CodecChoice::Kind::kInstalled) {
    use.compressor = &parts_.Compressor();
  } else {
    use.encoder = parts_.MakeEncoder(codec != nullptr ? codec->kind : CodecChoice::Kind::kOwnLossless);
  }
  std::string path = video_.GetOutputPath(options_.Values().overwrite_option);
  // The edits as they are now: a number typed just before the hot key was
  // pressed may not have been read by a tick yet.
  tracker_.Tick();
  const bool record_audio = audio_.RecordAudio();
  if (record_audio) audio_.ConfigureSound();
  return FillRecording(OutputKindOfFormatIndex(video_.FormatIndex()), use, std::move(path), tracker_.GetRect(),
                       video_.FpsText(), record_audio, info_.Texts());
}

void MainSheet::ToggleStartStop() {
  // One start or stop at a time, whatever asked for it: a message box of a
  // start (a failure, a question) lets the tray and the hot keys through.
  if (in_start_stop_) return;
  in_start_stop_ = true;
  RecordingController& c = parts_.Controller();
  try {
    if (c.IsRecording()) {
      c.ToggleStartStop(RecordingSettings{});
    } else if (ConfirmAll()) {  // every page's confirm step; a refusal cancels the start
      const RecordingSettings s = CurrentSettings();
      c.ToggleStartStop(s);
      if (c.IsRecording()) {
        Trace(nullptr, "kelvo: recording %dx%d at %d,%d into %s\n", s.capture_rect.Width(), s.capture_rect.Height(),
              s.capture_rect.left, s.capture_rect.top, s.output_path.c_str());
      }
    }
  } catch (...) {
    // A start that threw counts as a failed start.
    if (!c.IsRecording()) c.Stop();
  }
  in_start_stop_ = false;
}

void MainSheet::TogglePause() {
  try {
    parts_.Controller().TogglePause();
  } catch (...) {
  }
}

void MainSheet::OnStarting(const RecordingSettings&) {
  if (options_.Values().hide_wallpaper) {
    wallpaper_.Hide();
    wallpaper_hidden_ = true;
  }
  SendMessageA(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (tray_ != nullptr) tray_->Modify(IDI_RECORDING);
  video_.ShowRecording(true);
  tracker_.SetRecording(true);
  if (options_.Values().show_border) {
    tracker_.Tick();
    border_.Show();
  } else {
    border_.Hide();
  }
}

void MainSheet::OnStopped() {
  tracker_.SetRecording(false);
  video_.ShowRecording(false);
  if (!destroyed_) SendMessageA(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
  if (wallpaper_hidden_) {
    wallpaper_.Restore();
    wallpaper_hidden_ = false;
  }
  if (tray_ != nullptr) tray_->Modify(IDI_IDLE);
}

void MainSheet::OnPaused() {
  if (tray_ != nullptr) tray_->Modify(IDI_IDLE);
}

void MainSheet::OnResumed() {
  if (tray_ != nullptr) tray_->Modify(IDI_RECORDING);
}

void MainSheet::OnClose() {
  if (IsRecording() &&
      Say(hwnd_, page_texts::kExitWhileRecording, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return;
  }
  DestroyWindow(hwnd_);
}

void MainSheet::OnSessionEnding() {
  if (!IsRecording()) return;
  Trace(nullptr, "kelvo: the session ends: the recording stops\n");
  destroyed_ = true;  // the window is not brought back
  if (in_start_stop_) {
    parts_.Controller().Stop();  // inside a start's message box
  } else {
    ToggleStartStop();
  }
  destroyed_ = false;
}

void MainSheet::OnDestroy() {
  destroyed_ = true;
  if (IsRecording()) ToggleStartStop();
  KillTimer(hwnd_, kTrackerTimer);
  for (SettingsPage* page : pages_) page->SaveAtExit();
  border_.Destroy();
  if (tray_ != nullptr) tray_->Delete();
}

void MainSheet::HideForSelection() {
  selection_hid_window_ = IsWindowVisible(hwnd_) != FALSE;
  if (selection_hid_window_) ShowWindow(hwnd_, SW_HIDE);
}

void MainSheet::RestoreAfterSelection() {
  // The restore step: the window back where it was hidden, and the border
  // as the options say (the selection showed it whatever they say).
  if (selection_hid_window_) {
    selection_hid_window_ = false;
    SendMessageA(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
  } else if (options_.Values().show_border == 0) {
    border_.Hide();
  }
}

bool MainSheet::IsVisible() { return IsWindowVisible(hwnd_) != FALSE; }

void MainSheet::ShowStop(const std::string& text) { Say(hwnd_, text, MB_OK | MB_ICONSTOP); }

}  // namespace kmr::win
