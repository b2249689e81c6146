#include "recorder/codecs/installed/libav/libav_compressors.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "shared/libav/libav_util.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "shared/byte_io.h"

namespace kmr {

namespace {

// The encoders offered, their handler codes and the settings they start
// from (a screen-friendly quality; no frames held back, so that every frame
// handed in comes out at once).
struct Encoder {
  const char* name;
  uint32_t handler;
  AVPixelFormat format;
  const char* defaults;
  bool inter;  // codes frames against earlier ones
};

const Encoder kEncoders[] = {
    {"libx264", FourCc('x', '2', '6', '4'), AV_PIX_FMT_YUV420P, "preset=veryfast,crf=20,tune=zerolatency", true},
    {"libx264rgb", FourCc('x', '2', 'r', 'g'), AV_PIX_FMT_BGR0, "preset=veryfast,crf=16,tune=zerolatency", true},
    {"mpeg4", FourCc('F', 'M', 'P', '4'), AV_PIX_FMT_YUV420P, "qscale=2", true},
    {"ffv1", FourCc('F', 'F', 'V', '1'), AV_PIX_FMT_BGR0, "", false},
    {"zmbv", FourCc('Z', 'M', 'B', 'V'), AV_PIX_FMT_BGR0, "", true},
    {"mjpeg", FourCc('M', 'J', 'P', 'G'), AV_PIX_FMT_YUVJ420P, "qscale=3", false},
    {"utvideo", FourCc('U', 'L', 'R', 'G'), AV_PIX_FMT_GBRP, "", false},
    {"huffyuv", FourCc('H', 'F', 'Y', 'U'), AV_PIX_FMT_BGRA, "", false},
};

const Encoder* ByHandler(uint32_t handler) {
  for (const Encoder& e : kEncoders) {
    if (e.handler == handler) return &e;
  }
  return nullptr;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// "key=value,key=value" applied to a codec context; false with *error.
bool ApplyOptions(AVCodecContext* ctx, const std::string& text, std::string* error) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(at, end - at);
    at = end + 1;
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "'" + pair + "' is not key=value";
      return false;
    }
    const std::string key = pair.substr(0, eq), value = pair.substr(eq + 1);
    if (key == "qscale") {
      // The fixed quantiser of the MPEG coders, as ffmpeg's -q:v gives it.
      char* stop = nullptr;
      const double q = std::strtod(value.c_str(), &stop);
      if (stop == value.c_str() || *stop != '\0' || q < 1 || q > 31) {
        *error = "qscale takes 1 to 31";
        return false;
      }
      ctx->flags |= AV_CODEC_FLAG_QSCALE;
      ctx->global_quality = static_cast<int>(FF_QP2LAMBDA * q);
      continue;
    }
    const int r = av_opt_set(ctx, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN);
    if (r < 0) {
      *error = (r == AVERROR_OPTION_NOT_FOUND ? "no option '" + key + "'" : "'" + value + "' for " + key + ": " + LibavError(r)) +
               " for " + ctx->codec->name;
      return false;
    }
  }
  return true;
}

class LibavCompressor : public CompressorDriver {
 public:
  LibavCompressor(const Encoder* e, std::string options) : e_(e), options_(std::move(options)) {}
  ~LibavCompressor() override { Close(); }

  bool GetInfo(CompressorInfo* info) override {
    const AVCodec* codec = avcodec_find_encoder_by_name(e_->name);
    if (codec == nullptr) return false;
    info->type = kCompressorTypeVideo;
    info->handler = e_->handler;
    info->flags = kCompressorQuality | (e_->inter ? kCompressorTemporal | kCompressorFastTemporal : 0);
    info->version = LIBAVCODEC_VERSION_INT;
    info->name = Widen(e_->name);
    info->description = Widen(std::string(codec->long_name != nullptr ? codec->long_name : e_->name) + " (" +
                              e_->name + ")");
    info->driver = u"libavcodec";
    return true;
  }

  bool CompressQuery(const std::vector<uint8_t>& in) override {
    if (in.size() < 40) return false;
    const auto w = static_cast<int32_t>(LeAt(in, 4)), h = static_cast<int32_t>(LeAt(in, 8));
    const int bits = in[14] | (in[15] << 8);
    return w > 0 && h != 0 && bits == 32 && LeAt(in, 16) == 0 && w <= kMaxFrameSide && std::abs(h) <= kMaxFrameSide;
  }

  int32_t StateSize() override { return 0; }
  bool GetState(std::vector<uint8_t>* state) override {
    state->clear();
    return true;
  }
  bool SetState(const std::vector<uint8_t>&) override { return true; }

  // Opens the encoder for the input's size (the codec data of the output
  // format comes from it), once per size.
  bool GetOutputFormat(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) override {
    if (!CompressQuery(in) || !OpenFor(in)) return false;
    out->assign(40, 0);
    PutLeAt(out, 0, 40);
    PutLeAt(out, 4, static_cast<uint32_t>(ctx_->width));
    PutLeAt(out, 8, static_cast<uint32_t>(ctx_->height));
    (*out)[12] = 1;
    (*out)[14] = 24;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    PutLeAt(out, 16, av_codec_get_tag(tables, ctx_->codec_id));
    PutLeAt(out, 20, static_cast<uint32_t>(ctx_->width * ctx_->height * 3));
    if (ctx_->extradata != nullptr && ctx_->extradata_size > 0) {
      out->insert(out->end(), ctx_->extradata, ctx_->extradata + ctx_->extradata_size);
    }
    return true;
  }

  uint32_t MaxCompressedSize(const std::vector<uint8_t>& in, const std::vector<uint8_t>&) override {
    const uint64_t w = LeAt(in, 4), h = static_cast<uint32_t>(std::abs(static_cast<int32_t>(LeAt(in, 8))));
    return static_cast<uint32_t>(std::min<uint64_t>(w * h * 8 + (1u << 20), 0x7FFFFFFF));
  }
  int32_t DefaultKeyFrameRate() override { return 0; }
  int32_t DefaultQuality() override { return 0; }
  void SendFramesInfo(const FramesInfo& info) override { info_ = info; }
  bool CompressBegin(const std::vector<uint8_t>& in, const std::vector<uint8_t>&) override {
    return ctx_ != nullptr && in == input_;
  }
  // The encoder stays open until the next size or the end.
  void CompressEnd() override { Close(); }
  bool DecompressBegin(const std::vector<uint8_t>&, const std::vector<uint8_t>&) override { return false; }
  void DecompressEnd() override {}

  bool Compress(CompressCall* call) override {
    if (ctx_ == nullptr || call->in == nullptr || call->out == nullptr) return false;
    const int w = ctx_->width, h = ctx_->height;
    const int stride = w * 4;
    // Bottom-up rows: the last row in memory is the top of the picture.
    const uint8_t* src[1] = {call->in + static_cast<size_t>(h - 1) * stride};
    const int src_stride[1] = {-stride};
    if (av_frame_make_writable(frame_) < 0) return false;
    sws_scale(sws_, src, src_stride, 0, h, frame_->data, frame_->linesize);
    const uint32_t scale = info_.scale == 0 ? 1 : info_.scale, rate = info_.rate == 0 ? 25 : info_.rate;
    frame_->pts = av_rescale(call->frame, 1000LL * scale, rate);
    if (frame_->pts <= last_pts_) frame_->pts = last_pts_ + 1;
    last_pts_ = frame_->pts;
    frame_->pict_type = (call->flags & kCompressKeyFrame) != 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(ctx_, frame_) < 0) return false;
    const int r = avcodec_receive_packet(ctx_, packet_);
    uint32_t size = 0;
    call->out_flags = 0;
    if (r == 0) {
      const uint32_t room = MaxCompressedSize(input_, *call->out_format);
      if (static_cast<uint32_t>(packet_->size) > room) {
        av_packet_unref(packet_);
        return false;
      }
      std::memcpy(call->out, packet_->data, static_cast<size_t>(packet_->size));
      size = static_cast<uint32_t>(packet_->size);
      if ((packet_->flags & AV_PKT_FLAG_KEY) != 0) call->out_flags = kCompressedKeyFrame;
      av_packet_unref(packet_);
    } else if (r != AVERROR(EAGAIN)) {
      return false;
    }
    PutLeAt(call->out_format, 20, size);
    return true;
  }

  bool Decompress(uint32_t, const std::vector<uint8_t>&, const uint8_t*, const std::vector<uint8_t>&,
                  uint8_t*) override {
    return false;
  }
  bool HasConfigureDialog() override { return false; }
  bool ShowConfigureDialog(void*) override { return false; }

  const std::string& Error() const { return error_; }

 private:
  void Close() {
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
    input_.clear();
    last_pts_ = -1;
  }

  bool OpenFor(const std::vector<uint8_t>& in) {
    const std::vector<uint8_t> header(in.begin(), in.begin() + 40);
    if (ctx_ != nullptr && header == input_) return true;
    Close();
    const AVCodec* codec = avcodec_find_encoder_by_name(e_->name);
    if (codec == nullptr) return false;
    ctx_ = avcodec_alloc_context3(codec);
    if (ctx_ == nullptr) return false;
    ctx_->width = static_cast<int>(LeAt(in, 4));
    ctx_->height = std::abs(static_cast<int32_t>(LeAt(in, 8)));
    ctx_->pix_fmt = e_->format;
    // Milliseconds: frames keep their times whatever the rate.
    ctx_->time_base = AVRational{1, 1000};
    ctx_->framerate = AVRational{static_cast<int>(info_.rate ? info_.rate : 25), static_cast<int>(info_.scale ? info_.scale : 1)};
    // Key frames come when asked for; none in between by the coder's own count.
    ctx_->gop_size = 600;
    ctx_->max_b_frames = 0;
    ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx_->thread_count = 0;
    std::string why;
    if (!ApplyOptions(ctx_, e_->defaults, &why) || !ApplyOptions(ctx_, options_, &why)) {
      error_ = why;
      Close();
      return false;
    }
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
      Close();
      return false;
    }
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (frame_ == nullptr || packet_ == nullptr) return Close(), false;
    frame_->format = ctx_->pix_fmt;
    frame_->width = ctx_->width;
    frame_->height = ctx_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) return Close(), false;
    sws_ = sws_getContext(ctx_->width, ctx_->height, AV_PIX_FMT_BGRA, ctx_->width, ctx_->height, ctx_->pix_fmt,
                          SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (sws_ == nullptr) return Close(), false;
    input_ = header;
    return true;
  }

  const Encoder* e_;
  std::string options_;
  FramesInfo info_;
  AVCodecContext* ctx_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  std::vector<uint8_t> input_;
  int64_t last_pts_ = -1;
  std::string error_;
};

}  // namespace

LibavCompressorManager::LibavCompressorManager() { QuietLibavLog(); }

bool LibavCompressorManager::Info(uint32_t type, uint32_t index, CompressorInfo* info) {
  if (type != kCompressorTypeVideo) return false;
  // Only the encoders this libavcodec has count.
  uint32_t n = 0;
  for (const Encoder& e : kEncoders) {
    if (avcodec_find_encoder_by_name(e.name) == nullptr) continue;
    if (n++ == index) {
      *info = CompressorInfo{};
      info->type = kCompressorTypeVideo;
      info->handler = e.handler;
      return true;
    }
  }
  return false;
}

std::unique_ptr<CompressorDriver> LibavCompressorManager::Open(uint32_t type, uint32_t handler) {
  const Encoder* e = ByHandler(handler);
  if (type != kCompressorTypeVideo || e == nullptr || avcodec_find_encoder_by_name(e->name) == nullptr) {
    return nullptr;
  }
  const auto it = options_.find(handler);
  return std::make_unique<LibavCompressor>(e, it == options_.end() ? std::string() : it->second);
}

uint32_t LibavCompressorManager::HandlerOf(const std::string& encoder) {
  for (const Encoder& e : kEncoders) {
    if (encoder == e.name) return e.handler;
  }
  return 0;
}

std::string LibavCompressorManager::EncoderOf(uint32_t handler) {
  const Encoder* e = ByHandler(handler);
  return e == nullptr ? std::string() : e->name;
}

bool LibavCompressorManager::SetOptions(const std::string& encoder, const std::string& options, std::string* error) {
  const Encoder* e = ByHandler(HandlerOf(encoder));
  const AVCodec* codec = e == nullptr ? nullptr : avcodec_find_encoder_by_name(e->name);
  if (codec == nullptr) {
    *error = "no encoder " + encoder;
    return false;
  }
  // Tried on a context of the encoder's own, so mistakes show before recording.
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (ctx == nullptr) return false;
  const bool ok = ApplyOptions(ctx, options, error);
  avcodec_free_context(&ctx);
  if (ok) options_[e->handler] = options;
  return ok;
}

std::unique_ptr<CompressorManager> MakeSystemCompressorManager() { return std::make_unique<LibavCompressorManager>(); }

}  // namespace kmr
