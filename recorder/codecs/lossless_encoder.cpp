#include "recorder/codecs/lossless_encoder.h"

#include <cstring>

#include "recorder/codecs/row_ops.h"

namespace kmr {

namespace {

constexpr size_t kStagingSize = 65536;

bool RunInside(const Rect& capture, int32_t x, int32_t y, int32_t n) {
  return x >= capture.left && x + n <= capture.right && y >= capture.top && y < capture.bottom;
}

RowCommand Make(uint16_t kind, int32_t src_x, int32_t src_y, int32_t dst_x, int32_t dst_y, int32_t width) {
  RowCommand c;
  c.src_x = static_cast<int16_t>(src_x);
  c.src_y = static_cast<int16_t>(src_y);
  c.dst_x = static_cast<int16_t>(dst_x);
  c.dst_y = static_cast<int16_t>(dst_y);
  c.width = static_cast<int16_t>(width);
  c.source = static_cast<uint8_t>(kind & 0xFF);
  c.mask = static_cast<uint8_t>(kind >> 8);
  return c;
}

}  // namespace

LosslessEncoder::LosslessEncoder(platform::DesktopState* desktop) : desktop_(desktop) {}

LosslessEncoder::~LosslessEncoder() { EndStream(); }

void LosslessEncoder::Release() {
  EndStream();
  packet_ = {};
  staging_ = {};
  length_ = 0;
  last_x_ = last_y_ = 0;
}

bool LosslessEncoder::BeginStream() {
  if (stream_open_) return true;
  if (packet_.empty()) packet_.resize(kBufferStep);
  if (staging_.empty()) staging_.resize(kStagingSize);
  zs_ = z_stream{};
  if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
  stream_open_ = true;
  zs_.next_out = packet_.data();
  zs_.avail_out = static_cast<uInt>(packet_.size());
  staged_ = 0;
  return true;
}

void LosslessEncoder::EndStream() {
  if (!stream_open_) return;
  deflateEnd(&zs_);
  stream_open_ = false;
}

bool LosslessEncoder::EnsureOutputSpace() {
  if (zs_.avail_out != 0) return true;
  const size_t used = zs_.total_out;
  try {
    packet_.resize(packet_.size() + kBufferStep);  // contents stay
  } catch (...) {
    return false;
  }
  zs_.next_out = packet_.data() + used;
  zs_.avail_out = static_cast<uInt>(packet_.size() - used);
  return true;
}

bool LosslessEncoder::Deflate(const uint8_t* data, size_t n, int flush) {
  zs_.next_in = const_cast<Bytef*>(data);
  zs_.avail_in = static_cast<uInt>(n);
  for (;;) {
    if (!EnsureOutputSpace()) return false;
    const int rc = deflate(&zs_, flush);
    if (rc == Z_STREAM_ERROR) return false;
    if (flush == Z_FINISH) {
      if (rc == Z_STREAM_END) return true;
      if (zs_.avail_out != 0 && rc != Z_OK && rc != Z_BUF_ERROR) return false;
      continue;
    }
    if (zs_.avail_in == 0 && zs_.avail_out != 0) return true;
  }
}

bool LosslessEncoder::FlushStaging(int flush) {
  const bool ok = Deflate(staging_.data(), staged_, flush);
  staged_ = 0;
  return ok;
}

bool LosslessEncoder::Emit(const RowCommand& command, const uint8_t* data, size_t n) {
  if (!BeginStream()) return false;
  if (record_kinds_) kinds_.push_back(static_cast<uint16_t>(command.source | (command.mask << 8)));
  if (staged_ + kRowCommandSize > staging_.size() && !FlushStaging(Z_NO_FLUSH)) return false;
  command.Store(staging_.data() + staged_);
  staged_ += kRowCommandSize;
  frame_bytes_ += kRowCommandSize + n;
  if (n == 0) return true;
  if (staged_ + n <= staging_.size()) {
    std::memcpy(staging_.data() + staged_, data, n);
    staged_ += n;
    return true;
  }
  // A long run goes to deflate directly, after what is staged.
  return FlushStaging(Z_NO_FLUSH) && Deflate(data, n, Z_NO_FLUSH);
}

bool LosslessEncoder::FinishStream() {
  const bool ok = FlushStaging(Z_FINISH);
  length_ = static_cast<uint32_t>(zs_.total_out);
  EndStream();
  return ok;
}

void LosslessEncoder::CopyRects(const LosslessFrames& f, const std::vector<Rect>& rects, bool r1, bool r2,
                                bool r3) {
  const uint32_t bpp = f.current.bytes_per_pixel;
  for (const Rect& r : rects) {
    const size_t n = static_cast<size_t>(r.Width()) * bpp;
    for (int32_t y = r.top; y < r.bottom; ++y) {
      const uint8_t* src = f.current.At(r.left, y);
      if (r1) std::memcpy(f.r1.At(r.left, y), src, n);
      if (r2) std::memcpy(f.r2.At(r.left, y), src, n);
      if (r3) std::memcpy(f.r3.At(r.left, y), src, n);
    }
  }
}

void LosslessEncoder::EncodeKeyFrame(const LosslessFrames& f, const Rect& capture, bool* ok) {
  const int32_t w = capture.Width();
  const size_t n = static_cast<size_t>(w) * f.current.bytes_per_pixel;
  for (int32_t y = capture.top; y < capture.bottom && *ok; ++y) {
    const int32_t row = y - capture.top;
    *ok = Emit(Make(kKeyRow, 0, row, 0, row, w), f.current.At(capture.left, y), n);
  }
}

void LosslessEncoder::EncodeCursorArea(const LosslessFrames& f, const Rect& capture, int32_t dx, int32_t dy,
                                       bool* ok) {
  const uint32_t bpp = f.current.bytes_per_pixel;
  for (const Rect& r : cursor_rects_) {
    const int32_t n = r.Width();
    const size_t bytes = static_cast<size_t>(n) * bpp;
    for (int32_t y = r.top; y < r.bottom && *ok; ++y) {
      const uint8_t* run = f.current.At(r.left, y);
      const int32_t dst_x = r.left - capture.left, dst_y = y - capture.top;
      const int32_t sx = r.left - dx, sy = y - dy;
      if ((dx != 0 || dy != 0) && RunInside(capture, sx, sy, n) && std::memcmp(run, f.r1.At(sx, sy), bytes) == 0) {
        *ok = Emit(Make(kCursorMove, sx - capture.left, sy - capture.top, dst_x, dst_y, n), nullptr, 0);
      } else if (XorRun(f.r1.At(r.left, y), run, f.scratch, bytes)) {
        *ok = Emit(Make(kCursorXor, dst_x, dst_y, dst_x, dst_y, -n), f.scratch, bytes);
      }
    }
  }
}

void LosslessEncoder::EncodeWindowArea(const LosslessFrames& f, const Rect& capture, int32_t dx, int32_t dy,
                                       bool button, bool* ok) {
  const uint32_t bpp = f.current.bytes_per_pixel;
  for (const Rect& r : window_rects_) {
    const int32_t n = r.Width();
    const size_t bytes = static_cast<size_t>(n) * bpp;
    for (int32_t y = r.top; y < r.bottom && *ok; ++y) {
      const uint8_t* run = f.current.At(r.left, y);
      const int32_t dst_x = r.left - capture.left, dst_y = y - capture.top;
      const int32_t sx = r.left - dx, sy = y - dy;
      if (std::memcmp(run, f.r2.At(r.left, y), bytes) == 0) {
        *ok = Emit(Make(kWindowRestore, dst_x, dst_y, dst_x, dst_y, n), nullptr, 0);
      } else if ((dx != 0 || dy != 0) && button && RunInside(capture, sx, sy, n) &&
                 std::memcmp(run, f.r1.At(sx, sy), bytes) == 0) {
        *ok = Emit(Make(kWindowDrag, sx - capture.left, sy - capture.top, dst_x, dst_y, n), nullptr, 0);
      } else if (XorRun(f.r1.At(r.left, y), run, f.scratch, bytes)) {
        *ok = Emit(Make(kWindowXor, dst_x, dst_y, dst_x, dst_y, -n), f.scratch, bytes);
      } else {
        *ok = Emit(Make(kWindowRefresh, dst_x, dst_y, dst_x, dst_y, n), nullptr, 0);
      }
    }
  }
}

void LosslessEncoder::EncodeBackgroundArea(const LosslessFrames& f, const Rect& capture, bool* ok) {
  const uint32_t bpp = f.current.bytes_per_pixel;
  for (const Rect& r : background_rects_) {
    const int32_t n = r.Width();
    const size_t bytes = static_cast<size_t>(n) * bpp;
    for (int32_t y = r.top; y < r.bottom && *ok; ++y) {
      const uint8_t* run = f.current.At(r.left, y);
      const int32_t dst_x = r.left - capture.left, dst_y = y - capture.top;
      if (std::memcmp(run, f.r3.At(r.left, y), bytes) == 0) {
        *ok = Emit(Make(kBackgroundRestore, dst_x, dst_y, dst_x, dst_y, n), nullptr, 0);
      } else if (XorRun(f.r1.At(r.left, y), run, f.scratch, bytes)) {
        *ok = Emit(Make(kBackgroundXor, dst_x, dst_y, dst_x, dst_y, -n), f.scratch, bytes);
      } else {
        *ok = Emit(Make(kBackgroundRefresh, dst_x, dst_y, dst_x, dst_y, n), nullptr, 0);
      }
    }
  }
}

bool LosslessEncoder::EncodeRowCommands(const LosslessFrames& f, const Rect& capture, const platform::Region& dirty,
                                        bool key_frame, uint64_t* bytes_since_key) {
  length_ = 0;
  kinds_.clear();
  frame_bytes_ = 0;
  if (!f.current.IsValid() || !f.r1.IsValid() || !f.r2.IsValid() || !f.r3.IsValid() || f.scratch == nullptr) {
    return false;
  }
  const int32_t surface_w = f.current.width, surface_h = f.current.height;

  // The pointer is sampled on every frame, key frames included.
  const platform::PointerState pointer = desktop_ ? desktop_->Pointer() : platform::PointerState{};
  const int32_t dx = pointer.x - last_x_, dy = pointer.y - last_y_;
  last_x_ = pointer.x;
  last_y_ = pointer.y;

  bool ok = true;
  if (key_frame) {
    EncodeKeyFrame(f, capture, &ok);
  } else {
    // Area split: pointer rectangle, foreground window, background.
    if (pointer.showing) {
      cursor_rect_.SetRect(Rect{pointer.x - pointer.hot_x, pointer.y - pointer.hot_y,
                                pointer.x - pointer.hot_x + pointer.width, pointer.y - pointer.hot_y + pointer.height});
    } else {
      cursor_rect_.SetEmpty();
    }
    Rect window_rect;
    window_.SetEmpty();
    if (desktop_ && desktop_->ForegroundWindow(&window_rect, &window_)) {
      if (window_rect.left >= surface_w || window_rect.top >= surface_h || window_rect.right <= 0 ||
          window_rect.bottom <= 0) {
        window_.SetEmpty();
      }
    }
    cursor_area_ = dirty;
    cursor_area_.Intersect(cursor_rect_);
    scratch_region_ = dirty;
    scratch_region_.Subtract(cursor_area_);
    window_area_ = scratch_region_;
    window_area_.Intersect(window_);
    background_area_ = scratch_region_;
    background_area_.Subtract(window_);
    cursor_area_.GetRects(&cursor_rects_);
    window_area_.GetRects(&window_rects_);
    background_area_.GetRects(&background_rects_);

    const bool button = !window_rects_.empty() && (dx != 0 || dy != 0) && desktop_ && desktop_->LeftButtonDown();
    EncodeCursorArea(f, capture, dx, dy, &ok);
    if (ok) EncodeWindowArea(f, capture, dx, dy, button, &ok);
    if (ok) EncodeBackgroundArea(f, capture, &ok);
  }

  if (!stream_open_) {
    // No command: no stream, an empty packet, success.
    if (ok && !key_frame) {
      CopyRects(f, cursor_rects_, true, false, false);
    }
    return ok;
  }
  if (!ok) {
    EndStream();
    length_ = 0;
    return false;
  }
  if (!FinishStream()) {
    length_ = 0;
    return false;
  }
  if (key_frame) {
    const std::vector<Rect> all{capture};
    CopyRects(f, all, true, true, true);
  } else {
    CopyRects(f, cursor_rects_, true, false, false);
    CopyRects(f, window_rects_, true, true, false);
    CopyRects(f, background_rects_, true, true, true);
  }
  *bytes_since_key += frame_bytes_;
  return true;
}

}  // namespace kmr
