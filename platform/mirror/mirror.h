// A mirror keeps a copy of the desktop surface, reports every drawn rectangle
// into a change ring (the mirror driver protocol's layout) and can be attached
// to and detached from the desktop. The capture source talks to it only
// through this interface, in the driver's order: attach, map surface, map
// ring, enable tracking; ... frames ...; unmap ring, unmap surface, detach.
#pragma once

#include <cstdint>
#include <vector>

#include "shared/geometry.h"

namespace kmr::platform {

// The surface as the recorder reads it.
struct SurfaceFormat {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bits_per_pixel = 0;  // 8, 16, 24 or 32
  uint32_t stride = 0;          // bytes per row, rows top-down
  bool bit_fields = false;      // 16-bit layouts: masks below are meaningful
  uint32_t masks[3] = {0, 0, 0};
  std::vector<uint8_t> colour_table;  // 8-bit: 256 four-byte entries
};

struct ScreenMetrics {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bits_per_pixel = 0;
};

class Mirror {
 public:
  virtual ~Mirror() = default;
  virtual bool Attach() = 0;
  virtual void Detach() = 0;
  // The surface's bits and format (valid until UnmapSurface).
  virtual bool MapSurface(uint8_t** bits, SurfaceFormat* format) = 0;
  virtual void UnmapSurface() = 0;
  // A new change ring of that capacity (valid until UnmapChangeRing).
  virtual bool MapChangeRing(uint32_t capacity, uint8_t** ring) = 0;
  virtual void UnmapChangeRing() = 0;
  virtual bool EnableTracking() = 0;
  // The screen as it is now (it may have become smaller than the surface).
  virtual ScreenMetrics Screen() = 0;
  // Copies a rectangle of the screen into the surface; reported as a change.
  virtual bool SeedFromScreen(const Rect& r) = 0;
  // Paints a rectangle of the surface black; reported as a change.
  virtual bool FillBlack(const Rect& r) = 0;
  // Mirrors without a driver bring their surface and ring up to date here,
  // once per frame, before the ring is read.
  virtual void Update() {}
};

}  // namespace kmr::platform
