#include "platform/mirror/stream/stream_mirror.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kmr::platform {
namespace {

constexpr uint32_t kPixelBytes = 4;

void CopyRows(const uint8_t* from, uint32_t from_stride, const PlaneView& to, const Rect& r) {
  const size_t n = static_cast<size_t>(r.Width()) * kPixelBytes;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    std::memcpy(to.At(r.left, y), from + static_cast<size_t>(y) * from_stride + static_cast<size_t>(r.left) * kPixelBytes,
                n);
  }
}

Rect Bounds(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

}  // namespace

void FrameMailbox::AddPending(const Rect& r) {
  if (r.IsEmpty()) return;
  pending_.push_back(r);
  if (pending_.size() > kMaxPending) {
    Rect all;
    for (const Rect& p : pending_) all = Bounds(all, p);
    pending_.assign(1, all);
  }
}

bool FrameMailbox::Post(const StreamPicture& p, const std::vector<Rect>* damage) {
  if (p.pixels == nullptr || p.width <= 0 || p.height <= 0 || p.width > kMaxSide || p.height > kMaxSide ||
      p.stride < static_cast<uint32_t>(p.width) * kPixelBytes) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const Rect whole{0, 0, p.width, p.height};
  if (!have_picture_ || copy_.view().width != p.width || copy_.view().height != p.height) {
    // The first picture, or the desktop changed size: all of it is new.
    copy_.Reset(p.width, p.height, kPixelBytes);
    CopyRows(p.pixels, p.stride, copy_.view(), whole);
    pending_.assign(1, whole);
    have_picture_ = true;
    came_.notify_all();
    return true;
  }
  const PlaneView& c = copy_.view();
  if (damage != nullptr) {
    for (const Rect& d : *damage) {
      const Rect r = Intersect(d, whole);
      if (r.IsEmpty()) continue;
      CopyRows(p.pixels, p.stride, c, r);
      AddPending(r);
    }
    return true;
  }
  // No damage said: the rows that differ from the copy, as bands of
  // consecutive differing rows spanning their differing columns.
  const size_t row_bytes = static_cast<size_t>(p.width) * kPixelBytes;
  Rect band;
  for (int32_t y = 0; y < p.height; ++y) {
    const uint8_t* in = p.pixels + static_cast<size_t>(y) * p.stride;
    uint8_t* mine = c.At(0, y);
    if (std::memcmp(in, mine, row_bytes) == 0) {
      AddPending(band);
      band = Rect{};
      continue;
    }
    int32_t first = 0, last = p.width - 1;
    while (std::memcmp(in + static_cast<size_t>(first) * kPixelBytes, mine + static_cast<size_t>(first) * kPixelBytes,
                       kPixelBytes) == 0) {
      ++first;
    }
    while (std::memcmp(in + static_cast<size_t>(last) * kPixelBytes, mine + static_cast<size_t>(last) * kPixelBytes,
                       kPixelBytes) == 0) {
      --last;
    }
    std::memcpy(mine + static_cast<size_t>(first) * kPixelBytes, in + static_cast<size_t>(first) * kPixelBytes,
                static_cast<size_t>(last - first + 1) * kPixelBytes);
    band = Bounds(band, Rect{first, y, last + 1, y + 1});
  }
  AddPending(band);
  return true;
}

void FrameMailbox::PostPointer(const StreamPointer& pointer) {
  std::lock_guard<std::mutex> lock(mutex_);
  have_pointer_ = true;
  pointer_.visible = pointer.visible;
  pointer_.x = pointer.x;
  pointer_.y = pointer.y;
  if (pointer.shape_changed) {
    const size_t n = static_cast<size_t>(std::max(pointer.width, 0)) * static_cast<size_t>(std::max(pointer.height, 0));
    if (pointer.width <= 0 || pointer.height <= 0 || pointer.width > 1024 || pointer.height > 1024 ||
        pointer.argb.size() != n) {
      return;  // a shape that does not add up keeps the old one
    }
    shape_.hot_x = pointer.hot_x;
    shape_.hot_y = pointer.hot_y;
    shape_.width = pointer.width;
    shape_.height = pointer.height;
    shape_.argb = pointer.argb;
    ++shape_.serial;
  }
}

void FrameMailbox::PostFailure(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_.empty()) failure_ = why.empty() ? "the screen cast ended" : why;
  came_.notify_all();
}

bool FrameMailbox::WaitFirst(int timeout_ms, std::string* why) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool came = came_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [this] { return have_picture_ || !failure_.empty(); });
  if (!failure_.empty()) {
    *why = failure_;
    return false;
  }
  if (!came) {
    *why = "the screen cast sent no picture";
    return false;
  }
  return true;
}

void FrameMailbox::Take(const PlaneView& surface, std::vector<Rect>* changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!have_picture_) return;
  const PlaneView& c = copy_.view();
  const Rect limit = Intersect(Rect{0, 0, surface.width, surface.height}, Rect{0, 0, c.width, c.height});
  for (const Rect& p : pending_) {
    const Rect r = Intersect(p, limit);
    if (r.IsEmpty()) continue;
    CopyRows(c.data, c.stride, surface, r);
    changed->push_back(r);
  }
  pending_.clear();
}

bool FrameMailbox::CopyLatest(const Rect& in, const PlaneView& surface) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!have_picture_) return false;
  const PlaneView& c = copy_.view();
  const Rect r = Intersect(Intersect(in, Rect{0, 0, surface.width, surface.height}), Rect{0, 0, c.width, c.height});
  if (!r.IsEmpty()) CopyRows(c.data, c.stride, surface, r);
  return true;
}

void FrameMailbox::Size(int32_t* width, int32_t* height) {
  std::lock_guard<std::mutex> lock(mutex_);
  *width = have_picture_ ? copy_.view().width : 0;
  *height = have_picture_ ? copy_.view().height : 0;
}

bool FrameMailbox::Pointer(bool* visible, int32_t* x, int32_t* y, PointerImage* image) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!have_pointer_) return false;
  *visible = pointer_.visible;
  *x = pointer_.x;
  *y = pointer_.y;
  if (image->serial != shape_.serial || image->argb.size() != shape_.argb.size()) {
    image->hot_x = shape_.hot_x;
    image->hot_y = shape_.hot_y;
    image->width = shape_.width;
    image->height = shape_.height;
    image->argb = shape_.argb;
    image->serial = shape_.serial;
  }
  return true;
}

std::string FrameMailbox::Failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void FrameMailbox::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  copy_.Free();
  have_picture_ = false;
  pending_.clear();
  failure_.clear();
  have_pointer_ = false;
  pointer_ = StreamPointer{};
  shape_ = PointerImage{};
}

bool StreamPointerSource::Fetch(PointerImage* pointer) {
  bool visible = false;
  int32_t x = 0, y = 0;
  if (!mailbox_->Pointer(&visible, &x, &y, pointer) || !visible || pointer->argb.empty()) return false;
  pointer->x = x;
  pointer->y = y;
  return true;
}

bool StreamMirror::Attach() {
  if (attached_) return true;
  error_.clear();
  mailbox_.Reset();
  if (!stream_->Start(&mailbox_, &error_)) return false;
  if (!mailbox_.WaitFirst(kFirstPictureMs, &error_)) {
    stream_->Stop();
    return false;
  }
  mailbox_.Size(&width_, &height_);
  attached_ = true;
  return true;
}

void StreamMirror::Detach() {
  UnmapChangeRing();
  UnmapSurface();
  if (attached_) stream_->Stop();
  attached_ = false;
}

bool StreamMirror::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  if (!attached_) return false;
  if (!surface_mapped_) {
    surface_.Reset(width_, height_, kPixelBytes);
    surface_mapped_ = true;
  }
  *bits = surface_.data();
  *format = SurfaceFormat{};
  format->width = width_;
  format->height = height_;
  format->bits_per_pixel = 32;
  format->stride = surface_.view().stride;
  return true;
}

void StreamMirror::UnmapSurface() {
  surface_.Free();
  surface_mapped_ = false;
}

bool StreamMirror::MapChangeRing(uint32_t capacity, uint8_t** ring) {
  return attached_ && ring_.Map(capacity, ring);
}

void StreamMirror::UnmapChangeRing() { ring_.Unmap(); }

bool StreamMirror::EnableTracking() {
  if (!attached_) return false;
  ring_.SetTracking(true);
  return true;
}

ScreenMetrics StreamMirror::Screen() {
  int32_t w = 0, h = 0;
  mailbox_.Size(&w, &h);
  if (w == 0) return {width_, height_, 32};
  return {w, h, 32};
}

bool StreamMirror::SeedFromScreen(const Rect& in) {
  if (!surface_mapped_ || !mailbox_.CopyLatest(in, surface_.view())) return false;
  ring_.Report(Intersect(in, Rect{0, 0, width_, height_}));
  return true;
}

bool StreamMirror::FillBlack(const Rect& in) {
  if (!surface_mapped_) return false;
  const Rect r = Intersect(in, Rect{0, 0, width_, height_});
  for (int32_t y = r.top; y < r.bottom; ++y) {
    std::memset(surface_.view().At(r.left, y), 0, static_cast<size_t>(r.Width()) * kPixelBytes);
  }
  ring_.Report(r);
  return true;
}

void StreamMirror::Update() {
  if (!surface_mapped_) return;
  changed_.clear();
  mailbox_.Take(surface_.view(), &changed_);
  for (const Rect& r : changed_) ring_.Report(r);
}

std::string StreamMirror::Error() {
  if (!error_.empty()) return error_;
  return mailbox_.Failure();
}

}  // namespace kmr::platform
