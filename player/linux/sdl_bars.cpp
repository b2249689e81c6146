#include "player/linux/sdl_bars.h"

namespace kmr {

namespace {

constexpr PlayerCommand kOrder[SdlBars::kButtons] = {PlayerCommand::kFit,       PlayerCommand::kFullScreen,
                                                     PlayerCommand::kPlay,      PlayerCommand::kQuickPlay,
                                                     PlayerCommand::kPause,     PlayerCommand::kStop,
                                                     PlayerCommand::kLoop};
constexpr int kSeparator = 8;  // between full screen and play
constexpr int kLeft = 2;

int ButtonLeft(int index) { return kLeft + index * SdlBars::kButtonWidth + (index >= 2 ? kSeparator : 0); }

void Fill(SDL_Renderer* r, int x, int y, int w, int h) {
  const SDL_Rect rect{x, y, w, h};
  SDL_RenderFillRect(r, &rect);
}

void Frame(SDL_Renderer* r, int x, int y, int w, int h) {
  const SDL_Rect rect{x, y, w, h};
  SDL_RenderDrawRect(r, &rect);
}

// A triangle pointing right, h rows high, its left edge at x.
void Triangle(SDL_Renderer* r, int x, int y, int h) {
  for (int i = 0; i < h; ++i) {
    const int half = i <= h / 2 ? i : h - 1 - i;
    SDL_RenderDrawLine(r, x, y + i, x + half, y + i);
  }
}

}  // namespace

SdlBars::~SdlBars() {
  if (font_ != nullptr) TTF_CloseFont(font_);
  if (ttf_started_) TTF_Quit();
}

bool SdlBars::Open(std::string* why) {
  if (TTF_Init() != 0) {
    *why = std::string("no text in the bars: ") + TTF_GetError();
    return false;
  }
  ttf_started_ = true;
  font_ = TTF_OpenFont(kFontPath, 12);
  if (font_ == nullptr) {
    *why = std::string("no text in the bars: ") + TTF_GetError();
    return false;
  }
  return true;
}

void SdlBars::Layout(int width, int height, SeekBarModel* bar) {
  width_ = width;
  height_ = height;
  // From the loop button's right edge to the strip's right edge, the
  // button's top and bottom moved down by 3 pixels.
  const int left = ButtonLeft(kButtons - 1) + kButtonWidth + 4;
  channel_ = Rect{left, 3 + 3, width - 6 > left ? width - 6 : left + 1, kToolHeight - 3 + 3 - 3};
  if (bar != nullptr) bar->SetRange(channel_.Width());
}

bool SdlBars::ButtonAt(int x, int y, PlayerCommand* command) const {
  if (y < 2 || y >= kToolHeight - 2) return false;
  for (int i = 0; i < kButtons; ++i) {
    const int l = ButtonLeft(i);
    if (x >= l && x < l + kButtonWidth - 2) {
      *command = kOrder[i];
      return true;
    }
  }
  return false;
}

bool SdlBars::InSeekBar(int x, int y) const {
  return y >= 0 && y < kToolHeight && x >= channel_.left - 4 && x <= channel_.right + 4;
}

const char* SdlBars::Tip(PlayerCommand c) {
  switch (c) {
    case PlayerCommand::kFit:
      return "Toggle scaling to fit view";
    case PlayerCommand::kFullScreen:
      return "Toggle full screen display (F11)";
    case PlayerCommand::kPlay:
      return "Play (F5)";
    case PlayerCommand::kQuickPlay:
      return "Quick play (F6)";
    case PlayerCommand::kPause:
      return "Pause (F7)";
    case PlayerCommand::kStop:
      return "Stop (F8)";
    case PlayerCommand::kLoop:
      return "Toggle auto loop";
  }
  return "";
}

void SdlBars::DrawButton(SDL_Renderer* r, int index, PlayerCommand c, const CommandState& s) {
  const int x = ButtonLeft(index), y = 3, w = kButtonWidth - 2, h = kToolHeight - 6;
  if (s.checked) {
    SDL_SetRenderDrawColor(r, 196, 208, 228, 255);
    Fill(r, x, y, w, h);
    SDL_SetRenderDrawColor(r, 120, 140, 180, 255);
    Frame(r, x, y, w, h);
  }
  if (s.enabled) {
    SDL_SetRenderDrawColor(r, 20, 20, 20, 255);
  } else {
    SDL_SetRenderDrawColor(r, 160, 160, 160, 255);
  }
  const int cx = x + w / 2, cy = y + h / 2;
  switch (c) {
    case PlayerCommand::kFit:
      Frame(r, cx - 8, cy - 6, 16, 12);
      Fill(r, cx - 4, cy - 3, 8, 6);
      break;
    case PlayerCommand::kFullScreen:
      Frame(r, cx - 8, cy - 6, 16, 12);
      Frame(r, cx - 6, cy - 4, 12, 8);
      break;
    case PlayerCommand::kPlay:
      Triangle(r, cx - 4, cy - 6, 13);
      break;
    case PlayerCommand::kQuickPlay:
      Triangle(r, cx - 7, cy - 5, 11);
      Triangle(r, cx, cy - 5, 11);
      break;
    case PlayerCommand::kPause:
      Fill(r, cx - 5, cy - 6, 3, 12);
      Fill(r, cx + 2, cy - 6, 3, 12);
      break;
    case PlayerCommand::kStop:
      Fill(r, cx - 5, cy - 5, 10, 10);
      break;
    case PlayerCommand::kLoop:
      Frame(r, cx - 7, cy - 5, 14, 10);
      Triangle(r, cx + 2, cy - 8, 7);
      break;
  }
}

void SdlBars::DrawText(SDL_Renderer* r, const std::string& text, int x, int y, bool right_aligned) {
  if (font_ == nullptr || text.empty()) return;
  SDL_Surface* s = TTF_RenderUTF8_Blended(font_, text.c_str(), SDL_Color{10, 10, 10, 255});
  if (s == nullptr) return;
  SDL_Texture* t = SDL_CreateTextureFromSurface(r, s);
  if (t != nullptr) {
    const SDL_Rect dst{right_aligned ? x - s->w : x, y, s->w, s->h};
    SDL_RenderCopy(r, t, nullptr, &dst);
    SDL_DestroyTexture(t);
  }
  SDL_FreeSurface(s);
}

void SdlBars::Draw(SDL_Renderer* r, const PlayerCommands& commands, const SeekBarModel& bar,
                   const std::string& message, const std::string& time) {
  // The tool strip.
  SDL_SetRenderDrawColor(r, 236, 233, 216, 255);
  Fill(r, 0, 0, width_, kToolHeight);
  SDL_SetRenderDrawColor(r, 172, 168, 153, 255);
  SDL_RenderDrawLine(r, 0, kToolHeight - 1, width_, kToolHeight - 1);
  for (int i = 0; i < kButtons; ++i) DrawButton(r, i, kOrder[i], commands.State(kOrder[i]));
  SDL_SetRenderDrawColor(r, 172, 168, 153, 255);
  SDL_RenderDrawLine(r, ButtonLeft(2) - kSeparator / 2 - 1, 5, ButtonLeft(2) - kSeparator / 2 - 1, kToolHeight - 6);

  // The seek bar: a sunken channel, the selection up to the thumb, the thumb.
  const int mid = (channel_.top + channel_.bottom) / 2;
  SDL_SetRenderDrawColor(r, 128, 128, 128, 255);
  Fill(r, channel_.left, mid - 2, channel_.Width(), 4);
  const int thumb_x = channel_.left + bar.Thumb();
  if (bar.Enabled()) {
    SDL_SetRenderDrawColor(r, 49, 106, 197, 255);
    Fill(r, channel_.left, mid - 2, bar.Thumb(), 4);
  }
  SDL_SetRenderDrawColor(r, bar.Enabled() ? 60 : 170, bar.Enabled() ? 60 : 170, bar.Enabled() ? 60 : 170, 255);
  Fill(r, thumb_x - 3, channel_.top, 7, channel_.Height());

  // The status line: message pane, time pane.
  const int top = height_ - kStatusHeight;
  SDL_SetRenderDrawColor(r, 236, 233, 216, 255);
  Fill(r, 0, top, width_, kStatusHeight);
  SDL_SetRenderDrawColor(r, 172, 168, 153, 255);
  SDL_RenderDrawLine(r, 0, top, width_, top);
  const int time_pane = 120;
  SDL_RenderDrawLine(r, width_ - time_pane, top + 3, width_ - time_pane, height_ - 3);
  DrawText(r, message, 6, top + 3, false);
  DrawText(r, time, width_ - 6, top + 3, true);
}

}  // namespace kmr
