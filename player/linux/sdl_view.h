// The player's view on Linux: an SDL2 window whose texture shows the
// decoder's mirror, placed by the player's placement rules. Painting happens
// on the thread that runs the event loop; the decoder thread asks for it and
// waits a bounded time.
#pragma once

#include <SDL.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "player/video_renderer.h"

namespace kmr {

class SdlView : public VideoView {
 public:
  explicit SdlView(ScreenVideoDecoder* decoder) : decoder_(decoder) {}
  ~SdlView() override;

  // Creates the window (the frame's size, at least 480 × 360).
  bool Open(const char* title, int32_t frame_width, int32_t frame_height);
  void SetFit(bool fit) { fit_ = fit; }
  bool Fit() const { return fit_; }
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
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t painted_ = 0;
};

}  // namespace kmr
