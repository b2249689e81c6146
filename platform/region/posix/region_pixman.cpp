#include <pixman.h>

#include "platform/region/region.h"

namespace kmr::platform {

struct Region::Impl {
  pixman_region32_t r;
  Impl() { pixman_region32_init(&r); }
  ~Impl() { pixman_region32_fini(&r); }
};

namespace {
// pixman refuses rectangles with right < left; empty rectangles are nothing.
void InitRect(pixman_region32_t* r, const Rect& rect) {
  if (rect.IsEmpty()) {
    pixman_region32_init(r);
  } else {
    pixman_region32_init_rect(r, rect.left, rect.top, static_cast<unsigned>(rect.Width()),
                              static_cast<unsigned>(rect.Height()));
  }
}
}  // namespace

Region::Region() : impl_(std::make_unique<Impl>()) {}
Region::Region(const Rect& r) : Region() { SetRect(r); }
Region::~Region() = default;
Region::Region(const Region& other) : Region() { pixman_region32_copy(&impl_->r, &other.impl_->r); }
Region& Region::operator=(const Region& other) {
  if (this != &other) pixman_region32_copy(&impl_->r, &other.impl_->r);
  return *this;
}

void Region::SetEmpty() { pixman_region32_clear(&impl_->r); }

void Region::SetRects(const std::vector<Rect>& rects) {
  std::vector<pixman_box32_t> boxes;
  boxes.reserve(rects.size());
  for (const Rect& r : rects) {
    if (!r.IsEmpty()) boxes.push_back(pixman_box32_t{r.left, r.top, r.right, r.bottom});
  }
  pixman_region32_fini(&impl_->r);
  if (!pixman_region32_init_rects(&impl_->r, boxes.data(), static_cast<int>(boxes.size()))) {
    pixman_region32_init(&impl_->r);
    for (const Rect& r : rects) Union(r);
  }
}

void Region::SetRect(const Rect& r) {
  pixman_region32_fini(&impl_->r);
  InitRect(&impl_->r, r);
}

void Region::Union(const Region& other) { pixman_region32_union(&impl_->r, &impl_->r, &other.impl_->r); }

void Region::Union(const Rect& r) {
  if (r.IsEmpty()) return;
  pixman_region32_union_rect(&impl_->r, &impl_->r, r.left, r.top, static_cast<unsigned>(r.Width()),
                             static_cast<unsigned>(r.Height()));
}

void Region::Intersect(const Region& other) {
  pixman_region32_intersect(&impl_->r, &impl_->r, &other.impl_->r);
}

void Region::Intersect(const Rect& r) {
  if (r.IsEmpty()) {
    SetEmpty();
    return;
  }
  pixman_region32_intersect_rect(&impl_->r, &impl_->r, r.left, r.top, static_cast<unsigned>(r.Width()),
                                 static_cast<unsigned>(r.Height()));
}

void Region::Subtract(const Region& other) { pixman_region32_subtract(&impl_->r, &impl_->r, &other.impl_->r); }

void Region::Subtract(const Rect& r) {
  pixman_region32_t tmp;
  InitRect(&tmp, r);
  pixman_region32_subtract(&impl_->r, &impl_->r, &tmp);
  pixman_region32_fini(&tmp);
}

void Region::Offset(int32_t dx, int32_t dy) { pixman_region32_translate(&impl_->r, dx, dy); }

bool Region::IsEmpty() const { return !pixman_region32_not_empty(&impl_->r); }

Rect Region::Bounds() const {
  if (IsEmpty()) return Rect{};
  const pixman_box32_t* b = pixman_region32_extents(&impl_->r);
  return Rect{b->x1, b->y1, b->x2, b->y2};
}

void Region::GetRects(std::vector<Rect>* out) const {
  int n = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&impl_->r, &n);
  out->resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) (*out)[static_cast<size_t>(i)] = Rect{boxes[i].x1, boxes[i].y1, boxes[i].x2, boxes[i].y2};
}

}  // namespace kmr::platform
