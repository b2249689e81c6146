#include "recorder/ui/win/video_page.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdlib>

#include "recorder/ui/hotkeys/hot_key.h"
#include "recorder/ui/settings/win/registry_settings_store.h"
#include "recorder/ui/win/kelvo_resource.h"
#include "recorder/ui/win/splash_window.h"
#include "recorder/ui/win/win_ui.h"
#include "shared/path_name.h"

namespace kmr::win {

namespace {

constexpr const char* kCodecPage = "http://www.norvane.com/kelvo/codecs/";
constexpr int kFieldIds[4] = {IDC_LEFT, IDC_TOP, IDC_WIDTH, IDC_HEIGHT};

}  // namespace

std::string LayoutKeyName(uint32_t list_code) {
  const UINT vk = list_code & 0xFF;
  const UINT scan = MapVirtualKeyA(vk, 0);
  const LONG lparam = static_cast<LONG>((scan << 16) | ((list_code & kExtendedKeyFlag) ? (1u << 24) : 0));
  char name[64] = "";
  if (scan != 0 && GetKeyNameTextA(lparam, name, sizeof(name)) > 0) return name;
  return VirtualKeyName(vk);
}

std::string HotKeyText(uint32_t value) { return HotKeyName(value, LayoutKeyName); }

VideoPage::VideoPage(SheetHost* host, SettingsStore* store, RecorderParts* parts)
    : SettingsPage(IDD_VIDEO, host, store), parts_(parts) {
  start_ = PageHotKey{&settings_.start_hot_key, IDC_START_ALT, IDC_START_CTRL, IDC_START_SHIFT, IDC_START_KEY};
  pause_ = PageHotKey{&settings_.pause_hot_key, IDC_PAUSE_ALT, IDC_PAUSE_CTRL, IDC_PAUSE_SHIFT, IDC_PAUSE_KEY};
  // The keys are known before the page exists: the tray menu names them.
  settings_.Load(store, WindowsDocumentsFolder());
  start_.value = settings_.start_hot_key;
  pause_.value = settings_.pause_hot_key;
}

void VideoPage::OnInit() {
  for (PageHotKey* key : {&start_, &pause_}) {
    key->value = *key->value_in_settings;
    for (uint32_t code : HotKeyListCodes()) AddItem(hwnd_, key->list, LayoutKeyName(code), code);
    SelectKey(*key);
  }
  // Until the real lists exist, empty items hold the stored places (a
  // damaged stored index takes the first).
  settings_.format = StoredListPlace(settings_.format, FormatCount());
  settings_.codec = StoredListPlace(settings_.codec, kCodecListPlaces);
  for (const auto& [list, place] : {std::pair<int, int>{IDC_FORMAT, settings_.format}, {IDC_CODEC, settings_.codec}}) {
    while (ItemCount(hwnd_, list) <= place) {
      const int before = ItemCount(hwnd_, list);
      AddItem(hwnd_, list, "", 0);
      if (ItemCount(hwnd_, list) == before) break;  // the list takes no more
    }
  }
  Select(hwnd_, IDC_FORMAT, settings_.format);
  Select(hwnd_, IDC_CODEC, settings_.codec);
  for (const char* fps : {"5", "10", "15", "20", "25", "30"}) AddItem(hwnd_, IDC_FPS, fps, 0);
  SetControlText(hwnd_, IDC_FPS, std::to_string(settings_.fps));
  ShowPath();
  const int option = settings_.capture_option < 0 || settings_.capture_option > 2 ? 1 : settings_.capture_option;
  Check(hwnd_, IDC_FULL_SCREEN + option, true);
  // The stored region is the region mode's, whatever mode is shown.
  RegionTracker* tracker = host_->Tracker();
  tracker->SetMode(RegionTracker::kRegion);
  tracker->SetRect(Rect{settings_.left, settings_.top, settings_.left + settings_.width, settings_.top + settings_.height});
  OnCaptureOption(option);
  RegisterHotKeyFromControls(&start_);
  RegisterHotKeyFromControls(&pause_);
  fps_ = FrameRateConfirmation(FrameRateConfirmation::Value(FpsText()));
  const Rect r = tracker->GetRect();
  Write(kLeft, r.left);
  Write(kTop, r.top);
  Write(kWidth, r.Width());
  Write(kHeight, r.Height());
  tracker->AttachEdits(this);
}

void VideoPage::ShowPath() {
  SetControlText(hwnd_, IDC_PATH, settings_.path);
  // The end of a long path is what tells files apart.
  SendDlgItemMessageA(hwnd_, IDC_PATH, WM_KEYDOWN, VK_END, 0);
  SendDlgItemMessageA(hwnd_, IDC_PATH, WM_KEYUP, VK_END, 0);
}

void VideoPage::FillFormats() {
  if (hwnd_ == nullptr) return;
  {
    Quiet quiet(this);
    ClearItems(hwnd_, IDC_FORMAT);
    for (const OutputFormatName& f : OutputFormatNames()) AddItem(hwnd_, IDC_FORMAT, FormatListItem(f), 0);
    settings_.format = Clamp(settings_.format, ItemCount(hwnd_, IDC_FORMAT));
    Select(hwnd_, IDC_FORMAT, settings_.format);
    formats_filled_ = true;
  }
  OnFormatChange(true);
}

void VideoPage::OnFormatChange(bool restoring) {
  const int format = Selection(hwnd_, IDC_FORMAT);
  if (format < 0) return;
  settings_.format = format;
  if (!restoring) settings_.codec = -1;
  PathName path(settings_.path.c_str());
  if (path.ReplaceExtension(FormatExtension(format))) settings_.path = path.Get();
  ShowPath();
  HCURSOR was = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  // The compressors as installed now, listed with the page's list.
  parts_->RelistCompressors();
  choices_ = CodecChoicesFor(format, parts_->CompressorNames());
  ClearItems(hwnd_, IDC_CODEC);
  for (const CodecChoice& c : choices_) AddUtf8Item(hwnd_, IDC_CODEC, c.name, 0);
  settings_.codec = PickCodecChoice(format, choices_, parts_->CompressorHandlers(), settings_.codec);
  Select(hwnd_, IDC_CODEC, settings_.codec);
  SetCursor(was);
  OnCodecChange();
  SetModified();
}

const CodecChoice* VideoPage::Codec() const {
  if (!formats_filled_ || settings_.codec < 0 || settings_.codec >= static_cast<int>(choices_.size())) return nullptr;
  return &choices_[static_cast<size_t>(settings_.codec)];
}

void VideoPage::OnCodecChange() {
  const int sel = Selection(hwnd_, IDC_CODEC);
  if (sel < 0 || sel >= static_cast<int>(choices_.size())) return;
  if (choices_[static_cast<size_t>(sel)].kind == CodecChoice::Kind::kMoreOnWeb) {
    ShellExecuteA(hwnd_, "open", kCodecPage, nullptr, nullptr, SW_SHOWNORMAL);
    Select(hwnd_, IDC_CODEC, Clamp(settings_.codec, static_cast<int>(choices_.size())));
    return;
  }
  settings_.codec = sel;
  const CodecChoice& c = choices_[static_cast<size_t>(sel)];
  bool configurable = false;
  if (c.kind == CodecChoice::Kind::kInstalled && parts_->Compressor().Select(c.compressor)) {
    configurable = parts_->Compressor().HasConfigureDialog();
  }
  Enable(hwnd_, IDC_CODEC_CONFIG, configurable);
  SetModified();
}

void VideoPage::OnCaptureOption(int option) {
  static const char* const kSelectTexts[3] = {"Fixed region", "Select a region", "Select a window"};
  Enable(hwnd_, IDC_SELECT, option != 0);
  for (int id : kFieldIds) Enable(hwnd_, id, option == 1);
  SetControlText(hwnd_, IDC_SELECT, kSelectTexts[option]);
  settings_.capture_option = option;
  host_->Tracker()->SetMode(option);
  SetModified();
}

void VideoPage::SelectKey(const PageHotKey& key) {
  const uint32_t code = HotKeyListCode(key.value);
  const int n = ItemCount(hwnd_, key.list);
  for (int i = 0; i < n; ++i) {
    if (static_cast<uint32_t>(ItemData(hwnd_, key.list, i)) == code) Select(hwnd_, key.list, i);
  }
  const uint32_t m = HotKeyModifiers(key.value);
  Check(hwnd_, key.alt, (m & kHotKeyAlt) != 0);
  Check(hwnd_, key.ctrl, (m & kHotKeyCtrl) != 0);
  Check(hwnd_, key.shift, (m & kHotKeyShift) != 0);
}

void VideoPage::RegisterHotKeyFromControls(PageHotKey* key) {
  HWND window = GetParent(hwnd_);
  const int sel = Selection(hwnd_, key->list);
  const uint32_t code = sel >= 0 ? static_cast<uint32_t>(ItemData(hwnd_, key->list, sel)) : HotKeyListCode(key->value);
  const uint32_t wanted = HotKeyFromControls(code, IsChecked(hwnd_, key->alt), IsChecked(hwnd_, key->ctrl),
                                             IsChecked(hwnd_, key->shift));
  if (!key->registered) {
    key->id = static_cast<int>(reinterpret_cast<uintptr_t>(GetDlgItem(hwnd_, key->list)) % 0xBFFF);
  } else {
    // The old combination goes, so that only the new one answers.
    UnregisterHotKey(window, key->id);
  }
  if (RegisterHotKey(window, key->id, HotKeyModifiers(wanted), HotKeyCode(wanted))) {
    key->value = wanted;
    *key->value_in_settings = wanted;
    key->registered = true;
    SetModified();
    return;
  }
  if (key->registered) RegisterHotKey(window, key->id, HotKeyModifiers(key->value), HotKeyCode(key->value));
  Say(hwnd_, FormatText(page_texts::kHotKeyInUse, HotKeyText(wanted)), MB_OK | MB_ICONINFORMATION);
  Quiet quiet(this);
  SelectKey(*key);
}

void VideoPage::OnChange() {
  const std::vector<OutputFormatName>& formats = OutputFormatNames();
  const int current = settings_.format;
  std::string filter = SaveDialogFilter(formats, current);
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  PathName path(settings_.path.c_str());
  std::string initial;
  path.Directory(&initial, true);
  std::string name;
  path.Name(&name, false);
  char file[MAX_PATH] = "";
  lstrcpynA(file, (initial + name).c_str(), MAX_PATH);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = GetParent(hwnd_);
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = FormatExtension(current);
  ofn.Flags = OFN_HIDEREADONLY;
  SetForegroundWindow(GetParent(hwnd_));
  const BOOL ok = GetSaveFileNameA(&ofn);
  SetCurrentDirectoryA(OwnFolder().c_str());
  if (!ok) return;
  settings_.path = file;
  const int format = FormatOfPath(formats, settings_.path);
  if (format >= 0) Select(hwnd_, IDC_FORMAT, format);
  OnFormatChange(format < 0 || format == current);
}

void VideoPage::OnView() {
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string explorer = std::string(windows) + "\\explorer.exe";
  PathName path(settings_.path.c_str());
  if (path.Exists()) {
    ShellExecuteA(nullptr, "open", explorer.c_str(), ("/select," + settings_.path).c_str(), nullptr, SW_SHOWNORMAL);
    ShellExecuteA(nullptr, "open", settings_.path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } else {
    std::string folder;
    path.Directory(&folder, true);
    ShellExecuteA(nullptr, "open", explorer.c_str(), folder.c_str(), nullptr, SW_SHOWNORMAL);
  }
  host_->MinimiseWithBalloon();
}

bool VideoPage::OnCommand(int id, int code) {
  switch (id) {
    case IDC_CHANGE:
      OnChange();
      return true;
    case IDC_VIEW:
      OnView();
      return true;
    case IDC_FORMAT:
      if (code == CBN_SELCHANGE) OnFormatChange(false);
      return true;
    case IDC_CODEC:
      if (code == CBN_SELCHANGE) OnCodecChange();
      return true;
    case IDC_CODEC_CONFIG:
      parts_->Compressor().ShowConfigureDialog(GetParent(hwnd_));
      return true;
    case IDC_FULL_SCREEN:
    case IDC_REGION:
    case IDC_WINDOW:
      if (code == BN_CLICKED) OnCaptureOption(id - IDC_FULL_SCREEN);
      return true;
    case IDC_SELECT:
      host_->Tracker()->SetSelecting(true);
      host_->ShowBorder(true);
      return true;
    case IDC_START_ALT:
    case IDC_START_CTRL:
    case IDC_START_SHIFT:
      RegisterHotKeyFromControls(&start_);
      return true;
    case IDC_PAUSE_ALT:
    case IDC_PAUSE_CTRL:
    case IDC_PAUSE_SHIFT:
      RegisterHotKeyFromControls(&pause_);
      return true;
    case IDC_START_KEY:
      if (code == CBN_SELCHANGE) RegisterHotKeyFromControls(&start_);
      return true;
    case IDC_PAUSE_KEY:
      if (code == CBN_SELCHANGE) RegisterHotKeyFromControls(&pause_);
      return true;
    case IDC_START:
      host_->StartStopFromPage();
      return true;
    default:
      return false;
  }
}

std::string VideoPage::FpsText() const { return hwnd_ == nullptr ? std::to_string(settings_.fps) : ControlText(hwnd_, IDC_FPS); }

void VideoPage::ShowRecording(bool on) {
  if (hwnd_ != nullptr) SetControlText(hwnd_, IDC_START, on ? "Stop" : "Start");
}

std::string VideoPage::GetOutputPath(int overwrite_option) {
  PathName path;
  if (!path.Set(settings_.path.c_str()) || settings_.path.empty()) return {};
  // The default folder ("Screen Videos") is made on first use.
  std::string dir;
  path.Directory(&dir, false);
  if (!dir.empty() && !PathName(dir.c_str()).Exists()) path.CreateDirectories(false);
  const OverwriteResult result = ApplyOverwriteOption(overwrite_option, &path, [&](const std::string& p) {
    return Say(GetParent(hwnd_), FormatText(page_texts::kAlreadyExists, p), MB_YESNO | MB_ICONQUESTION) == IDYES;
  });
  if (result == OverwriteResult::kDeclined || result == OverwriteResult::kNoFreeName) return {};
  if (result == OverwriteResult::kRenumbered) {
    settings_.path = path.Get();
    if (hwnd_ != nullptr) ShowPath();
  }
  std::string out = path.Get();
  if (out.size() > kMaxPath - 1) out.resize(kMaxPath - 1);
  return out;
}

int32_t VideoPage::Read(Field field) {
  return static_cast<int32_t>(std::atoi(ControlText(hwnd_, kFieldIds[field]).c_str()));
}

void VideoPage::Write(Field field, int32_t value) {
  if (hwnd_ != nullptr) SetControlText(hwnd_, kFieldIds[field], std::to_string(value));
}

bool VideoPage::Confirm() {
  if (hwnd_ == nullptr) return true;
  for (int option = 0; option < 3; ++option) {
    if (IsChecked(hwnd_, IDC_FULL_SCREEN + option)) settings_.capture_option = option;
  }
  // The edits are the user's only in region mode; in the other modes they
  // show the screen or the window, and the stored region stays as it was.
  if (settings_.capture_option == 1) {
    const RegionFieldLimits limits =
        RegionLimitsFor(GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    const int32_t highs[4] = {limits.left, limits.top, limits.width, limits.height};
    int32_t values[4];
    for (int f = 0; f < 4; ++f) {
      if (!ReadNumber(kFieldIds[f], 0, highs[f], &values[f])) {
        if (!host_->IsRecording()) host_->ShowSettings();
        return false;
      }
    }
    settings_.left = values[0];
    settings_.top = values[1];
    settings_.width = values[2];
    settings_.height = values[3];
  }
  const std::string typed = FpsText();
  settings_.fps = FrameRateConfirmation::Value(typed);
  settings_.Save(store_, false);
  if (!fps_.NeedsQuestion(typed)) {
    fps_.Confirm(typed);
    return true;
  }
  const std::string question =
      FormatText(page_texts::kFpsTooHigh, FrameRateConfirmation::kLowest, FrameRateConfirmation::kHighest);
  if (Say(GetParent(hwnd_), question, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) == IDYES) {
    fps_.Confirm(typed);
    return true;
  }
  // "No": the value is not taken, and a start waiting on it does not happen.
  if (!host_->IsRecording()) {
    host_->ShowSettings();
    host_->ActivatePage(0);
  }
  return false;
}

void VideoPage::SaveAtExit() {
  if (hwnd_ != nullptr) {
    for (int option = 0; option < 3; ++option) {
      if (IsChecked(hwnd_, IDC_FULL_SCREEN + option)) settings_.capture_option = option;
    }
    const Rect r = host_->Tracker()->GetRect();
    if (settings_.capture_option == 1 && !r.IsEmpty()) {
      settings_.left = r.left;
      settings_.top = r.top;
      settings_.width = r.Width();
      settings_.height = r.Height();
    }
    settings_.fps = FrameRateConfirmation::Value(FpsText());
  }
  settings_.Save(store_, true);
}

}  // namespace kmr::win
