#include "player/frame/frame_logic.h"

#include <cmath>
#include <cstdio>

#include "player/container_reader.h"

namespace kmr {

std::string FormatPlayTime(uint32_t position_ms, uint32_t duration_ms) {
  const bool hours = duration_ms >= 3600000u;
  auto part = [hours](uint32_t ms) {
    const uint32_t s = ms / 1000;
    char buf[32];
    if (hours) {
      std::snprintf(buf, sizeof(buf), "%u:%u:%02u", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(buf, sizeof(buf), "%u:%02u", s / 60, s % 60);
    }
    return std::string(buf);
  };
  return part(position_ms) + "/" + part(duration_ms);
}

void SeekBarModel::SetRange(int32_t width) {
  max_ = width < 1 ? 1 : width;
  thumb_ = Clamp(thumb_);
}

void SeekBarModel::SetDuration(uint32_t ms) {
  if (ms != duration_) thumb_ = 0;
  duration_ = ms;
}

void SeekBarModel::SetPosition(uint32_t ms) {
  if (dragging_) return;
  if (duration_ == 0) {
    thumb_ = 0;
    return;
  }
  const double place = std::round(static_cast<double>(ms) * max_ / duration_);
  thumb_ = Clamp(place > max_ ? max_ : static_cast<int32_t>(place));
}

void SeekBarModel::Press(int32_t place) {
  thumb_ = Clamp(place);
  dragging_ = true;
}

void SeekBarModel::Drag(int32_t place) {
  if (dragging_) thumb_ = Clamp(place);
}

uint32_t SeekBarModel::Release() {
  dragging_ = false;
  return TimeAt(thumb_);
}

uint32_t SeekBarModel::TimeAt(int32_t place) const {
  return static_cast<uint32_t>(static_cast<uint64_t>(duration_) * static_cast<uint64_t>(Clamp(place)) /
                               static_cast<uint64_t>(max_));
}

ViewPlan PlanView(int32_t w, int32_t h, int32_t screen_w, int32_t screen_h) {
  ViewPlan p;
  if (w == screen_w && h == screen_h) {
    p.full_screen = true;
    p.width = screen_w;
    p.height = screen_h;
    return p;
  }
  p.width = w < 480 ? 480 : w;
  p.height = h < 360 ? 360 : h;
  return p;
}

Point DragScroll(Point start_scroll, Point start_cursor, Point cursor, int32_t video_w, int32_t video_h,
                 int32_t client_w, int32_t client_h) {
  auto axis = [](int32_t start, int32_t from, int32_t to, int32_t video, int32_t client) {
    const int32_t most = video > client ? video - client : 0;
    const int32_t v = start + (from - to);
    return v < 0 ? 0 : v > most ? most : v;
  };
  return Point{axis(start_scroll.x, start_cursor.x, cursor.x, video_w, client_w),
               axis(start_scroll.y, start_cursor.y, cursor.y, video_h, client_h)};
}

bool CanDrag(bool scaled, int32_t video_w, int32_t video_h, int32_t client_w, int32_t client_h) {
  return !scaled && (video_w > client_w || video_h > client_h);
}

bool BarsHiddenAt(int32_t cursor_y, int32_t screen_height, int32_t top_band, int32_t bottom_band) {
  return cursor_y >= top_band && cursor_y <= screen_height - bottom_band;
}

bool PlayerCommands::Run(PlayerCommand c) {
  if (!State(c).enabled) return false;
  switch (c) {
    case PlayerCommand::kFit:
      fit_ = !fit_;
      return true;
    case PlayerCommand::kFullScreen:
      full_screen_ = !full_screen_;
      return true;
    case PlayerCommand::kPlay:
    case PlayerCommand::kQuickPlay:
      reader_->SetQuickPlay(c == PlayerCommand::kQuickPlay);
      if (!reader_->IsRunning()) return reader_->Start();
      if (reader_->IsPaused()) return reader_->Resume();
      return true;  // play during quick play: normal speed from here, no restart
    case PlayerCommand::kPause:
      return reader_->Pause();
    case PlayerCommand::kStop:
      reader_->Stop();
      return true;
    case PlayerCommand::kLoop:
      reader_->SetLoop(!reader_->GetLoop());
      return true;
  }
  return false;
}

CommandState PlayerCommands::State(PlayerCommand c) const {
  const bool running = reader_->IsRunning();
  const bool paused = running && reader_->IsPaused();
  const bool quick = reader_->GetQuickPlay();
  const bool playing = running && !paused;
  switch (c) {
    case PlayerCommand::kFit:
      return {true, fit_};
    case PlayerCommand::kFullScreen:
      return {true, full_screen_};
    case PlayerCommand::kPlay:
      return {!running || paused || quick, playing && !quick};
    case PlayerCommand::kQuickPlay:
      return {!(playing && quick), playing && quick};
    case PlayerCommand::kPause:
      return {playing, false};
    case PlayerCommand::kStop:
      return {running, false};
    case PlayerCommand::kLoop:
      return {true, reader_->GetLoop()};
  }
  return {};
}

bool IsSeekBarKey(uint32_t key) {
  // VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN
  return key >= 0x21 && key <= 0x28;
}

}  // namespace kmr
