#include "platform/mirror/duplication_mirror.h"

#include <algorithm>
#include <cstring>


namespace kmr::platform {

namespace {

// Bounds on what the system says about its outputs and its pointer.
constexpr int32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixels = 1ull << 26;
constexpr int32_t kMaxPointerSide = 256;

Rect Offset(const Rect& r, int32_t dx, int32_t dy) { return Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

Rect Bounding(const Rect& a, const Rect& b) {
  if (a.IsEmpty()) return b;
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}

}  // namespace

bool DuplicationMirror::Attach() {
  if (!outputs_.empty()) return true;
  std::vector<Rect> places;
  if (!system_->Outputs(&places, &error_)) return false;
  if (places.empty()) {
    error_ = "no output is attached to the desktop";
    return false;
  }
  Rect all;
  for (const Rect& p : places) {
    if (p.IsEmpty() || p.Width() > kMaxSide || p.Height() > kMaxSide) {
      error_ = "an output has a size no screen has";
      return false;
    }
    all = Bounding(all, p);
  }
  if (all.Width() > kMaxSide || all.Height() > kMaxSide ||
      static_cast<uint64_t>(all.Width()) * static_cast<uint64_t>(all.Height()) > kMaxPixels) {
    error_ = "the desktop is larger than a recording can be";
    return false;
  }
  // The surface's top-left is the virtual screen's.
  width_ = all.Width();
  height_ = all.Height();
  stride_ = static_cast<uint32_t>(width_) * 4;
  for (size_t i = 0; i < places.size(); ++i) {
    Output out;
    out.place = Offset(places[i], -all.left, -all.top);
    out.duplication = system_->Duplicate(i, &error_);
    if (out.duplication == nullptr) {
      outputs_.clear();
      return false;
    }
    out.whole_pending = true;
    outputs_.push_back(std::move(out));
  }
  surface_.assign(static_cast<size_t>(stride_) * static_cast<size_t>(height_), 0);
  error_.clear();
  return true;
}

void DuplicationMirror::Detach() {
  outputs_.clear();
  surface_.clear();
  surface_.shrink_to_fit();
  ring_.Unmap();
  pointer_ = DuplicationPointer{};
}

bool DuplicationMirror::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  if (surface_.empty()) return false;
  *bits = surface_.data();
  *format = SurfaceFormat{};
  format->width = width_;
  format->height = height_;
  format->bits_per_pixel = 32;
  format->stride = stride_;
  return true;
}

bool DuplicationMirror::MapChangeRing(uint32_t capacity, uint8_t** ring) {
  return !outputs_.empty() && ring_.Map(capacity, ring);
}

void DuplicationMirror::UnmapChangeRing() { ring_.Unmap(); }

bool DuplicationMirror::EnableTracking() {
  ring_.SetTracking(!outputs_.empty());
  return !outputs_.empty();
}

ScreenMetrics DuplicationMirror::Screen() {
  ScreenMetrics m;
  m.width = width_;
  m.height = height_;
  m.bits_per_pixel = 32;
  return m;
}

bool DuplicationMirror::SeedFromScreen(const Rect& in) {
  if (surface_.empty()) return false;
  ring_.Report(Intersect(in, Rect{0, 0, width_, height_}));
  return true;
}

bool DuplicationMirror::FillBlack(const Rect& in) {
  if (surface_.empty()) return false;
  const Rect r = Intersect(in, Rect{0, 0, width_, height_});
  for (int32_t y = r.top; y < r.bottom; ++y) {
    std::memset(&surface_[static_cast<size_t>(y) * stride_ + static_cast<size_t>(r.left) * 4], 0,
                static_cast<size_t>(r.Width()) * 4);
  }
  ring_.Report(r);
  return true;
}

void DuplicationMirror::Update() {
  for (size_t i = 0; i < outputs_.size(); ++i) UpdateOutput(i);
}

// A move inside the output; rows are copied in the order that reads each
// source row before it is overwritten.
void DuplicationMirror::ApplyMove(const Output& out, const MovedRect& move) {
  const Rect& d = move.destination;
  const int32_t w = d.Width(), h = d.Height();
  const int32_t sx = out.place.left + move.source_x, sy = out.place.top + move.source_y;
  const int32_t dx = out.place.left + d.left, dy = out.place.top + d.top;
  const size_t bytes = static_cast<size_t>(w) * 4;
  auto row = [&](int32_t y) {
    std::memmove(&surface_[static_cast<size_t>(dy + y) * stride_ + static_cast<size_t>(dx) * 4],
                 &surface_[static_cast<size_t>(sy + y) * stride_ + static_cast<size_t>(sx) * 4], bytes);
  };
  if (dy > sy) {
    for (int32_t y = h - 1; y >= 0; --y) row(y);
  } else {
    for (int32_t y = 0; y < h; ++y) row(y);
  }
}

void DuplicationMirror::UpdateOutput(size_t index) {
  Output& out = outputs_[index];
  const Rect whole{0, 0, out.place.Width(), out.place.Height()};
  if (out.duplication == nullptr) {
    // Lost earlier and not yet made again (a secure desktop, a mode change).
    std::string why;
    out.duplication = system_->Duplicate(index, &why);
    if (out.duplication == nullptr) {
      error_ = why;
      return;
    }
    ++recreations_;
    out.whole_pending = true;
  }
  DuplicationFrame frame;
  const OutputDuplication::Acquired got = out.duplication->Acquire(&frame);
  if (got == OutputDuplication::Acquired::kNothingNew) return;
  if (got != OutputDuplication::Acquired::kFrame) {
    // Access lost (or broken): a new duplication next time, the whole output
    // read again at its first frame.
    out.duplication.reset();
    std::string why;
    out.duplication = system_->Duplicate(index, &why);
    if (out.duplication != nullptr) {
      ++recreations_;
    } else {
      error_ = why;
    }
    out.whole_pending = true;
    return;
  }
  std::vector<Rect> reads;
  std::vector<Rect> changed;
  for (const MovedRect& move : frame.moves) {
    const Rect dst = Intersect(move.destination, whole);
    const Rect src{move.source_x, move.source_y, move.source_x + move.destination.Width(),
                   move.source_y + move.destination.Height()};
    if (dst.IsEmpty()) continue;
    if (dst.left != move.destination.left || dst.top != move.destination.top || dst.right != move.destination.right ||
        dst.bottom != move.destination.bottom || Intersect(src, whole).Width() != src.Width() ||
        Intersect(src, whole).Height() != src.Height()) {
      // A move that does not lie inside the output: its pixels are read instead.
      reads.push_back(dst);
    } else {
      ApplyMove(out, move);
    }
    changed.push_back(dst);
  }
  for (const Rect& r : frame.dirty) {
    const Rect d = Intersect(r, whole);
    if (d.IsEmpty()) continue;
    reads.push_back(d);
    changed.push_back(d);
  }
  if (out.whole_pending) {
    reads.assign(1, whole);
    changed.assign(1, whole);
    out.whole_pending = false;
  }
  uint8_t* origin = &surface_[static_cast<size_t>(out.place.top) * stride_ + static_cast<size_t>(out.place.left) * 4];
  bool read = reads.empty() || out.duplication->Read(reads, origin, stride_);
  TakePointer(out, frame);
  out.duplication->Release();
  if (!read) {
    // The pixels did not come: read all of it at the next frame.
    out.whole_pending = true;
    return;
  }
  for (const Rect& r : changed) ring_.Report(Offset(r, out.place.left, out.place.top));
}

void DuplicationMirror::TakePointer(Output& out, const DuplicationFrame& frame) {
  if (frame.pointer_updated) {
    if (frame.pointer_visible) {
      pointer_.visible = true;
      pointer_.x = out.place.left + frame.pointer_x;
      pointer_.y = out.place.top + frame.pointer_y;
    } else if (pointer_.visible && out.place.left <= pointer_.x && pointer_.x < out.place.right &&
               out.place.top <= pointer_.y && pointer_.y < out.place.bottom) {
      // Gone from the output that showed it (another output may show it next).
      pointer_.visible = false;
    }
  }
  if (!frame.shape_changed) return;
  DuplicationPointerShape shape;
  if (!out.duplication->Shape(&shape)) return;
  const bool mono = shape.kind == DuplicationPointerShape::Kind::kMonochrome;
  const int32_t rows = mono ? shape.height / 2 : shape.height;
  const uint64_t row_bytes = mono ? (static_cast<uint64_t>(shape.width) + 7) / 8 : static_cast<uint64_t>(shape.width) * 4;
  if (shape.width <= 0 || rows <= 0 || shape.width > kMaxPointerSide || rows > kMaxPointerSide ||
      shape.pitch < row_bytes || shape.bits.size() < static_cast<uint64_t>(shape.pitch) * shape.height) {
    return;  // a shape no pointer has: the last good one stays
  }
  pointer_.shape = std::move(shape);
  ++pointer_.serial;
}

bool DuplicationPointerSource::Fetch(PointerImage* image) {
  const DuplicationPointer& p = mirror_->Pointer();
  if (!p.visible || p.shape.width <= 0) return false;
  const DuplicationPointerShape& s = p.shape;
  const bool mono = s.kind == DuplicationPointerShape::Kind::kMonochrome;
  image->width = s.width;
  image->height = mono ? s.height / 2 : s.height;
  image->hot_x = std::clamp(s.hot_x, 0, image->width);
  image->hot_y = std::clamp(s.hot_y, 0, image->height);
  // The duplication places the shape's top-left corner.
  image->x = p.x + image->hot_x;
  image->y = p.y + image->hot_y;
  image->serial = p.serial;
  // Premultiplied colours for a colour shape; the masked kinds draw
  // themselves (Draw), their image only gives the size.
  image->argb.assign(static_cast<size_t>(image->width) * static_cast<size_t>(image->height), 0);
  if (s.kind == DuplicationPointerShape::Kind::kColour) {
    for (int32_t y = 0; y < image->height; ++y) {
      for (int32_t x = 0; x < image->width; ++x) {
        const uint8_t* b = &s.bits[static_cast<size_t>(y) * s.pitch + static_cast<size_t>(x) * 4];
        const uint32_t a = b[3];
        const uint32_t r = b[2] * a / 255, g = b[1] * a / 255, bl = b[0] * a / 255;
        image->argb[static_cast<size_t>(y) * image->width + x] = (a << 24) | (r << 16) | (g << 8) | bl;
      }
    }
  }
  return true;
}

void DuplicationPointerSource::Draw(const PointerImage& pointer, const PlaneView& surface,
                                    const SurfaceFormat& format) {
  const DuplicationPointerShape& s = mirror_->Pointer().shape;
  if (s.kind == DuplicationPointerShape::Kind::kColour || surface.bytes_per_pixel != 4) {
    PointerSource::Draw(pointer, surface, format);
    return;
  }
  const Rect b = pointer.Bounds();
  const Rect r = Intersect(b, Rect{0, 0, surface.width, surface.height});
  const bool mono = s.kind == DuplicationPointerShape::Kind::kMonochrome;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const int32_t sy = y - b.top;
    for (int32_t x = r.left; x < r.right; ++x) {
      const int32_t sx = x - b.left;
      uint8_t* px = surface.At(x, y);
      uint32_t and_mask, xor_value;
      if (mono) {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (sx & 7));
        const bool a = (s.bits[static_cast<size_t>(sy) * s.pitch + sx / 8] & bit) != 0;
        const bool o = (s.bits[static_cast<size_t>(sy + pointer.height) * s.pitch + sx / 8] & bit) != 0;
        and_mask = a ? 0xFFFFFFu : 0;
        xor_value = o ? 0xFFFFFFu : 0;
      } else {
        // Masked colour: a mask byte of 0 puts the colour in, 0xFF turns
        // the pixel's colour by it.
        const uint8_t* c = &s.bits[static_cast<size_t>(sy) * s.pitch + static_cast<size_t>(sx) * 4];
        const uint32_t colour = c[0] | (c[1] << 8) | (static_cast<uint32_t>(c[2]) << 16);
        and_mask = c[3] != 0 ? 0xFFFFFFu : 0;
        xor_value = colour;
      }
      const uint32_t old = px[0] | (px[1] << 8) | (static_cast<uint32_t>(px[2]) << 16);
      const uint32_t now = (old & and_mask) ^ xor_value;
      px[0] = static_cast<uint8_t>(now);
      px[1] = static_cast<uint8_t>(now >> 8);
      px[2] = static_cast<uint8_t>(now >> 16);
    }
  }
}

}  // namespace kmr::platform
