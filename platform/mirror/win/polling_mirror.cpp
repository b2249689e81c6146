#include "platform/mirror/win/polling_mirror.h"

#include <algorithm>

#include <cstring>


namespace kmr::platform {

PollingMirror::~PollingMirror() { Detach(); }

bool PollingMirror::MakeDib(Dib* dib) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width_;
  bi.bmiHeader.biHeight = -height_;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  dib->bitmap = CreateDIBSection(screen_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib->bitmap == nullptr) return false;
  dib->dc = CreateCompatibleDC(screen_);
  if (dib->dc == nullptr) return false;
  dib->old = SelectObject(dib->dc, dib->bitmap);
  dib->bits = static_cast<uint8_t*>(bits);
  return true;
}

void PollingMirror::FreeDib(Dib* dib) {
  if (dib->dc != nullptr) {
    SelectObject(dib->dc, dib->old);
    DeleteDC(dib->dc);
  }
  if (dib->bitmap != nullptr) DeleteObject(dib->bitmap);
  *dib = Dib{};
}

bool PollingMirror::Attach() {
  if (screen_ != nullptr) return true;
  screen_ = GetDC(nullptr);
  if (screen_ == nullptr) return false;
  width_ = GetSystemMetrics(SM_CXSCREEN);
  height_ = GetSystemMetrics(SM_CYSCREEN);
  stride_ = static_cast<uint32_t>(width_) * 4;
  if (width_ <= 0 || height_ <= 0 || !MakeDib(&surface_) || !MakeDib(&grab_)) {
    Detach();
    return false;
  }
  return true;
}

void PollingMirror::Detach() {
  FreeDib(&surface_);
  FreeDib(&grab_);
  if (screen_ != nullptr) ReleaseDC(nullptr, screen_);
  screen_ = nullptr;
  ring_.Unmap();
}

bool PollingMirror::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  if (surface_.bits == nullptr) return false;
  *bits = surface_.bits;
  *format = SurfaceFormat{};
  format->width = width_;
  format->height = height_;
  format->bits_per_pixel = 32;
  format->stride = stride_;
  return true;
}

bool PollingMirror::MapChangeRing(uint32_t capacity, uint8_t** ring) {
  return screen_ != nullptr && ring_.Map(capacity, ring);
}

void PollingMirror::UnmapChangeRing() { ring_.Unmap(); }

bool PollingMirror::EnableTracking() {
  ring_.SetTracking(screen_ != nullptr);
  return screen_ != nullptr;
}

ScreenMetrics PollingMirror::Screen() {
  ScreenMetrics m;
  m.width = GetSystemMetrics(SM_CXSCREEN);
  m.height = GetSystemMetrics(SM_CYSCREEN);
  m.bits_per_pixel = 32;
  return m;
}

void PollingMirror::Report(const Rect& r) { ring_.Report(r); }

bool PollingMirror::SeedFromScreen(const Rect& in) {
  if (screen_ == nullptr) return false;
  const Rect r = Intersect(in, Rect{0, 0, width_, height_});
  if (r.IsEmpty()) return true;
  if (!BitBlt(surface_.dc, r.left, r.top, r.Width(), r.Height(), screen_, r.left, r.top, SRCCOPY)) return false;
  GdiFlush();
  Report(r);
  return true;
}

bool PollingMirror::FillBlack(const Rect& in) {
  if (surface_.bits == nullptr) return false;
  const Rect r = Intersect(in, Rect{0, 0, width_, height_});
  for (int32_t y = r.top; y < r.bottom; ++y) std::memset(surface_.bits + y * stride_ + r.left * 4, 0, r.Width() * 4);
  Report(r);
  return true;
}

// Takes over the pixels that differ within a run of changed blocks and
// reports them as rectangles: each row's changed spans (split where 16 or
// more pixels in a row are unchanged), merged down while the next row has the
// same spans. A frame drawn around the recorded area (the border's running
// dashes) then stays around it instead of dirtying whole blocks inside it.
void PollingMirror::TakeChanges(const Rect& run) {
  constexpr int32_t kGap = 16;
  std::vector<std::pair<int32_t, int32_t>> open, row;
  int32_t open_top = run.top;
  const auto flush = [&](int32_t bottom) {
    for (const auto& [left, right] : open) {
      const Rect r{left, open_top, right, bottom};
      for (int32_t y = r.top; y < r.bottom; ++y) {
        std::memcpy(surface_.bits + y * stride_ + r.left * 4, grab_.bits + y * stride_ + r.left * 4, r.Width() * 4);
      }
      Report(r);
    }
  };
  for (int32_t y = run.top; y < run.bottom; ++y) {
    const auto* a = reinterpret_cast<const uint32_t*>(grab_.bits + y * stride_);
    const auto* b = reinterpret_cast<const uint32_t*>(surface_.bits + y * stride_);
    row.clear();
    for (int32_t x = run.left; x < run.right;) {
      if (a[x] == b[x]) {
        ++x;
        continue;
      }
      int32_t end = x + 1, same = 0;
      for (int32_t k = x + 1; k < run.right && same < kGap; ++k) {
        if (a[k] == b[k]) {
          ++same;
        } else {
          same = 0;
          end = k + 1;
        }
      }
      row.emplace_back(x, end);
      x = end + same;
    }
    if (row != open) {
      flush(y);
      open.swap(row);
      open_top = y;
    }
  }
  flush(run.bottom);
}

void PollingMirror::Update() {
  if (screen_ == nullptr || surface_.bits == nullptr) return;
  if (!BitBlt(grab_.dc, 0, 0, width_, height_, screen_, 0, 0, SRCCOPY)) return;
  GdiFlush();
  // Changed blocks, merged along each row of blocks.
  for (int32_t by = 0; by < height_; by += kBlock) {
    const int32_t bh = by + kBlock <= height_ ? kBlock : height_ - by;
    int32_t run_start = -1;
    for (int32_t bx = 0; bx <= width_; bx += kBlock) {
      bool changed = false;
      if (bx < width_) {
        const int32_t bw = bx + kBlock <= width_ ? kBlock : width_ - bx;
        for (int32_t y = by; y < by + bh && !changed; ++y) {
          changed = std::memcmp(grab_.bits + y * stride_ + bx * 4, surface_.bits + y * stride_ + bx * 4, bw * 4) != 0;
        }
      }
      if (changed && run_start < 0) run_start = bx;
      if (!changed && run_start >= 0) {
        TakeChanges(Rect{run_start, by, bx < width_ ? bx : width_, by + bh});
        run_start = -1;
      }
    }
  }
}

bool GdiPointerSource::Fetch(PointerImage* p) {
  CURSORINFO ci{};
  ci.cbSize = sizeof(ci);
  if (!GetCursorInfo(&ci) || !(ci.flags & CURSOR_SHOWING) || ci.hCursor == nullptr) return false;
  ICONINFO ii{};
  if (!GetIconInfo(ci.hCursor, &ii)) return false;
  if (ii.hbmMask) DeleteObject(ii.hbmMask);
  if (ii.hbmColor) DeleteObject(ii.hbmColor);
  cursor_ = ci.hCursor;
  p->x = ci.ptScreenPos.x;
  p->y = ci.ptScreenPos.y;
  p->hot_x = static_cast<int32_t>(ii.xHotspot);
  p->hot_y = static_cast<int32_t>(ii.yHotspot);
  p->width = GetSystemMetrics(SM_CXCURSOR);
  p->height = GetSystemMetrics(SM_CYCURSOR);
  p->serial = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ci.hCursor));
  return true;
}

void GdiPointerSource::Draw(const PointerImage& p, const PlaneView&, const SurfaceFormat&) {
  if (cursor_ == nullptr || mirror_->SurfaceDc() == nullptr) return;
  // The system draws its cursors itself (masks and colours as the cursor has them).
  DrawIconEx(mirror_->SurfaceDc(), p.x - p.hot_x, p.y - p.hot_y, cursor_, 0, 0, 0, nullptr, DI_NORMAL);
  GdiFlush();
}

}  // namespace kmr::platform
