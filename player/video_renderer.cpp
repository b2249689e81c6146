#include "player/video_renderer.h"

namespace kmr {

VideoRenderer::VideoRenderer(platform::MsClock* clock, std::unique_ptr<platform::FrameTimer> timer)
    : StreamDecoder(kQueueCapacity, clock, std::move(timer)) {}

VideoRenderer::~VideoRenderer() { Stop(); }

bool VideoRenderer::Accept(const StreamHeader& h) {
  return h.major_type == kMediaTypeVideo && h.subtype == kSubtypeScreenVideo;
}

bool VideoRenderer::Configure(const StreamHeader& header, const std::vector<uint8_t>& format) {
  if (!StreamDecoder::Configure(header, format)) return false;
  VideoFormat parsed;
  std::string why;
  if (!VideoFormat::Parse(format, &parsed)) {
    SetFailure("the video format is too short");
    return false;
  }
  if (!CheckScreenVideoFormat(parsed, &why)) {
    SetFailure("the video format is damaged: " + why);
    return false;
  }
  if (!decoder_.SetFormat(format.data() + 48, format.size() - 48)) {
    SetFailure(decoder_.Error());
    return false;
  }
  return true;
}

bool VideoRenderer::CatchUp(PlayerPacket* packet) {
  if (!decoder_.Decode(packet->data.data(), packet->data.size())) {
    SetFailure("the video frame at " + std::to_string(packet->time_stamp) + " ms is damaged: " + decoder_.Error());
    return false;
  }
  return true;
}

void VideoRenderer::FinishSeek() {
  if (view_ != nullptr) view_->Repaint(kRepaintTimeoutMs);
}

bool VideoRenderer::Present(PlayerPacket* packet) {
  if (!decoder_.Decode(packet->data.data(), packet->data.size())) {
    SetFailure("the video frame at " + std::to_string(packet->time_stamp) + " ms is damaged: " + decoder_.Error());
    return false;
  }
  if (view_ != nullptr) view_->Repaint(kRepaintTimeoutMs);
  return true;
}

}  // namespace kmr
