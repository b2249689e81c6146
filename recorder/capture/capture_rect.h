// Rules of the recorded rectangle: the capture rectangle query, clamping to
// the screen and following a window.
#pragma once

#include <optional>

#include "shared/geometry.h"

namespace kmr {

// The rectangle actually recorded for a stored rectangle on a W × H surface.
// All zero means the whole surface. Clamped to the surface; for every codec
// but the lossless one the size is made even, and the result always stays
// inside the surface (a full-width odd surface loses its last column).
Rect CaptureRectFor(const Rect& stored, int32_t surface_width, int32_t surface_height, bool lossless);

// The rectangle clamped to the screen: at least 1 × 1 and inside it.
Rect ClampToScreen(const Rect& screen, const Rect& r);

// One tracker tick in window mode: the current rectangle moved (size kept) to
// the window's clamped top-left corner, kept inside the screen. Unchanged when
// the window is gone, empty or wholly off the screen.
Rect FollowWindow(const Rect& screen, const Rect& current, const std::optional<Rect>& window);

}  // namespace kmr
