// The player's view on Linux: an SDL2 window whose texture shows the
// decoder's mirror, placed by the player's placement rules. Painting happens
// on the thread that runs the event loop; the decoder thread asks for it and
// waits a bounded time.
#pragma once

#include <SDL.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "player/frame/frame_logic.h"
#include "player/video_renderer.h"

namespace kmr {

class SdlView : public VideoView {
 public:
  explicit SdlView(ScreenVideoDecoder* decoder) : decoder_(decoder) {}
  ~SdlView() override;

  // Creates the window: a view of width × height and room for the bars.
  bool Open(const char* title, int32_t width, int32_t height);
  void SetFit(bool fit) { fit_ = fit; }
  bool Fit() const { return fit_; }
  // The bars above and below the view, drawn by draw(renderer) after the
  // picture; hidden bars leave the whole window to the picture.
  void SetBars(int top, int bottom, std::function<void(SDL_Renderer*)> draw) {
    bars_top_ = top;
    bars_bottom_ = bottom;
    draw_bars_ = std::move(draw);
  }
  void ShowBars(bool shown) { bars_shown_ = shown; }
  bool BarsShown() const { return bars_shown_; }
  // The picture's area in the window and the scroll offset within the picture.
  Rect ViewArea() const;
  void SetOrigin(int32_t x, int32_t y) {
    origin_x_ = x;
    origin_y_ = y;
  }
  Point Origin() const { return Point{origin_x_, origin_y_}; }
  void SetTitle(const char* title);
  SDL_Window* Window() const { return window_; }

  // From the decoder thread.
  bool Repaint(uint32_t timeout_ms) override;

  // From the event loop: paints, and answers a waiting Repaint.
  void Paint();
  uint32_t PaintEventType() const { return paint_event_; }

 private:
  ScreenVideoDecoder* decoder_;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int32_t texture_w_ = 0, texture_h_ = 0;
  uint32_t texture_format_ = SDL_PIXELFORMAT_ARGB8888;
  uint32_t paint_event_ = 0;
  bool fit_ = false;
  int bars_top_ = 0, bars_bottom_ = 0;
  bool bars_shown_ = true;
  std::function<void(SDL_Renderer*)> draw_bars_;
  int32_t origin_x_ = 0, origin_y_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t painted_ = 0;
};

}  // namespace kmr
