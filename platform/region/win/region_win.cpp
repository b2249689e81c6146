#include <windows.h>

#include <algorithm>

#include "platform/region/region.h"

namespace kmr::platform {

struct Region::Impl {
  HRGN h = CreateRectRgn(0, 0, 0, 0);
  // GetRegionData's buffer, reused and only grown.
  mutable std::vector<unsigned char> data;
  ~Impl() { DeleteObject(h); }
};

Region::Region() : impl_(std::make_unique<Impl>()) {}
Region::Region(const Rect& r) : Region() { SetRect(r); }
Region::~Region() = default;
Region::Region(const Region& other) : Region() { CombineRgn(impl_->h, other.impl_->h, nullptr, RGN_COPY); }
Region& Region::operator=(const Region& other) {
  if (this != &other) CombineRgn(impl_->h, other.impl_->h, nullptr, RGN_COPY);
  return *this;
}

void Region::SetEmpty() { SetRectRgn(impl_->h, 0, 0, 0, 0); }

void Region::SetRects(const std::vector<Rect>& rects) {
  std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
  auto* rd = reinterpret_cast<RGNDATA*>(data.data());
  rd->rdh.dwSize = sizeof(RGNDATAHEADER);
  rd->rdh.iType = RDH_RECTANGLES;
  rd->rdh.nCount = 0;
  rd->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
  RECT bound{0, 0, 0, 0};
  auto* out = reinterpret_cast<RECT*>(rd->Buffer);
  for (const Rect& r : rects) {
    if (r.IsEmpty()) continue;
    if (rd->rdh.nCount == 0) {
      bound = RECT{r.left, r.top, r.right, r.bottom};
    } else {
      bound.left = std::min<LONG>(bound.left, r.left);
      bound.top = std::min<LONG>(bound.top, r.top);
      bound.right = std::max<LONG>(bound.right, r.right);
      bound.bottom = std::max<LONG>(bound.bottom, r.bottom);
    }
    out[rd->rdh.nCount++] = RECT{r.left, r.top, r.right, r.bottom};
  }
  rd->rdh.rcBound = bound;
  if (rd->rdh.nCount == 0) {
    SetEmpty();
    return;
  }
  HRGN h = ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), rd);
  if (h == nullptr) {
    SetEmpty();
    for (const Rect& r : rects) Union(r);
    return;
  }
  CombineRgn(impl_->h, h, nullptr, RGN_COPY);
  DeleteObject(h);
}

void Region::SetRect(const Rect& r) {
  if (r.IsEmpty()) {
    SetEmpty();
  } else {
    SetRectRgn(impl_->h, r.left, r.top, r.right, r.bottom);
  }
}

void Region::Union(const Region& other) { CombineRgn(impl_->h, impl_->h, other.impl_->h, RGN_OR); }

void Region::Union(const Rect& r) {
  if (r.IsEmpty()) return;
  Region tmp(r);
  Union(tmp);
}

void Region::Intersect(const Region& other) { CombineRgn(impl_->h, impl_->h, other.impl_->h, RGN_AND); }

void Region::Intersect(const Rect& r) {
  Region tmp(r);
  Intersect(tmp);
}

void Region::Subtract(const Region& other) { CombineRgn(impl_->h, impl_->h, other.impl_->h, RGN_DIFF); }

void Region::Subtract(const Rect& r) {
  if (r.IsEmpty()) return;
  Region tmp(r);
  Subtract(tmp);
}

void Region::Offset(int32_t dx, int32_t dy) { OffsetRgn(impl_->h, dx, dy); }

bool Region::IsEmpty() const {
  RECT box;
  return GetRgnBox(impl_->h, &box) == NULLREGION;
}

Rect Region::Bounds() const {
  RECT box;
  if (GetRgnBox(impl_->h, &box) == NULLREGION) return Rect{};
  return Rect{box.left, box.top, box.right, box.bottom};
}

void Region::GetRects(std::vector<Rect>* out) const {
  const DWORD size = GetRegionData(impl_->h, 0, nullptr);
  if (size == 0) {
    out->clear();
    return;
  }
  if (impl_->data.size() < size) impl_->data.resize(size);
  auto* data = reinterpret_cast<RGNDATA*>(impl_->data.data());
  if (GetRegionData(impl_->h, size, data) == 0) {
    out->clear();
    return;
  }
  const RECT* rects = reinterpret_cast<const RECT*>(data->Buffer);
  out->resize(data->rdh.nCount);
  for (DWORD i = 0; i < data->rdh.nCount; ++i) {
    (*out)[i] = Rect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom};
  }
}

}  // namespace kmr::platform
