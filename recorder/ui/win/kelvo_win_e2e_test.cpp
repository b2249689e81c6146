// kelvo.exe end to end (under wine64 on a virtual display): the recorder is
// started with a fresh registry, its pages are looked at and photographed,
// settings are made through the controls and the save dialog, a window of
// this test is recorded with the hot keys and the notification-area menu,
// and the self-playing file it wrote is played back to its last frame.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr const char* kTitle = "Kelvo 1.0";
constexpr const char* kRoot = "Software\\Norvane\\Kelvo";
constexpr int kCanvasLeft = 100, kCanvasTop = 100, kCanvasWidth = 320, kCanvasHeight = 240;
constexpr DWORD kDeadlineMs = 60000;

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

// Runs this thread's messages (the canvas paints) until the condition holds
// or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, DWORD deadline_ms = kDeadlineMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (condition()) return true;
    if (GetTickCount() - start > deadline_ms) return condition();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

struct FindArgs {
  DWORD pid;
  const char* cls;
  const char* title;
  HWND found;
};

BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
  auto* a = reinterpret_cast<FindArgs*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != a->pid || !IsWindowVisible(hwnd)) return TRUE;
  char text[256] = "", cls[64] = "";
  GetWindowTextA(hwnd, text, sizeof(text));
  GetClassNameA(hwnd, cls, sizeof(cls));
  if ((a->title == nullptr || std::strcmp(text, a->title) == 0) && (a->cls == nullptr || std::strcmp(cls, a->cls) == 0)) {
    a->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window of a process, by class and title (null: any).
HWND FindWindowOf(DWORD pid, const char* cls, const char* title) {
  FindArgs a{pid, cls, title, nullptr};
  EnumWindows(FindProc, reinterpret_cast<LPARAM>(&a));
  return a.found;
}

// Texts of the recorder's controls, asked in UTF-16 (the form in which they
// cross between processes); they are plain ASCII here.
std::string Narrow(const wchar_t* w) {
  std::string out;
  for (; *w != 0; ++w) out += *w < 128 ? static_cast<char>(*w) : '?';
  return out;
}

std::string Text(HWND w) {
  wchar_t buf[512] = L"";
  SendMessageW(w, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf));
  return Narrow(buf);
}

std::string ItemText(HWND dialog, int id, int index) {
  wchar_t buf[256] = L"";
  SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf));
  return Narrow(buf);
}

int ComboCount(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0)); }

void PressKey(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return -1;
  return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

// Waits until a file's size has not changed for quiet_ms.
bool FileStaysTheSame(const std::string& path, DWORD quiet_ms) {
  int64_t size = FileSize(path);
  DWORD since = GetTickCount();
  return WaitFor([&] {
    const int64_t now = FileSize(path);
    if (now != size) {
      size = now;
      since = GetTickCount();
    }
    return GetTickCount() - since >= quiet_ms;
  });
}

// The screen under a window, 24 bits a pixel, bottom-up rows.
std::vector<uint8_t> Grab(HWND w, BITMAPINFOHEADER* header) {
  RECT r{};
  GetWindowRect(w, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  const auto* p = static_cast<const uint8_t*>(bits);
  std::vector<uint8_t> pixels(p, p + stride * static_cast<size_t>(height));
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  *header = bi.bmiHeader;
  return pixels;
}

// A photograph of a window once it has painted everything, kept as a
// bitmap file; the number of different colours in it
// (a page with controls has many).
size_t Photograph(HWND w, const std::string& path) {
  RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  BITMAPINFOHEADER header{};
  std::vector<uint8_t> pixels = Grab(w, &header);
  // Painting is done when the picture stays the same for half a second, but
  // for what keeps moving by design: a blinking caret, the running dashes of
  // the border around the region (up to 2% of the bytes).
  const auto differ = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return true;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n > a.size() / 50;
  };
  DWORD same_since = GetTickCount();
  WaitFor([&] {
    std::vector<uint8_t> again = Grab(w, &header);
    if (differ(again, pixels)) {
      pixels.swap(again);
      same_since = GetTickCount();
    }
    return GetTickCount() - same_since >= 500;
  });
  std::vector<uint32_t> seen;
  for (size_t i = 0; i + 2 < pixels.size() && seen.size() < 64; i += 3) {
    const uint32_t c = pixels[i] | (pixels[i + 1] << 8) | (pixels[i + 2] << 16);
    bool known = false;
    for (uint32_t s : seen) known = known || s == c;
    if (!known) seen.push_back(c);
  }
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(header);
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + pixels.size());
    std::fwrite(&fh, sizeof(fh), 1, f);
    std::fwrite(&header, sizeof(header), 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
  }
  return seen.size();
}

DWORD RegNumber(const char* key, const char* name) {
  DWORD value = 0xDEADBEEF, size = sizeof(value);
  SHGetValueA(HKEY_CURRENT_USER, (std::string(kRoot) + "\\" + key).c_str(), name, nullptr, &value, &size);
  return value;
}

std::string RegText(const char* key, const char* name) {
  char buf[600] = "";
  DWORD size = sizeof(buf);
  SHGetValueA(HKEY_CURRENT_USER, (std::string(kRoot) + "\\" + key).c_str(), name, nullptr, buf, &size);
  return buf;
}

// The window this test draws in, right where the region is.
COLORREF g_canvas_colour = RGB(0, 0, 255);

LRESULT CALLBACK CanvasProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT all{0, 0, kCanvasWidth, kCanvasHeight};
    HBRUSH fill = CreateSolidBrush(g_canvas_colour);
    FillRect(dc, &all, fill);
    DeleteObject(fill);
    RECT mark{100, 80, 220, 160};
    FillRect(dc, &mark, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// A topmost window of this test right over the region.
HWND MakeTestWindow(const char* class_name, WNDPROC proc) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = class_name;
  RegisterClassA(&wc);
  return CreateWindowExA(WS_EX_TOPMOST, class_name, class_name, WS_POPUP | WS_VISIBLE, kCanvasLeft, kCanvasTop,
                         kCanvasWidth, kCanvasHeight, nullptr, nullptr, wc.hInstance, nullptr);
}

HWND MakeCanvas() { return MakeTestWindow("KelvoTestCanvas", CanvasProc); }

// A canvas that changes all over at every tick of its timer: frames that
// code large.
LRESULT CALLBACK NoiseProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  static uint32_t seed = 12345;
  if (msg == WM_TIMER) {
    InvalidateRect(hwnd, nullptr, FALSE);
    return 0;
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    for (int y = 0; y < kCanvasHeight; y += 4) {
      for (int x = 0; x < kCanvasWidth; x += 4) {
        seed = seed * 1103515245u + 12345u;
        RECT cell{x, y, x + 4, y + 4};
        HBRUSH b = CreateSolidBrush(RGB(seed >> 24, seed >> 16, seed >> 8));
        FillRect(dc, &cell, b);
        DeleteObject(b);
      }
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND MakeNoiseCanvas() {
  HWND w = MakeTestWindow("KelvoTestNoise", NoiseProc);
  if (w != nullptr) SetTimer(w, 1, 20, nullptr);
  return w;
}

void SetRegNumber(const char* key, const char* name, DWORD value) {
  SHSetValueA(HKEY_CURRENT_USER, (std::string(kRoot) + "\\" + key).c_str(), name, REG_DWORD, &value, sizeof(value));
}

void SetRegText(const char* key, const char* name, const std::string& value) {
  SHSetValueA(HKEY_CURRENT_USER, (std::string(kRoot) + "\\" + key).c_str(), name, REG_SZ, value.c_str(),
              static_cast<DWORD>(value.size() + 1));
}

// A recording into output, self-playing, over the region given, without the
// splash or sound: what the cases below start from.
void SetRecording(const std::string& output, DWORD format, DWORD left, DWORD top, DWORD width, DWORD height) {
  DeleteFileA(output.c_str());
  SetRegText("Video", "Path", output);
  SetRegNumber("Video", "Format", format);
  SetRegNumber("Video", "Capture Option", 1);
  SetRegNumber("Video", "Left", left);
  SetRegNumber("Video", "Top", top);
  SetRegNumber("Video", "Width", width);
  SetRegNumber("Video", "Height", height);
  SetRegNumber("Options", "Show Splash", 0);
  SetRegNumber("Audio", "Record Audio", 0);
}

// Plays a self-playing recording to its last frame and writes that picture
// as a bitmap; the player's exit code.
DWORD LastFrame(const std::string& recording, const std::string& bitmap) {
  std::string cmd = "\"" + recording + "\" --seek 3600 --screenshot \"" + bitmap + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  SetEnvironmentVariableA("MORVIN_QUIET", "1");
  DWORD code = 99;
  if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, kDeadlineMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  SetEnvironmentVariableA("MORVIN_QUIET", nullptr);
  return code;
}

// The recorder as a process of its own.
class KelvoProcess {
 public:
  ~KelvoProcess() {
    if (pi_.hProcess == nullptr) return;
    if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 9);
    WaitForSingleObject(pi_.hProcess, 10000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }
  // The recorder's debug log (its standard output) goes to log_path.
  bool Start(const std::string& log_path) {
    log_path_ = log_path;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE log = CreateFileA(log_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = log;
    std::string cmd = "\"" + WindowsPath(KELVO_PATH) + "\"";
    const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi_);
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    if (!started) return false;
    return WaitFor([&] { return (window_ = FindWindowOf(pi_.dwProcessId, nullptr, kTitle)) != nullptr; });
  }
  bool Ended(DWORD wait_ms = 0) const { return WaitForSingleObject(pi_.hProcess, wait_ms) == WAIT_OBJECT_0; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HWND Window() const { return window_; }
  HWND Page(int index) const {
    SendMessageA(window_, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return reinterpret_cast<HWND>(SendMessageA(window_, PSM_GETCURRENTPAGEHWND, 0, 0));
  }
  // A message box of the recorder's with that text in it.
  HWND MessageBoxSaying(const std::string& part) const {
    HWND box = FindWindowOf(pi_.dwProcessId, "#32770", kTitle);
    if (box == nullptr || box == window_) return nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      if (Text(c).find(part) != std::string::npos) return box;
    }
    return nullptr;
  }
  // The last line of the debug log that starts with prefix ("" when none).
  std::string LastLogLine(const std::string& prefix) const {
    std::string text, last;
    if (std::FILE* f = std::fopen(log_path_.c_str(), "rb")) {
      char buf[4096];
      for (size_t n; (n = std::fread(buf, 1, sizeof(buf), f)) > 0;) text.append(buf, n);
      std::fclose(f);
    }
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(at, end - at);
      if (line.rfind(prefix, 0) == 0) last = line;
      at = end + 1;
    }
    while (!last.empty() && (last.back() == '\r' || last.back() == ' ')) last.pop_back();
    return last;
  }
  // What a message box of the recorder's says, for failure reports.
  std::string Said() const {
    std::string said;
    if (HWND box = MessageBoxSaying("")) {
      for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) said += Text(c) + " ";
    }
    return said.empty() ? "no message" : said;
  }

 private:
  PROCESS_INFORMATION pi_{};
  HWND window_ = nullptr;
  std::string log_path_;
};

class KelvoWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    SHDeleteKeyA(HKEY_CURRENT_USER, kRoot);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "kmr_kelvo_e2e\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
    artefacts_ = WindowsPath(KELVO_ARTEFACTS) + "\\";
    CreateDirectoryA(artefacts_.c_str(), nullptr);
    SetCursorPos(1000, 740);  // the pointer stays out of the picture
  }
  void TearDown() override { SHDeleteKeyA(HKEY_CURRENT_USER, kRoot); }

  std::string dir_, artefacts_;
};

// Chooses the output file through the "Change" button's save dialog.
void ChooseOutput(const KelvoProcess& kelvo, HWND video, const std::string& path) {
  PostMessageA(GetDlgItem(video, 1002), BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    dialog = FindWindowOf(kelvo.Pid(), "#32770", "Save As");
    return dialog != nullptr;
  }));
  // The file name field: the combo box of the explorer-style dialog, or the
  // plain edit of the old one.
  HWND name = GetDlgItem(dialog, 0x47C);
  if (name == nullptr) name = GetDlgItem(dialog, 0x480);
  ASSERT_NE(name, nullptr);
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  ASSERT_TRUE(WaitFor([&] { return Text(GetDlgItem(video, 1001)) == path; })) << Text(GetDlgItem(video, 1001));
}

TEST_F(KelvoWindows, PagesSettingsAndARecordingMadeWithTheHotKeysAndTheMenu) {
  KelvoProcess kelvo;
  ASSERT_TRUE(kelvo.Start(dir_ + "kelvo-log.txt"));
  HWND sheet = kelvo.Window();
  // The splash shows at the first start and goes by itself.
  EXPECT_TRUE(WaitFor([&] { return FindWindowOf(kelvo.Pid(), "KelvoAbout", nullptr) != nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return FindWindowOf(kelvo.Pid(), "KelvoAbout", nullptr) == nullptr; }));

  // Every page with its controls and texts; a photograph of each.
  HWND video = kelvo.Page(0);
  ASSERT_NE(video, nullptr);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(video, 1004) == 3; })) << "the formats are filled after start-up";
  EXPECT_EQ(ItemText(video, 1004, 0), "AVI file");
  EXPECT_EQ(ItemText(video, 1004, 2), "EXE file");
  EXPECT_EQ(Text(GetDlgItem(video, 1001)).substr(Text(GetDlgItem(video, 1001)).size() - 7), "New.avi");
  EXPECT_EQ(ItemText(video, 1005, 0), "Norvane Screen Video (Lossless)");
  EXPECT_EQ(Text(GetDlgItem(video, 1007)), "Capture full screen.");
  EXPECT_EQ(Text(GetDlgItem(video, 1008)), "Capture a region.");
  EXPECT_EQ(Text(GetDlgItem(video, 1009)), "Capture a window.");
  EXPECT_EQ(Text(GetDlgItem(video, 1010)), "Select a region");
  EXPECT_EQ(Text(GetDlgItem(video, 1013)), "640");
  EXPECT_EQ(Text(GetDlgItem(video, 1016)), "Alt +");
  EXPECT_EQ(Text(GetDlgItem(video, 1024)), "Start");
  EXPECT_EQ(ComboCount(video, 1019), 73);
  EXPECT_EQ(ComboCount(video, 1015), 6);
  EXPECT_EQ(Text(GetDlgItem(video, 1019)), "F2");
  EXPECT_EQ(Text(GetDlgItem(video, 1023)), "F3");
  EXPECT_GT(Photograph(sheet, artefacts_ + "kelvo-video.bmp"), 4u);

  HWND audio = kelvo.Page(1);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(Text(GetDlgItem(audio, 1101)), "Record audio along with video.");
  EXPECT_EQ(Text(GetDlgItem(audio, 1102)), "Don't record audio.");
  EXPECT_EQ(ItemText(audio, 1103, 0), "[Default Audio Device]");
  EXPECT_EQ(ComboCount(audio, 1107), 6);
  EXPECT_EQ(ItemText(audio, 1107, 1), "22050 Hz");
  EXPECT_EQ(ComboCount(audio, 1108), 10);
  EXPECT_EQ(ItemText(audio, 1108, 5), " 5 - Normal");
  EXPECT_GT(Photograph(sheet, artefacts_ + "kelvo-audio.bmp"), 4u);
  // No MP3 encoder library here: the recording is made without sound.
  SendMessageA(GetDlgItem(audio, 1102), BM_CLICK, 0, 0);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(audio, 1103)));

  HWND info = kelvo.Page(2);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(Text(GetDlgItem(info, 1201)), "Untitled");
  EXPECT_GT(Photograph(sheet, artefacts_ + "kelvo-info.bmp"), 4u);

  HWND options = kelvo.Page(3);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(Text(GetDlgItem(options, 1301)), "Run program automatically when Windows starts.");
  EXPECT_EQ(Text(GetDlgItem(options, 1306)), "Show border of the recording region.");
  EXPECT_EQ(SendDlgItemMessageA(options, 1307, LB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(IsDlgButtonChecked(options, 1304), BST_CHECKED);
  EXPECT_GT(Photograph(sheet, artefacts_ + "kelvo-options.bmp"), 4u);

  // The format: EXE makes New.avi New.exe and offers the two own codecs.
  video = kelvo.Page(0);
  SendDlgItemMessageA(video, 1004, CB_SETCURSEL, 2, 0);
  SendMessageA(video, WM_COMMAND, MAKEWPARAM(1004, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(video, 1004)));
  EXPECT_EQ(Text(GetDlgItem(video, 1001)).substr(Text(GetDlgItem(video, 1001)).size() - 7), "New.exe");
  EXPECT_EQ(ComboCount(video, 1005), 2);
  EXPECT_EQ(ItemText(video, 1005, 1), "Norvane Screen Video (Lossy)");
  // The output file, chosen in the save dialog.
  const std::string output = dir_ + "drawing.exe";
  DeleteFileA(output.c_str());
  ChooseOutput(kelvo, video, output);
  if (HasFatalFailure()) return;
  // The region over this test's canvas, typed into the edits.
  const std::pair<int, int> fields[] = {{1011, kCanvasLeft}, {1012, kCanvasTop}, {1013, kCanvasWidth}, {1014, kCanvasHeight}};
  for (const auto& [id, value] : fields) {
    const std::string number = std::to_string(value);
    SendDlgItemMessageA(video, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(number.c_str()));
  }
  EXPECT_GT(Photograph(sheet, artefacts_ + "kelvo-video-set.bmp"), 4u);

  // The canvas has the focus (Wine delivers hot keys while one of its
  // windows has it); the start hot key starts and the window goes away.
  HWND canvas = MakeCanvas();
  ASSERT_NE(canvas, nullptr);
  SetForegroundWindow(canvas);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == canvas; }));
  PressKey(VK_F2);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(sheet) && FileSize(output) > 0; }))
      << kelvo.Said();
  // Something drawn while recording reaches the file.
  const int64_t before = FileSize(output);
  g_canvas_colour = RGB(220, 30, 30);
  InvalidateRect(canvas, nullptr, TRUE);
  EXPECT_TRUE(WaitFor([&] { return FileSize(output) > before + 200; }));

  // The pause hot key pauses.
  SetForegroundWindow(canvas);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == canvas; }));
  PressKey(VK_F3);
  // Closing while recording asks; "no" keeps recording.
  PostMessageA(sheet, WM_CLOSE, 0, 0);
  HWND ask = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (ask = kelvo.MessageBoxSaying("Screen recording is in progress!")) != nullptr; }));
  PostMessageA(ask, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(ask, IDNO)));
  ASSERT_TRUE(WaitFor([&] { return kelvo.MessageBoxSaying("Screen recording") == nullptr; }));
  EXPECT_FALSE(kelvo.Ended());

  // The notification-area menu: Settings (grayed while recording), Stop,
  // Resume. Its third item resumes; what is drawn then is recorded.
  const auto choose_from_menu = [&](int downs, const std::string& shown) {
    PostMessageA(sheet, 2026, 0, WM_RBUTTONUP);
    ASSERT_TRUE(WaitFor([&] { return FindWindowOf(kelvo.Pid(), "#32768", nullptr) != nullptr; }));
    EXPECT_EQ(kelvo.LastLogLine("TrayMenu()"), "TrayMenu(): " + shown);
    for (int i = 0; i < downs; ++i) PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return FindWindowOf(kelvo.Pid(), "#32768", nullptr) == nullptr; }));
  };
  choose_from_menu(3, "Settings (grayed) | Stop <F2> | Resume <F3>");
  if (HasFatalFailure()) return;
  // Everything from before the pause has reached the file (the writer hands
  // it over at least once a second, and an unchanged screen adds nothing):
  // what the file gains next is the new drawing.
  EXPECT_TRUE(FileStaysTheSame(output, 1500));
  const int64_t resumed = FileSize(output);
  g_canvas_colour = RGB(30, 160, 60);
  InvalidateRect(canvas, nullptr, TRUE);
  EXPECT_TRUE(WaitFor([&] { return FileSize(output) > resumed + 200; }));
  choose_from_menu(2, "Settings (grayed) | Stop <F2> | Pause <F3>");
  if (HasFatalFailure()) return;
  // Stopping brings the window back.
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(sheet) != FALSE; }));
  EXPECT_EQ(Text(GetDlgItem(kelvo.Page(0), 1024)), "Start");
  // Idle: the pause item is grayed; "Settings" brings the window forward.
  choose_from_menu(1, "Settings | Start <F2> | Pause <F3> (grayed)");
  if (HasFatalFailure()) return;
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(sheet) != FALSE; }));
  DestroyWindow(canvas);

  // A second copy brings the first to the front and ends.
  SendMessageA(sheet, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(sheet); }));
  {
    KelvoProcess second;
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + WindowsPath(KELVO_PATH) + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, kDeadlineMs), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(sheet) != FALSE; }));

  // Closing when idle ends the program; the registry holds what the pages showed.
  PostMessageA(sheet, WM_CLOSE, 0, 0);
  ASSERT_TRUE(kelvo.Ended(kDeadlineMs));
  EXPECT_EQ(RegText("Video", "Path"), output);
  EXPECT_EQ(RegNumber("Video", "Format"), 2u);
  EXPECT_EQ(RegNumber("Video", "Capture Option"), 1u);
  EXPECT_EQ(RegNumber("Video", "Left"), static_cast<DWORD>(kCanvasLeft));
  EXPECT_EQ(RegNumber("Video", "Top"), static_cast<DWORD>(kCanvasTop));
  EXPECT_EQ(RegNumber("Video", "Width"), static_cast<DWORD>(kCanvasWidth));
  EXPECT_EQ(RegNumber("Video", "Height"), static_cast<DWORD>(kCanvasHeight));
  EXPECT_EQ(RegNumber("Video", "Start HotKey"), 0x00710000u);
  EXPECT_EQ(RegNumber("Audio", "Record Audio"), 0u);
  EXPECT_EQ(RegText("Info", "Title"), "Untitled");

  // The recording plays: its last frame is the canvas as drawn last.
  const std::string shot = artefacts_ + "kelvo-last-frame.bmp";
  DeleteFileA(shot.c_str());
  ASSERT_EQ(LastFrame(output, shot), 0u);
  std::FILE* f = std::fopen(shot.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> bmp;
  uint8_t buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof(buf), f)) > 0;) bmp.insert(bmp.end(), buf, buf + n);
  std::fclose(f);
  ASSERT_GT(bmp.size(), 54u);
  const auto le32 = [&](size_t at) {
    return static_cast<int32_t>(bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (static_cast<uint32_t>(bmp[at + 3]) << 24));
  };
  const int32_t width = le32(18), height = le32(22), bits = bmp[28] | (bmp[29] << 8);
  ASSERT_EQ(width, kCanvasWidth);
  ASSERT_EQ(height < 0 ? -height : height, kCanvasHeight);
  const size_t offset = static_cast<size_t>(le32(10)), bpp = static_cast<size_t>(bits) / 8;
  const size_t stride = (static_cast<size_t>(width) * bpp + 3) & ~static_cast<size_t>(3);
  const auto pixel = [&](int x, int y) {
    const int row = height > 0 ? kCanvasHeight - 1 - y : y;
    const uint8_t* p = &bmp[offset + static_cast<size_t>(row) * stride + static_cast<size_t>(x) * bpp];
    return RGB(p[2], p[1], p[0]);
  };
  EXPECT_EQ(pixel(10, 10), RGB(30, 160, 60));
  EXPECT_EQ(pixel(300, 220), RGB(30, 160, 60));
  EXPECT_EQ(pixel(160, 120), RGB(255, 255, 255));
  DeleteFileA(output.c_str());
}

// A combination another program holds is refused with its name and the
// page goes back to the hot key it had; a free one is taken and kept.
// The new key then starts and stops a recording into a folder that does not
// exist yet.
TEST_F(KelvoWindows, AHotKeyAnotherProgramHoldsIsRefusedWithItsName) {
  ASSERT_TRUE(RegisterHotKey(nullptr, 7, MOD_CONTROL, VK_F2));
  const std::string folder = dir_ + "made\\here\\";
  const std::string output = folder + "clip.exe";
  DeleteFileA(output.c_str());
  RemoveDirectoryA(folder.c_str());
  SetRegText("Video", "Path", output);
  SetRegNumber("Video", "Format", 2);
  SetRegNumber("Options", "Show Splash", 0);
  SetRegNumber("Audio", "Record Audio", 0);
  KelvoProcess kelvo;
  ASSERT_TRUE(kelvo.Start(dir_ + "kelvo-log.txt"));
  HWND video = kelvo.Page(0);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(video, 1004) == 3; }));
  PostMessageA(GetDlgItem(video, 1017), BM_CLICK, 0, 0);  // "Ctrl +" of the start key
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = kelvo.MessageBoxSaying("Failed to register the hotkey:")) != nullptr; }));
  EXPECT_NE(kelvo.MessageBoxSaying("<Ctrl + F2>"), nullptr);
  EXPECT_NE(kelvo.MessageBoxSaying("It is in use. Please try other keys."), nullptr);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  ASSERT_TRUE(WaitFor([&] { return kelvo.MessageBoxSaying("Failed to register") == nullptr; }));
  EXPECT_EQ(SendDlgItemMessageA(video, 1017, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(Text(GetDlgItem(video, 1019)), "F2");
  // Alt + F2 is free.
  SendMessageA(GetDlgItem(video, 1016), BM_CLICK, 0, 0);
  EXPECT_EQ(SendDlgItemMessageA(video, 1016, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(kelvo.MessageBoxSaying("Failed to register"), nullptr);
  HWND canvas = MakeCanvas();
  ASSERT_NE(canvas, nullptr);
  SetForegroundWindow(canvas);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == canvas; }));
  const auto alt_f2 = [] {
    INPUT in[4] = {};
    for (INPUT& i : in) i.type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[3].ki.wVk = VK_MENU;
    in[1].ki.wVk = in[2].ki.wVk = VK_F2;
    in[2].ki.dwFlags = in[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, in, sizeof(INPUT));
  };
  alt_f2();
  EXPECT_TRUE(WaitFor([&] { return FileSize(output) > 0 && !IsWindowVisible(kelvo.Window()); }))
      << kelvo.Said();
  SetForegroundWindow(canvas);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == canvas; }));
  alt_f2();
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(kelvo.Window()) != FALSE; }));
  DestroyWindow(canvas);
  PostMessageA(kelvo.Window(), WM_CLOSE, 0, 0);
  ASSERT_TRUE(kelvo.Ended(kDeadlineMs));
  UnregisterHotKey(nullptr, 7);
  EXPECT_EQ(RegNumber("Video", "Start HotKey"), 0x00710001u);
  EXPECT_EQ(LastFrame(output, artefacts_ + "kelvo-alt-f2.bmp"), 0u);
  DeleteFileA(output.c_str());
}

// The region the user set survives the other modes, whatever confirms the
// pages meanwhile; "no" to the frames-per-second question cancels the start;
// damaged stored list places do not stop the program from coming up.
TEST_F(KelvoWindows, TheRegionSurvivesEveryModeAndNoCancelsTheStart) {
  const std::string output = dir_ + "never.exe";
  SetRecording(output, 0x7FFFFFFF, 100, 80, 320, 240);
  SetRegNumber("Video", "Codec", 0x7FFFFFFF);
  KelvoProcess kelvo;
  ASSERT_TRUE(kelvo.Start(dir_ + "kelvo-log.txt"));
  HWND sheet = kelvo.Window();
  HWND video = kelvo.Page(0);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(video, 1004) == 3; })) << "the page did not come up";
  EXPECT_EQ(Text(GetDlgItem(video, 1013)), "320");

  // Full screen: the edits show the screen; the pages are confirmed as
  // when the user switches to another program.
  SendMessageA(GetDlgItem(video, 1007), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return Text(GetDlgItem(video, 1013)) == "1024"; }));
  SendMessageA(sheet, WM_ACTIVATEAPP, FALSE, 0);
  // A window with none picked: the edits show nothing to record.
  SendMessageA(GetDlgItem(video, 1009), BM_CLICK, 0, 0);
  SendMessageA(sheet, WM_ACTIVATEAPP, FALSE, 0);
  EXPECT_EQ(kelvo.MessageBoxSaying(""), nullptr) << kelvo.Said();

  // 60 frames a second, asked about at the start; "no" starts nothing.
  SendMessageA(GetDlgItem(video, 1007), BM_CLICK, 0, 0);
  SendDlgItemMessageA(video, 1015, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("60"));
  PostMessageA(GetDlgItem(video, 1024), BM_CLICK, 0, 0);
  HWND ask = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (ask = kelvo.MessageBoxSaying("The capture FPS you specified is too high")) != nullptr; }));
  PostMessageA(ask, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(ask, IDNO)));
  ASSERT_TRUE(WaitFor([&] { return kelvo.MessageBoxSaying("The capture FPS") == nullptr; }));
  EXPECT_TRUE(FileStaysTheSame(output, 1500));
  EXPECT_EQ(FileSize(output), -1) << "a recording started after \"no\"";
  EXPECT_EQ(kelvo.LastLogLine("kelvo: recording"), "");
  EXPECT_TRUE(IsWindowVisible(sheet));
  EXPECT_EQ(Text(GetDlgItem(video, 1024)), "Start");

  SendDlgItemMessageA(video, 1015, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("15"));
  PostMessageA(sheet, WM_CLOSE, 0, 0);
  ASSERT_TRUE(kelvo.Ended(kDeadlineMs));
  EXPECT_EQ(RegNumber("Video", "Capture Option"), 0u);
  EXPECT_EQ(RegNumber("Video", "Left"), 100u);
  EXPECT_EQ(RegNumber("Video", "Top"), 80u);
  EXPECT_EQ(RegNumber("Video", "Width"), 320u);
  EXPECT_EQ(RegNumber("Video", "Height"), 240u);
  EXPECT_LT(RegNumber("Video", "Format"), 3u);
}

// The session ends (log-off, shut-down) under a recording: the recording
// stops and its file is finished before the system is answered.
TEST_F(KelvoWindows, TheEndOfTheSessionFinishesTheRecording) {
  const std::string output = dir_ + "session.exe";
  SetRecording(output, 2, 0, 0, 160, 120);
  KelvoProcess kelvo;
  ASSERT_TRUE(kelvo.Start(dir_ + "kelvo-log.txt"));
  HWND sheet = kelvo.Window();
  HWND video = kelvo.Page(0);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(video, 1004) == 3; }));
  PostMessageA(GetDlgItem(video, 1024), BM_CLICK, 0, 0);  // Start
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(sheet) && FileSize(output) > 0; })) << kelvo.Said();
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutA(sheet, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, kDeadlineMs, &answer), 0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the session may end";
  EXPECT_NE(kelvo.LastLogLine("kelvo: the session ends"), "");
  // No driver and no desktop duplication under Wine: the log says so.
  EXPECT_NE(kelvo.LastLogLine("kelvo: the screen is captured through screen polling (no desktop duplication: "), "");
  ASSERT_NE(SendMessageTimeoutA(sheet, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, kDeadlineMs, &answer), 0);
  // Finished: the file plays (a file without its trailer does not open).
  EXPECT_EQ(LastFrame(output, artefacts_ + "kelvo-session-end.bmp"), 0u);
  EXPECT_FALSE(IsWindowVisible(sheet)) << "the window came back while the session ends";
  PostMessageA(sheet, WM_CLOSE, 0, 0);
  ASSERT_TRUE(kelvo.Ended(kDeadlineMs));
  DeleteFileA(output.c_str());
}

// A recording of noise into output (of the format given) until the drive
// fills: the recording stops with the write-failure message, which says
// each of the texts; the window is back, and kelvo ends when closed.
void RecordNoiseUntilTheDriveIsFull(const std::string& dir, const std::string& output, DWORD format,
                                    const std::vector<std::string>& said) {
  SetRecording(output, format, kCanvasLeft, kCanvasTop, kCanvasWidth, kCanvasHeight);
  KelvoProcess kelvo;
  ASSERT_TRUE(kelvo.Start(dir + "kelvo-log.txt"));
  HWND sheet = kelvo.Window();
  HWND video = kelvo.Page(0);
  ASSERT_TRUE(WaitFor([&] { return ComboCount(video, 1004) == 3; }));
  HWND canvas = MakeNoiseCanvas();
  ASSERT_NE(canvas, nullptr);
  SetForegroundWindow(canvas);
  ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == canvas; }));
  PressKey(VK_F2);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(sheet); }));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = kelvo.MessageBoxSaying("Can not continue recording!")) != nullptr; }));
  for (const std::string& text : said) EXPECT_NE(kelvo.MessageBoxSaying(text), nullptr) << text;
  // The recording has stopped: the window is back and reads "Start".
  EXPECT_TRUE(IsWindowVisible(sheet));
  EXPECT_EQ(Text(GetDlgItem(video, 1024)), "Start");
  DestroyWindow(canvas);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  ASSERT_TRUE(WaitFor([&] { return kelvo.MessageBoxSaying("Can not continue") == nullptr; }));
  PostMessageA(sheet, WM_CLOSE, 0, 0);
  EXPECT_TRUE(kelvo.Ended(kDeadlineMs));
}

// Run by full_drive_test.sh with a drive of the player's size and half a
// megabyte: the recording fills it, the writer fails, the recording stops,
// the message names the file, and what was written plays.
TEST_F(KelvoWindows, AFullDriveStopsTheRecordingAndNamesTheFile) {
  const char* drive = std::getenv("KELVO_FULL_DRIVE");
  if (drive == nullptr) GTEST_SKIP() << "needs a small drive as KELVO_FULL_DRIVE (full_drive_test.sh)";
  const std::string output = std::string(drive) + "full.exe";
  RecordNoiseUntilTheDriveIsFull(dir_, output, 2,
                                 {output, "Maybe the file size exceeded the quota",
                                  "What was recorded until then is kept in the file, which plays as it is."});
  EXPECT_EQ(LastFrame(output, artefacts_ + "kelvo-full-drive.bmp"), 0u);
  DeleteFileA(output.c_str());
}

// Whether an AVI file has its index: a top-level "idx1" chunk after the
// "movi" list, as a finished file has.
bool AviHasIndex(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char head[12];
  const bool avi =
      std::fread(head, 1, 12, f) == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
  bool index = false;
  long at = 12;
  while (avi && !index) {
    unsigned char chunk[8];
    if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(chunk, 1, 8, f) != 8) break;
    const unsigned long size =
        chunk[4] | (chunk[5] << 8) | (chunk[6] << 16) | (static_cast<unsigned long>(chunk[7]) << 24);
    index = std::memcmp(chunk, "idx1", 4) == 0 && size > 0;
    at += 8 + static_cast<long>(size + (size & 1));
  }
  std::fclose(f);
  return index;
}

// Run by full_drive_test.sh with a drive of 4 MB: an AVI recording of noise
// stops while the drive still holds what the file's end needs, and the file
// is finished, index and all.
TEST_F(KelvoWindows, AFullDriveStopsAnAviRecordingShortAndFinishesTheFile) {
  const char* drive = std::getenv("KELVO_FULL_AVI_DRIVE");
  if (drive == nullptr) GTEST_SKIP() << "needs a 4 MB drive as KELVO_FULL_AVI_DRIVE (full_drive_test.sh)";
  const std::string output = std::string(drive) + "full.avi";
  RecordNoiseUntilTheDriveIsFull(dir_, output, 0,
                                 {"There is no space left on the disk.",
                                  "What was recorded until then is kept in the file, which plays as it is."});
  EXPECT_TRUE(AviHasIndex(output)) << "the file was left without its index";
  DeleteFileA(output.c_str());
}

}  // namespace
