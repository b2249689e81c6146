// The video decoder thread: accepts the screen video stream, decodes each
// packet its clock releases and has the view repaint.
#pragma once

#include <memory>

#include "player/codecs/screen_video_decoder.h"
#include "player/stream_decoder.h"

namespace kmr {

// What the renderer repaints: the player's view.
class VideoView {
 public:
  virtual ~VideoView() = default;
  // Paints the current picture; waits at most timeout_ms for it.
  virtual bool Repaint(uint32_t timeout_ms) = 0;
};

class VideoRenderer : public StreamDecoder {
 public:
  static constexpr uint32_t kQueueCapacity = 50;
  static constexpr uint32_t kRepaintTimeoutMs = 1000;

  explicit VideoRenderer(platform::MsClock* clock = platform::SystemMsClock(),
                         std::unique_ptr<platform::FrameTimer> timer = platform::CreateFrameTimer());
  ~VideoRenderer() override;

  void SetView(VideoView* view) { view_ = view; }
  ScreenVideoDecoder& Decoder() { return decoder_; }
  int32_t FrameWidth() { return decoder_.FrameWidth(); }
  int32_t FrameHeight() { return decoder_.FrameHeight(); }

  bool Accept(const StreamHeader& header) override;
  bool Configure(const StreamHeader& header, const std::vector<uint8_t>& format) override;
  bool Present(PlayerPacket* packet) override;
  void BeginSeek() override { decoder_.Restart(); }
  bool CatchesUp() const override { return true; }
  bool CatchUp(PlayerPacket* packet) override;
  void FinishSeek() override;

 private:
  ScreenVideoDecoder decoder_;
  VideoView* view_ = nullptr;
};

}  // namespace kmr
