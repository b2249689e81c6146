// A set of pixels as y-x banded rectangles: bands from top to bottom, within a
// band rectangles from left to right, touching rectangles merged, identical
// adjacent bands coalesced. Windows keeps it in a GDI region, Linux in a
// pixman region; both give the same rectangle list for the same set.
#pragma once

#include <memory>
#include <vector>

#include "shared/geometry.h"

namespace kmr::platform {

class Region {
 public:
  Region();
  explicit Region(const Rect& r);
  ~Region();
  Region(const Region& other);
  Region& operator=(const Region& other);

  void SetEmpty();
  // The union of rectangles given in banded order (top to bottom, left to
  // right, not overlapping), built in one pass.
  void SetRects(const std::vector<Rect>& rects);
  void SetRect(const Rect& r);
  void Union(const Region& other);
  void Union(const Rect& r);
  void Intersect(const Region& other);
  void Intersect(const Rect& r);
  void Subtract(const Region& other);
  void Subtract(const Rect& r);
  void Offset(int32_t dx, int32_t dy);
  bool IsEmpty() const;
  Rect Bounds() const;
  // Replaces the list with the region's rectangles in banded order; the
  // list's storage is reused and only grows.
  void GetRects(std::vector<Rect>* out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kmr::platform
