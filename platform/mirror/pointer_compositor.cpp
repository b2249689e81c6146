#include "platform/mirror/pointer_compositor.h"

#include <cstring>

#include "driver/quarn_protocol.h"

namespace kmr::platform {

namespace {

bool SameLook(const PointerImage& a, const PointerImage& b) {
  return a.x == b.x && a.y == b.y && a.hot_x == b.hot_x && a.hot_y == b.hot_y && a.width == b.width &&
         a.height == b.height && a.serial == b.serial;
}

struct Owned {
  std::unique_ptr<Mirror> inner;
  std::unique_ptr<PointerSource> source;
};

class OwningCompositor : private Owned, public PointerCompositor {
 public:
  explicit OwningCompositor(Owned owned)
      : Owned(std::move(owned)), PointerCompositor(Owned::inner.get(), Owned::source.get()) {}
  ~OwningCompositor() override { Detach(); }
};

}  // namespace

std::unique_ptr<Mirror> PointerCompositor::Owning(std::unique_ptr<Mirror> inner, std::unique_ptr<PointerSource> source) {
  return std::make_unique<OwningCompositor>(Owned{std::move(inner), std::move(source)});
}

void PointerCompositor::Detach() {
  drawn_ = false;
  inner_->Detach();
}

bool PointerCompositor::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  drawn_ = false;
  if (!inner_->MapSurface(bits, format)) return false;
  format_ = *format;
  surface_ = PlaneView{*bits, format->width, format->height, format->stride, format->bits_per_pixel / 8};
  return true;
}

void PointerCompositor::UnmapSurface() {
  drawn_ = false;
  surface_ = PlaneView{};
  inner_->UnmapSurface();
}

bool PointerCompositor::MapChangeRing(uint32_t capacity, uint8_t** ring) {
  if (!inner_->MapChangeRing(capacity, ring)) return false;
  ring_ = *ring;
  return true;
}

void PointerCompositor::UnmapChangeRing() {
  ring_ = nullptr;
  tracking_ = false;
  inner_->UnmapChangeRing();
}

bool PointerCompositor::EnableTracking() {
  tracking_ = inner_->EnableTracking();
  return tracking_;
}

void PointerCompositor::Report(const Rect& r) {
  if (!tracking_ || ring_ == nullptr || r.IsEmpty()) return;
  const QuarnRect q{r.left, r.top, r.right, r.bottom};
  quarn_ring_add(ring_, &q);
}

Rect PointerCompositor::Restore() {
  if (!drawn_) return Rect{};
  drawn_ = false;
  const size_t n = static_cast<size_t>(drawn_rect_.Width()) * surface_.bytes_per_pixel;
  for (int32_t y = 0; y < drawn_rect_.Height(); ++y) {
    std::memcpy(surface_.At(drawn_rect_.left, drawn_rect_.top + y), &save_under_[y * n], n);
  }
  return drawn_rect_;
}

bool PointerCompositor::SeedFromScreen(const Rect& r) {
  // The mirror's copy must not be overwritten later by an old save-under.
  Report(Restore());
  return inner_->SeedFromScreen(r);
}

bool PointerCompositor::FillBlack(const Rect& r) {
  Report(Restore());
  return inner_->FillBlack(r);
}

void PointerCompositor::Update() {
  // The mirror sees the desktop without the pointer, as the desktop is.
  const bool was_drawn = drawn_;
  const Rect old_rect = Restore();
  inner_->Update();
  if (!surface_.IsValid()) return;
  PointerImage now;
  const bool shown = source_->Fetch(&now);
  const Rect rect = shown ? Intersect(now.Bounds(), Rect{0, 0, surface_.width, surface_.height}) : Rect{};
  if (!rect.IsEmpty()) {
    const size_t n = static_cast<size_t>(rect.Width()) * surface_.bytes_per_pixel;
    save_under_.resize(n * rect.Height());
    for (int32_t y = 0; y < rect.Height(); ++y) {
      std::memcpy(&save_under_[y * n], surface_.At(rect.left, rect.top + y), n);
    }
    source_->Draw(now, surface_, format_);
    drawn_ = true;
    drawn_rect_ = rect;
  }
  // Where nothing moved, the pixels restored and drawn again are the same.
  const bool changed = was_drawn != drawn_ || (drawn_ && !SameLook(now, pointer_));
  if (changed) {
    Report(old_rect);
    if (drawn_) Report(rect);
  }
  pointer_ = std::move(now);
}

}  // namespace kmr::platform
