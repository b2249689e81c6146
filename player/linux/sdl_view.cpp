#include "player/linux/sdl_view.h"

#include <algorithm>
#include <chrono>

#include "player/placement.h"

namespace kmr {

SdlView::~SdlView() {
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (window_) SDL_DestroyWindow(window_);
}

bool SdlView::Open(const char* title, int32_t w, int32_t h) {
  window_ = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w,
                             h + bars_top_ + bars_bottom_, SDL_WINDOW_RESIZABLE);
  if (window_ == nullptr) return false;
  renderer_ = SDL_CreateRenderer(window_, -1, 0);
  if (renderer_ == nullptr) return false;
  // The display copy is kept in the display's own format so the blit never converts.
  const uint32_t wf = SDL_GetWindowPixelFormat(window_);
  PixelFormat display{32, false};
  if (wf == SDL_PIXELFORMAT_RGB565) {
    display = PixelFormat{16, false};
    texture_format_ = SDL_PIXELFORMAT_RGB565;
  } else if (wf == SDL_PIXELFORMAT_RGB555) {
    display = PixelFormat{16, true};
    texture_format_ = SDL_PIXELFORMAT_RGB555;
  }
  decoder_->SetDisplayFormat(display);
  decoder_->CreateDisplayCopy();
  paint_event_ = SDL_RegisterEvents(1);
  return paint_event_ != static_cast<uint32_t>(-1);
}

void SdlView::SetTitle(const char* title) {
  if (window_) SDL_SetWindowTitle(window_, title);
}

bool SdlView::Repaint(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  const uint64_t target = painted_ + 1;
  SDL_Event e{};
  e.type = paint_event_;
  SDL_PushEvent(&e);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return painted_ >= target; });
}

Rect SdlView::ViewArea() const {
  int cw = 0, ch = 0;
  if (renderer_ != nullptr) SDL_GetRendererOutputSize(renderer_, &cw, &ch);
  if (!bars_shown_) return Rect{0, 0, cw, ch};
  return Rect{0, bars_top_, cw, ch - bars_bottom_ > bars_top_ ? ch - bars_bottom_ : bars_top_};
}

void SdlView::Paint() {
  const Rect area = ViewArea();
  decoder_->LockDecoder();
  const int32_t w = decoder_->FrameWidth(), h = decoder_->FrameHeight();
  if (decoder_->HasDisplayCopy() && (texture_ == nullptr || texture_w_ != w || texture_h_ != h)) {
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, texture_format_, SDL_TEXTUREACCESS_STREAMING, w, h);
    texture_w_ = w;
    texture_h_ = h;
  }
  if (texture_ && decoder_->HasDisplayCopy()) {
    SDL_UpdateTexture(texture_, nullptr, decoder_->DisplayCopy(), static_cast<int>(decoder_->DisplayCopyPitch()));
  }
  decoder_->UnlockDecoder();

  const Placement p = PlacePicture(area, origin_x_, origin_y_, texture_ ? w : 0, texture_ ? h : 0, fit_);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  for (const Rect& b : p.borders) {
    const SDL_Rect r{b.left, b.top, b.Width(), b.Height()};
    SDL_RenderFillRect(renderer_, &r);
  }
  if (p.has_picture && texture_) {
    const SDL_Rect src{p.source.left, p.source.top, p.source.Width(), p.source.Height()};
    const SDL_Rect dst{p.dest.left, p.dest.top, p.dest.Width(), p.dest.Height()};
    SDL_RenderCopy(renderer_, texture_, &src, &dst);
  }
  if (bars_shown_ && draw_bars_) draw_bars_(renderer_);
  SDL_RenderPresent(renderer_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++painted_;
  }
  cv_.notify_all();
}

}  // namespace kmr
