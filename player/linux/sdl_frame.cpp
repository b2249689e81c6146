#include "player/linux/sdl_frame.h"

#include <cstdio>

namespace kmr {

SdlFrame::SdlFrame(ContainerReader* reader, VideoRenderer* video, SdlView* view)
    : reader_(reader), video_(video), view_(view), commands_(reader) {
  seeker_ = std::make_unique<BackgroundSeek>([this](uint32_t ms) { return reader_->Seek(ms); },
                                             [this](uint32_t, bool reached) {
                                               if (!reached && !reader_->Error().empty()) {
                                                 std::fprintf(stderr, "morvin: %s\n", reader_->Error().c_str());
                                               }
                                               SDL_Event e{};
                                               e.type = view_->PaintEventType();
                                               SDL_PushEvent(&e);
                                             });
}

bool SdlFrame::Open(const std::string& title, std::string* error) {
  SDL_Rect screen{0, 0, 0, 0};
  SDL_GetDisplayBounds(0, &screen);
  const ViewPlan plan = PlanView(video_->FrameWidth(), video_->FrameHeight(), screen.w, screen.h);
  view_->SetBars(SdlBars::kToolHeight, SdlBars::kStatusHeight, [this](SDL_Renderer* r) {
    bars_.Draw(r, commands_, seek_, Message(), FormatPlayTime(reader_->GetPosition(), reader_->GetDuration()));
  });
  view_->SetFit(commands_.Fit());
  if (!view_->Open(title.c_str(), plan.width, plan.height)) {
    *error = std::string("cannot create the window: ") + SDL_GetError();
    return false;
  }
  std::string why;
  if (!bars_.Open(&why)) std::fprintf(stderr, "morvin: %s\n", why.c_str());
  hand_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
  no_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_NO);
  arrow_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
  Relayout();
  if (plan.full_screen) SetFullScreen(true);
  cursor_.Moved(SDL_GetTicks());
  Progress();
  return true;
}

void SdlFrame::Relayout() {
  int w = 0, h = 0;
  SDL_GetRendererOutputSize(SDL_GetRenderer(view_->Window()), &w, &h);
  bars_.Layout(w, h, &seek_);
}

std::string SdlFrame::Message() const {
  if (!hover_tip_.empty()) return hover_tip_;
  const std::string copy = CopySaver::Describe(saver_.Current());
  if (!copy.empty()) return copy;
  if (!reader_->IsRunning()) return "Stopped";
  if (reader_->IsPaused()) return "Paused";
  return reader_->GetQuickPlay() ? "Quick play" : "Playing";
}

void SdlFrame::RunCommand(PlayerCommand c) {
  seeker_->WaitIdle();  // a command follows the seek it was given after
  if (c == PlayerCommand::kFullScreen) {
    SetFullScreen(!commands_.FullScreen());
    return;
  }
  commands_.Run(c);
  if (c == PlayerCommand::kFit) {
    view_->SetFit(commands_.Fit());
    view_->SetOrigin(0, 0);
  }
  Progress();
}

void SdlFrame::SetFullScreen(bool on) {
  SDL_Window* w = view_->Window();
  if (on == commands_.FullScreen()) return;
  if (on) {
    // The frame becomes a borderless, topmost window covering the screen,
    // which needs no help from a window manager.
    SDL_GetWindowPosition(w, &saved_.left, &saved_.top);
    int sw = 0, sh = 0;
    SDL_GetWindowSize(w, &sw, &sh);
    saved_.right = saved_.left + sw;
    saved_.bottom = saved_.top + sh;
    SDL_Rect screen{0, 0, 0, 0};
    SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(w) < 0 ? 0 : SDL_GetWindowDisplayIndex(w), &screen);
    SDL_SetWindowBordered(w, SDL_FALSE);
    SDL_SetWindowAlwaysOnTop(w, SDL_TRUE);
    SDL_SetWindowPosition(w, screen.x, screen.y);
    SDL_SetWindowSize(w, screen.w, screen.h);
    SDL_RaiseWindow(w);
  } else {
    SDL_SetWindowAlwaysOnTop(w, SDL_FALSE);
    SDL_SetWindowBordered(w, SDL_TRUE);
    SDL_SetWindowSize(w, saved_.Width(), saved_.Height());
    SDL_SetWindowPosition(w, saved_.left, saved_.top);
  }
  commands_.SetFullScreen(on);
  view_->ShowBars(!on);
  view_->SetOrigin(0, 0);
  Relayout();
  view_->Paint();
}

void SdlFrame::Progress() {
  // How a copy being saved ended, once, for the terminal too.
  const CopySaver::Status copy = saver_.Current();
  if (copy.state != copy_state_) {
    copy_state_ = copy.state;
    if (copy.state == CopySaver::State::kSaved || copy.state == CopySaver::State::kFailed) {
      std::fprintf(stderr, "morvin: %s\n", CopySaver::Describe(copy).c_str());
    }
  }
  // A seek restarts the reader's threads: nothing is read from it meanwhile.
  if (!seeker_->Busy()) {
    seek_.SetDuration(reader_->GetDuration());
    seek_.SetPosition(reader_->GetPosition());
  }
  if (cursor_.Check(SDL_GetTicks())) {
    SDL_ShowCursor(SDL_DISABLE);
    // In full screen with the cursor still away from the edges, the bars go too.
    if (commands_.FullScreen() && view_->BarsShown()) {
      int x = 0, y = 0, w = 0, h = 0;
      SDL_GetMouseState(&x, &y);
      SDL_GetWindowSize(view_->Window(), &w, &h);
      if (BarsHiddenAt(y, h, SdlBars::kToolHeight, SdlBars::kStatusHeight)) view_->ShowBars(false);
    }
  }
  view_->Paint();
}

void SdlFrame::UpdateCursor(int x, int y) {
  if (!cursor_.Visible()) return;
  SDL_ShowCursor(SDL_ENABLE);
  const Rect area = view_->ViewArea();
  const bool over_view = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
  if (!over_view) {
    SDL_SetCursor(arrow_);
  } else if (CanDrag(commands_.Fit(), video_->FrameWidth(), video_->FrameHeight(), area.Width(), area.Height())) {
    SDL_SetCursor(hand_);
  } else {
    SDL_SetCursor(no_);
  }
}

void SdlFrame::OnMouseDown(const SDL_MouseButtonEvent& e) {
  if (e.button != SDL_BUTTON_LEFT) return;
  if (view_->BarsShown() && e.y < SdlBars::kToolHeight) {
    PlayerCommand c;
    if (bars_.ButtonAt(e.x, e.y, &c)) {
      RunCommand(c);
    } else if (bars_.InSeekBar(e.x, e.y) && seek_.Enabled()) {
      seek_.Press(bars_.PlaceAt(e.x));  // straight to the clicked place
      SDL_CaptureMouse(SDL_TRUE);
      view_->Paint();
    }
    return;
  }
  const Rect area = view_->ViewArea();
  if (CanDrag(commands_.Fit(), video_->FrameWidth(), video_->FrameHeight(), area.Width(), area.Height())) {
    dragging_picture_ = true;
    drag_start_cursor_ = Point{e.x, e.y};
    const Point origin = view_->Origin();
    drag_start_scroll_ = Point{-origin.x, -origin.y};
    SDL_CaptureMouse(SDL_TRUE);
  }
}

void SdlFrame::OnMouseUp(const SDL_MouseButtonEvent& e) {
  if (e.button != SDL_BUTTON_LEFT) return;
  SDL_CaptureMouse(SDL_FALSE);
  dragging_picture_ = false;
  if (seek_.Dragging()) {
    seeker_->Request(seek_.Release());
    Progress();
  }
}

void SdlFrame::OnMouseMove(const SDL_MouseMotionEvent& e) {
  cursor_.Moved(SDL_GetTicks());
  if (commands_.FullScreen()) {
    int w = 0, h = 0;
    SDL_GetWindowSize(view_->Window(), &w, &h);
    const bool playing = reader_->IsRunning() && !reader_->IsPaused();
    const bool hide = playing && BarsHiddenAt(e.y, h, SdlBars::kToolHeight, SdlBars::kStatusHeight);
    if (hide == view_->BarsShown()) {
      view_->ShowBars(!hide);
      view_->Paint();
    }
  }
  if (seek_.Dragging()) {
    const int32_t before = seek_.Thumb();
    seek_.Drag(bars_.PlaceAt(e.x));
    // The picture follows the drag as far as the seeks keep up.
    if (seek_.Thumb() != before) seeker_->Request(seek_.TimeAt(seek_.Thumb()));
    view_->Paint();
  } else if (dragging_picture_) {
    const Rect area = view_->ViewArea();
    const Point p = DragScroll(drag_start_scroll_, drag_start_cursor_, Point{e.x, e.y}, video_->FrameWidth(),
                               video_->FrameHeight(), area.Width(), area.Height());
    view_->SetOrigin(-p.x, -p.y);
    view_->Paint();
  }
  std::string tip;
  PlayerCommand c;
  if (view_->BarsShown() && bars_.ButtonAt(e.x, e.y, &c)) tip = SdlBars::Tip(c);
  if (tip != hover_tip_) {
    hover_tip_ = tip;
    view_->Paint();
  }
  UpdateCursor(e.x, e.y);
}

void SdlFrame::SaveCopy() {
  if (recording_path_.empty()) return;
  const std::string output = CopySaver::CopyPathFor(recording_path_);
  if (saver_.Start(recording_path_, output)) {
    std::fprintf(stderr, "morvin: saving a copy as %s\n", output.c_str());
  }
  view_->Paint();
}

void SdlFrame::OnKey(const SDL_KeyboardEvent& e) {
  switch (e.keysym.sym) {
    case SDLK_s:
      if ((e.keysym.mod & KMOD_CTRL) != 0) SaveCopy();
      break;
    case SDLK_F5:
      RunCommand(PlayerCommand::kPlay);
      break;
    case SDLK_F6:
      RunCommand(PlayerCommand::kQuickPlay);
      break;
    case SDLK_F7:
      RunCommand(PlayerCommand::kPause);
      break;
    case SDLK_F8:
      RunCommand(PlayerCommand::kStop);
      break;
    case SDLK_F11:
      RunCommand(PlayerCommand::kFullScreen);
      break;
    case SDLK_l:
      RunCommand(PlayerCommand::kLoop);
      break;
    case SDLK_f:
      RunCommand(PlayerCommand::kFit);
      break;
    case SDLK_ESCAPE:
      if (commands_.FullScreen()) {
        SetFullScreen(false);
      } else {
        quit_ = true;
      }
      break;
    case SDLK_q:
      quit_ = true;
      break;
    default:
      break;
  }
}

void SdlFrame::Run(bool exit_at_end) {
  uint32_t last_progress = SDL_GetTicks();
  while (!quit_) {
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, 100)) {
      do {
        if (e.type == SDL_QUIT) {
          quit_ = true;
        } else if (e.type == view_->PaintEventType()) {
          view_->Paint();
        } else if (e.type == SDL_WINDOWEVENT) {
          if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) Relayout();
          view_->Paint();
        } else if (e.type == SDL_KEYDOWN) {
          OnKey(e.key);
        } else if (e.type == SDL_MOUSEBUTTONDOWN) {
          OnMouseDown(e.button);
        } else if (e.type == SDL_MOUSEBUTTONUP) {
          OnMouseUp(e.button);
        } else if (e.type == SDL_MOUSEMOTION) {
          OnMouseMove(e.motion);
        }
      } while (SDL_PollEvent(&e));
    }
    const uint32_t now = SDL_GetTicks();
    if (now - last_progress >= kProgressMs) {
      last_progress = now;
      Progress();
    }
    if (exit_at_end && !seeker_->Busy() && !reader_->IsRunning()) quit_ = true;
  }
  seeker_->WaitIdle();
  if (hand_ != nullptr) SDL_FreeCursor(hand_);
  if (no_ != nullptr) SDL_FreeCursor(no_);
  if (arrow_ != nullptr) SDL_FreeCursor(arrow_);
  hand_ = no_ = arrow_ = nullptr;
}

}  // namespace kmr
