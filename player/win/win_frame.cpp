#include "player/win/win_frame.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

#include "player/win/morvin_resource.h"

namespace kmr {

namespace {

constexpr const char* kHomePage = "http://www.norvane.com/";

WinFrame* g_frame = nullptr;  // one frame a process

struct ButtonDef {
  int id;
  int image;  // -1: separator
};
constexpr ButtonDef kButtons[] = {{ID_VIEW_FIT, 0},   {ID_VIEW_FULLSCREEN, 1}, {0, -1},
                                  {ID_PLAY_PLAY, 2},  {ID_PLAY_QUICK, 3},      {ID_PLAY_PAUSE, 4},
                                  {ID_PLAY_STOP, 5},  {ID_PLAY_LOOP, 6}};

bool CommandFor(int id, PlayerCommand* c) {
  switch (id) {
    case ID_VIEW_FIT: *c = PlayerCommand::kFit; return true;
    case ID_VIEW_FULLSCREEN: *c = PlayerCommand::kFullScreen; return true;
    case ID_PLAY_PLAY: *c = PlayerCommand::kPlay; return true;
    case ID_PLAY_QUICK: *c = PlayerCommand::kQuickPlay; return true;
    case ID_PLAY_PAUSE: *c = PlayerCommand::kPause; return true;
    case ID_PLAY_STOP: *c = PlayerCommand::kStop; return true;
    case ID_PLAY_LOOP: *c = PlayerCommand::kLoop; return true;
    default: return false;
  }
}

const char* TipFor(int id) {
  switch (id) {
    case ID_VIEW_FIT: return "Toggle scaling to fit view";
    case ID_VIEW_FULLSCREEN: return "Toggle full screen display (F11)";
    case ID_PLAY_PLAY: return "Play (F5)";
    case ID_PLAY_QUICK: return "Quick play (F6)";
    case ID_PLAY_PAUSE: return "Pause (F7)";
    case ID_PLAY_STOP: return "Stop (F8)";
    case ID_PLAY_LOOP: return "Toggle auto loop";
    default: return "";
  }
}

INT_PTR CALLBACK AboutProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wp) == IDC_HOMEPAGE || LOWORD(wp) == IDCANCEL)) {
    if (LOWORD(wp) == IDC_HOMEPAGE) ShellExecuteA(dlg, "open", kHomePage, nullptr, nullptr, SW_SHOWNORMAL);
    EndDialog(dlg, 0);
    return TRUE;
  }
  return FALSE;
}

// A bar's height when it is shown (also before the frame itself is).
int Height(HWND w) {
  if (w == nullptr || (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) == 0) return 0;
  RECT r;
  GetWindowRect(w, &r);
  return r.bottom - r.top;
}

}  // namespace

WinFrame::WinFrame(ContainerReader* reader, VideoRenderer* video, DirectDrawView* view)
    : reader_(reader), video_(video), view_(view), commands_(reader) {
  g_frame = this;
  seeker_ = std::make_unique<BackgroundSeek>([this](uint32_t ms) { return reader_->Seek(ms); },
                                             [this](uint32_t ms, bool reached) {
                                               if (frame_ != nullptr) {
                                                 PostMessageA(frame_, kSeekDoneMessage, ms, reached ? 1 : 0);
                                               }
                                             });
}

WinFrame::~WinFrame() {
  seeker_.reset();  // a seek still running ends first
  if (g_frame == this) g_frame = nullptr;
}

bool WinFrame::Create(HINSTANCE instance, const std::string& title, int show, std::string* error) {
  instance_ = instance;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSA fc{};
  fc.lpfnWndProc = FrameProc;
  fc.hInstance = instance;
  fc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  fc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  fc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  fc.lpszClassName = kClassName;
  RegisterClassA(&fc);
  menu_ = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  accelerators_ = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  drag_cursor_ = reinterpret_cast<HCURSOR>(LoadIconA(instance, MAKEINTRESOURCEA(IDI_DRAG)));

  frame_ = CreateWindowA(kClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                         CW_USEDEFAULT, 640, 480, nullptr, menu_, instance, nullptr);
  if (frame_ == nullptr) {
    *error = "cannot create the window";
    return false;
  }
  // The about box from the window menu.
  HMENU system = GetSystemMenu(frame_, FALSE);
  AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(system, MF_STRING, ID_APP_ABOUT, "&About Morvin...");
  if (!CreateBars(instance)) {
    *error = "cannot create the player's bars";
    return false;
  }
  // The frame fits a view of the video's size (at least 480 × 360).
  const ViewPlan plan = PlanView(video_->FrameWidth(), video_->FrameHeight(), GetSystemMetrics(SM_CXSCREEN),
                                 GetSystemMetrics(SM_CYSCREEN));
  RECT r{0, 0, plan.width, plan.height + Height(toolbar_) + Height(status_)};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, TRUE);
  int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(frame_, nullptr, 0, 0, w, h, SWP_NOZORDER | SWP_NOMOVE);
  Layout();
  // The bars and the menu take what they take: the frame grows or shrinks
  // by what the view still lacks or has too much.
  const RECT v = ViewRect();
  w += plan.width - (v.right - v.left);
  h += plan.height - (v.bottom - v.top);
  SetWindowPos(frame_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
               w, h, SWP_NOZORDER);
  Layout();
  ShowWindow(frame_, show == 0 ? SW_SHOWNORMAL : show);
  UpdateWindow(frame_);
  if (!view_->OpenDisplay(frame_)) {
    *error = "DirectDraw is not available";
    return false;
  }
  if (plan.full_screen) EnterFullScreen();
  SetMessage("Ready");
  return true;
}

bool WinFrame::CreateBars(HINSTANCE instance) {
  toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                             WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0,
                             0, 0, frame_, nullptr, instance, nullptr);
  if (toolbar_ == nullptr) return false;
  SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageA(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 15));
  TBADDBITMAP bitmap{instance, IDR_MAINFRAME};
  SendMessageA(toolbar_, TB_ADDBITMAP, 7, reinterpret_cast<LPARAM>(&bitmap));
  TBBUTTON buttons[sizeof(kButtons) / sizeof(kButtons[0])] = {};
  for (size_t i = 0; i < sizeof(kButtons) / sizeof(kButtons[0]); ++i) {
    buttons[i].iBitmap = kButtons[i].image < 0 ? 8 : kButtons[i].image;
    buttons[i].idCommand = kButtons[i].id;
    buttons[i].fsState = TBSTATE_ENABLED;
    buttons[i].fsStyle = kButtons[i].image < 0 ? BTNS_SEP : BTNS_BUTTON;
  }
  SendMessageA(toolbar_, TB_ADDBUTTONSA, sizeof(kButtons) / sizeof(kButtons[0]), reinterpret_cast<LPARAM>(buttons));
  SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);
  seekbar_ = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_HORZ | TBS_NOTICKS | TBS_ENABLESELRANGE,
                             0, 0, 10, 10, toolbar_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_SEEKBAR)),
                             instance, nullptr);
  if (seekbar_ == nullptr) return false;
  SendMessageA(seekbar_, TBM_SETLINESIZE, 0, 1);
  SendMessageA(seekbar_, TBM_SETPAGESIZE, 0, 1);
  seek_default_ =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrA(seekbar_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SeekProc)));
  status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, frame_,
                            nullptr, instance, nullptr);
  return status_ != nullptr;
}

int WinFrame::BarsTop() const { return bars_hidden_ ? 0 : Height(toolbar_); }
int WinFrame::BarsBottom() const { return bars_hidden_ ? 0 : Height(status_); }

void WinFrame::Layout() {
  if (frame_ == nullptr) return;
  RECT c;
  GetClientRect(frame_, &c);
  if (!bars_hidden_) {
    SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);
    SendMessageA(status_, WM_SIZE, 0, 0);
    // The time pane is as wide as "00:00:00/00:00:00".
    HDC dc = GetDC(status_);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(status_, WM_GETFONT, 0, 0)));
    SIZE text{};
    GetTextExtentPoint32A(dc, "00:00:00/00:00:00", 17, &text);
    SelectObject(dc, old);
    ReleaseDC(status_, dc);
    int parts[2] = {c.right - text.cx - 24, -1};
    SendMessageA(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    PlaceSeekBar();
  }
  view_->SetViewRect(ViewRect());
  InvalidateRect(frame_, nullptr, FALSE);
}

RECT WinFrame::ViewRect() const {
  RECT c;
  GetClientRect(frame_, &c);
  const int top = BarsTop(), bottom = BarsBottom();
  return RECT{0, top, c.right, c.bottom - bottom > top ? c.bottom - bottom : top};
}

void WinFrame::PlaceSeekBar() {
  // From the loop button's right edge to the tool bar's right edge, the
  // button's top and bottom moved down by 3 pixels.
  RECT loop{}, bar{};
  const int last = static_cast<int>(sizeof(kButtons) / sizeof(kButtons[0])) - 1;
  SendMessageA(toolbar_, TB_GETITEMRECT, last, reinterpret_cast<LPARAM>(&loop));
  GetClientRect(toolbar_, &bar);
  const int width = bar.right - loop.right > 1 ? bar.right - loop.right : 1;
  MoveWindow(seekbar_, loop.right, loop.top + 3, width, loop.bottom - loop.top, TRUE);
  RECT channel{};
  SendMessageA(seekbar_, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
  seek_.SetRange(channel.right - channel.left);
  SendMessageA(seekbar_, TBM_SETRANGEMIN, FALSE, 0);
  SendMessageA(seekbar_, TBM_SETRANGEMAX, TRUE, seek_.Max());
}

void WinFrame::SetMessage(const char* text) { SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text)); }

void WinFrame::UpdateButtons() {
  for (const ButtonDef& b : kButtons) {
    PlayerCommand c;
    if (!CommandFor(b.id, &c)) continue;
    const CommandState s = commands_.State(c);
    SendMessageA(toolbar_, TB_ENABLEBUTTON, b.id, MAKELPARAM(s.enabled, 0));
    SendMessageA(toolbar_, TB_CHECKBUTTON, b.id, MAKELPARAM(s.checked, 0));
  }
}

void WinFrame::Progress() {
  // A seek restarts the reader's threads: nothing is read from it meanwhile.
  if (seeker_->Busy()) return;
  seek_.SetDuration(reader_->GetDuration());
  EnableWindow(seekbar_, seek_.Enabled());
  // The timer leaves a thumb the user holds alone.
  if (GetCapture() != seekbar_) {
    seek_.SetPosition(reader_->GetPosition());
    SendMessageA(seekbar_, TBM_SETPOS, TRUE, seek_.Thumb());
    SendMessageA(seekbar_, TBM_SETSEL, TRUE, MAKELPARAM(0, seek_.Thumb()));
  }
  const std::string time = FormatPlayTime(reader_->GetPosition(), reader_->GetDuration());
  SendMessageA(status_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(time.c_str()));
  UpdateButtons();
  if (cursor_.Check(GetTickCount())) {
    SetCursor(nullptr);
    POINT p;
    GetCursorPos(&p);
    if (commands_.FullScreen() && !bars_hidden_ && (GetAsyncKeyState(VK_LBUTTON) & 0x8000) == 0 &&
        BarsHiddenAt(p.y, GetSystemMetrics(SM_CYSCREEN), Height(toolbar_) + GetSystemMetrics(SM_CYMENU),
                     Height(status_))) {
      ShowBars(false);
      SetFocus(frame_);
    } else {
      SetCursorPos(p.x, p.y);  // the shape is asked for again
    }
  }
  if (exit_at_end_ && !reader_->IsRunning()) DestroyWindow(frame_);
}

void WinFrame::RunCommand(int id) {
  seeker_->WaitIdle();  // a command follows the seek it was given after
  PlayerCommand c;
  if (id == ID_VIEW_FULLSCREEN) {
    if (commands_.FullScreen()) {
      LeaveFullScreen();
    } else {
      EnterFullScreen();
    }
  } else if (CommandFor(id, &c)) {
    commands_.Run(c);
    if (c == PlayerCommand::kFit) {
      view_->SetFit(commands_.Fit());
      view_->SetScroll(0, 0);
      InvalidateRect(frame_, nullptr, FALSE);
    }
  }
  Progress();
}

void WinFrame::ShowBars(bool shown) {
  if (shown == !bars_hidden_) return;
  bars_hidden_ = !shown;
  SetMenu(frame_, shown ? menu_ : nullptr);
  ShowWindow(toolbar_, shown ? SW_SHOW : SW_HIDE);
  ShowWindow(status_, shown ? SW_SHOW : SW_HIDE);
  Layout();
}

void WinFrame::EnterFullScreen() {
  ShowBars(false);
  GetWindowRect(frame_, &saved_);
  SetWindowLongA(frame_, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN);
  SetWindowPos(frame_, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
               SWP_FRAMECHANGED);
  commands_.SetFullScreen(true);
  view_->SetScroll(0, 0);
  Layout();
  SetForegroundWindow(frame_);
  InvalidateRect(frame_, nullptr, FALSE);
}

void WinFrame::LeaveFullScreen() {
  SetWindowLongA(frame_, GWL_STYLE, WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN);
  SetWindowPos(frame_, HWND_NOTOPMOST, saved_.left, saved_.top, saved_.right - saved_.left,
               saved_.bottom - saved_.top, SWP_FRAMECHANGED);
  commands_.SetFullScreen(false);
  ShowBars(true);
  view_->SetScroll(0, 0);
  Layout();
  SetForegroundWindow(frame_);
  InvalidateRect(nullptr, nullptr, TRUE);  // the desktop under the old frame
}

void WinFrame::SeekToThumb() {
  const int32_t thumb = static_cast<int32_t>(SendMessageA(seekbar_, TBM_GETPOS, 0, 0));
  last_sought_thumb_ = thumb;
  seek_.Press(thumb);
  seeker_->Request(seek_.Release());
}

LRESULT CALLBACK WinFrame::SeekProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WinFrame* f = g_frame;
  if (f == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  if (msg == WM_LBUTTONDOWN) {
    // A click in the channel puts the thumb there before dragging starts.
    RECT channel{};
    SendMessageA(hwnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int x = static_cast<short>(LOWORD(lp));
    if (x >= channel.left && x <= channel.right && channel.right > channel.left) {
      const LRESULT max = SendMessageA(hwnd, TBM_GETRANGEMAX, 0, 0);
      SendMessageA(hwnd, TBM_SETPOS, TRUE, (x - channel.left) * max / (channel.right - channel.left));
    }
  }
  // A button released over the bar counts only when the press was the
  // bar's (it holds the mouse); keys only when they are the bar's own.
  const bool held = GetCapture() == hwnd;
  const LRESULT r = CallWindowProcA(f->seek_default_, hwnd, msg, wp, lp);
  if (!IsWindowEnabled(hwnd)) return r;
  if ((msg == WM_LBUTTONUP && held) || (msg == WM_KEYUP && IsSeekBarKey(static_cast<uint32_t>(wp)))) {
    f->SeekToThumb();
  } else if (msg == WM_MOUSEMOVE && held &&
             static_cast<int32_t>(SendMessageA(hwnd, TBM_GETPOS, 0, 0)) != f->last_sought_thumb_) {
    f->SeekToThumb();  // the picture follows the drag as far as the seeks keep up
  }
  return r;
}

LRESULT CALLBACK WinFrame::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (g_frame == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  return g_frame->OnFrame(hwnd, msg, wp, lp);
}

LRESULT WinFrame::OnFrame(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (OnView(msg, wp, lp, &result)) return result;
  switch (msg) {
    case WM_SIZE:
      Layout();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == ID_APP_EXIT) {
        DestroyWindow(hwnd);
      } else {
        RunCommand(LOWORD(wp));
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == ID_APP_ABOUT) {
        DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), hwnd, AboutProc, 0);
        return 0;
      }
      break;
    case WM_NOTIFY: {
      const NMHDR* h = reinterpret_cast<const NMHDR*>(lp);
      if (h->code == TTN_GETDISPINFOA) {
        auto* d = reinterpret_cast<NMTTDISPINFOA*>(lp);
        d->lpszText = const_cast<char*>(TipFor(static_cast<int>(h->idFrom)));
        return 0;
      }
      if (h->hwndFrom == toolbar_ && h->code == TBN_HOTITEMCHANGE) {
        const auto* hot = reinterpret_cast<const NMTBHOTITEM*>(lp);
        SetMessage((hot->dwFlags & HICF_LEAVING) != 0 ? "Ready" : TipFor(hot->idNew));
        return 0;
      }
      break;
    }
    case WM_TIMER:
      if (wp == kProgressTimer) Progress();
      return 0;
    case kSeekDoneMessage:
      if (lp == 0 && !reader_->Error().empty()) std::fprintf(stderr, "morvin: %s\n", reader_->Error().c_str());
      InvalidateRect(frame_, nullptr, FALSE);
      Progress();
      return 0;
    case WM_DISPLAYCHANGE:
      // The display objects follow the new mode.
      video_->Decoder().LockDecoder();
      view_->CloseDisplay();
      view_->OpenDisplay(frame_);
      video_->Decoder().UnlockDecoder();
      break;
    case WM_DESTROY:
      seeker_->WaitIdle();
      KillTimer(hwnd, kProgressTimer);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool WinFrame::OnView(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  const RECT v = ViewRect();
  const int vw = v.right - v.left, vh = v.bottom - v.top;
  const Point at{static_cast<short>(LOWORD(lp)) - v.left, static_cast<short>(HIWORD(lp)) - v.top};
  const bool inside = at.x >= 0 && at.y >= 0 && at.x < vw && at.y < vh;
  *result = 0;
  switch (msg) {
    case WM_PAINT:
      view_->Paint();
      return true;
    case WM_ERASEBKGND: {
      // The bars' face everywhere but the view, which paints every pixel of
      // its area itself (a flat tool bar shows this face through).
      HDC dc = reinterpret_cast<HDC>(wp);
      RECT c;
      GetClientRect(frame_, &c);
      const int saved = SaveDC(dc);
      ExcludeClipRect(dc, v.left, v.top, v.right, v.bottom);
      FillRect(dc, &c, GetSysColorBrush(COLOR_BTNFACE));
      RestoreDC(dc, saved);
      *result = 1;
      return true;
    }
    case WM_SETCURSOR: {
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(frame_, &p);
      if (LOWORD(lp) != HTCLIENT || p.y < v.top || p.y >= v.bottom) return false;
      if (!cursor_.Visible()) {
        SetCursor(nullptr);
      } else {
        const bool drag = CanDrag(commands_.Fit(), video_->FrameWidth(), video_->FrameHeight(), vw, vh);
        SetCursor(drag ? drag_cursor_ : LoadCursor(nullptr, IDC_NO));
      }
      *result = TRUE;
      return true;
    }
    case WM_MOUSEMOVE: {
      cursor_.Moved(GetTickCount());
      if (commands_.FullScreen()) {
        POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        ClientToScreen(frame_, &p);
        const bool playing = reader_->IsRunning() && !reader_->IsPaused();
        const bool hide = playing && BarsHiddenAt(p.y, GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CYMENU),
                                                  Height(status_) > 0 ? Height(status_) : 20);
        if (hide != bars_hidden_) {
          ShowBars(!hide);
          if (hide) SetFocus(frame_);
        }
      }
      if (dragging_) {
        const Point s = DragScroll(drag_scroll_at_, drag_cursor_at_, at, video_->FrameWidth(), video_->FrameHeight(),
                                   vw, vh);
        view_->SetScroll(s.x, s.y);
        InvalidateRect(frame_, &v, FALSE);
      }
      return true;
    }
    case WM_LBUTTONDOWN:
      if (inside && CanDrag(commands_.Fit(), video_->FrameWidth(), video_->FrameHeight(), vw, vh)) {
        dragging_ = true;
        drag_cursor_at_ = at;
        drag_scroll_at_ = Point{view_->ScrollX(), view_->ScrollY()};
        SetCapture(frame_);
      }
      return true;
    case WM_LBUTTONUP:
      if (dragging_) {
        dragging_ = false;
        ReleaseCapture();
      }
      return true;
    default:
      return false;
  }
}

void WinFrame::Run(bool exit_at_end) {
  exit_at_end_ = exit_at_end;
  cursor_.Moved(GetTickCount());
  Progress();
  SetTimer(frame_, kProgressTimer, kProgressMs, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (accelerators_ != nullptr && TranslateAcceleratorA(frame_, accelerators_, &msg)) continue;
    // Esc leaves full screen wherever the focus is.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && commands_.FullScreen()) {
      LeaveFullScreen();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace kmr
