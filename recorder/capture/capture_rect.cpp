#include "recorder/capture/capture_rect.h"

namespace kmr {

namespace {

// Makes [lo, hi) even in length inside [0, limit).
void MakeEven(int32_t* lo, int32_t* hi, int32_t limit) {
  if ((*hi - *lo) % 2 == 0) return;
  if (*hi < limit) {
    ++*hi;
  } else if (*lo > 0) {
    --*lo;
  } else {
    --*hi;  // the whole odd-sized surface: shrink rather than leave it
  }
}

void ClampAxis(int32_t* lo, int32_t* hi, int32_t limit) {
  if (*lo < 0) *lo = 0;
  if (*lo >= limit) *lo = limit - 1;
  if (*hi > limit) {
    *hi = limit;
  } else if (*hi <= *lo) {
    *hi = *lo + 1;
  }
}

}  // namespace

Rect CaptureRectFor(const Rect& stored, int32_t w, int32_t h, bool lossless) {
  Rect r = stored;
  if (r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) {
    r = Rect{0, 0, w, h};
  } else {
    if (r.right > w) r.right = w;
    if (r.bottom > h) r.bottom = h;
    if (r.left >= r.right) r.left = r.right - 1;
    if (r.top >= r.bottom) r.top = r.bottom - 1;
    // A stored rectangle with negative corners never reaches here from the
    // tracker (it clamps to the screen); keep the frame inside the surface anyway.
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
  }
  if (!lossless) {
    MakeEven(&r.left, &r.right, w);
    MakeEven(&r.top, &r.bottom, h);
  }
  return r;
}

Rect ClampToScreen(const Rect& screen, const Rect& in) {
  Rect r = in;
  ClampAxis(&r.left, &r.right, screen.right);
  ClampAxis(&r.top, &r.bottom, screen.bottom);
  return r;
}

Rect FollowWindow(const Rect& s, const Rect& current, const std::optional<Rect>& window) {
  if (!window || window->IsEmpty()) return current;
  const Rect& w = *window;
  if (!(w.left < s.right && s.left < w.right && w.top < s.bottom && s.top < w.bottom)) return current;
  const Rect c = ClampToScreen(s, w);
  const int32_t width = current.Width(), height = current.Height();
  int32_t x = c.left, y = c.top;
  if (x + width > s.right) x = s.right - width;
  if (y + height > s.bottom) y = s.bottom - height;
  return Rect{x, y, x + width, y + height};
}

}  // namespace kmr
