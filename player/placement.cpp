#include "player/placement.h"

#include <algorithm>

namespace kmr {

namespace {
Rect Union(const Rect& a, const Rect& b) {
  return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
              std::max(a.bottom, b.bottom)};
}
}  // namespace

Placement PlacePicture(const Rect& client, int32_t ox, int32_t oy, int32_t w, int32_t h, bool fit) {
  Placement p;
  const int32_t cw = client.Width(), ch = client.Height();
  if (w <= 0 || h <= 0 || cw <= 0 || ch <= 0) {
    p.borders.push_back(client);
    return p;
  }
  const Rect d = Union(client, Rect{client.left + ox, client.top + oy, client.right + ox, client.bottom + oy});
  double s = 1.0;
  if (fit) {
    if (static_cast<double>(h) / ch < static_cast<double>(w) / cw) {
      if (w != cw) s = static_cast<double>(cw) / w;
    } else if (h != ch) {
      s = static_cast<double>(ch) / h;
    }
  }
  const int32_t pw = s != 1.0 ? static_cast<int32_t>(w * s) : w;
  const int32_t ph = s != 1.0 ? static_cast<int32_t>(h * s) : h;
  const int32_t left = pw < cw ? d.left + (cw - pw) / 2 : d.left;
  const int32_t top = ph < ch ? d.top + (ch - ph) / 2 : d.top;
  Rect f = Intersect(Rect{left, top, left + pw, top + ph}, d);
  Rect l{0, 0, f.Width(), f.Height()};
  // Clip to the client area, moving the source edges with it.
  if (f.left < client.left) {
    l.left += client.left - f.left;
    f.left = client.left;
  }
  if (f.top < client.top) {
    l.top += client.top - f.top;
    f.top = client.top;
  }
  if (f.right > client.right) {
    l.right -= f.right - client.right;
    f.right = client.right;
  }
  if (f.bottom > client.bottom) {
    l.bottom -= f.bottom - client.bottom;
    f.bottom = client.bottom;
  }
  if (s != 1.0) {
    l = Rect{static_cast<int32_t>(l.left / s), static_cast<int32_t>(l.top / s), static_cast<int32_t>(l.right / s),
             static_cast<int32_t>(l.bottom / s)};
  }
  l = Intersect(l, Rect{0, 0, w, h});
  p.has_picture = !f.IsEmpty() && !l.IsEmpty();
  p.dest = f;
  p.source = l;
  p.scale = s;
  if (f.Width() < cw) {
    p.borders.push_back(Rect{client.left, client.top, f.left, client.bottom});
    p.borders.push_back(Rect{f.right, client.top, client.right, client.bottom});
  }
  if (f.Height() < ch) {
    p.borders.push_back(Rect{client.left, client.top, client.right, f.top});
    p.borders.push_back(Rect{client.left, f.bottom, client.right, client.bottom});
  }
  p.borders.erase(std::remove_if(p.borders.begin(), p.borders.end(), [](const Rect& r) { return r.IsEmpty(); }),
                  p.borders.end());
  return p;
}

}  // namespace kmr
