// Where the picture goes in the view: scaling to fit, centring, the scroll
// offset, clipping to the client area and the borders around the picture.
#pragma once

#include <vector>

#include "shared/geometry.h"

namespace kmr {

struct Placement {
  bool has_picture = false;
  Rect dest;                 // F: where the picture is drawn (client coordinates)
  Rect source;               // L: the part of the picture drawn there
  double scale = 1.0;
  std::vector<Rect> borders;  // filled with the fill colour
};

// client: the view's client rectangle; origin: the scroll offset (the
// viewport origin); frame: w × h, or 0 × 0 without a format.
Placement PlacePicture(const Rect& client, int32_t origin_x, int32_t origin_y, int32_t w, int32_t h, bool fit);

}  // namespace kmr
