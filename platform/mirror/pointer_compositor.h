// The pointer drawn into any mirror's surface, for mirrors that copy a
// desktop whose pointer is not in its pixels (the X server's, GDI's screen
// copies). A wrapper around the mirror: before the mirror brings its surface
// up to date, what was under the pointer is put back; afterwards the pointer
// is drawn again where it now is. Its old and new places are reported into
// the mirror's change ring only when it moved, changed shape, appeared or
// went away.
#pragma once

#include <memory>
#include <vector>

#include "platform/mirror/mirror.h"
#include "platform/mirror/pointer_image.h"
#include "shared/plane.h"

namespace kmr::platform {

// Where the pointer is and how it looks (XFixes, the system cursor).
class PointerSource {
 public:
  virtual ~PointerSource() = default;
  // False when no pointer is shown. The image may be left empty by sources
  // that draw themselves (see Draw).
  virtual bool Fetch(PointerImage* pointer) = 0;
  // Draws the pointer into the surface at its bounds; the default blends the
  // fetched image.
  virtual void Draw(const PointerImage& pointer, const PlaneView& surface, const SurfaceFormat& format) {
    BlendPointer(pointer, surface, &format.colour_table);
  }
};

class PointerCompositor : public Mirror {
 public:
  PointerCompositor(Mirror* inner, PointerSource* source) : inner_(inner), source_(source) {}

  bool Attach() override { return inner_->Attach(); }
  void Detach() override;
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override;
  void UnmapSurface() override;
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override;
  void UnmapChangeRing() override;
  bool EnableTracking() override;
  ScreenMetrics Screen() override { return inner_->Screen(); }
  bool SeedFromScreen(const Rect& r) override;
  bool FillBlack(const Rect& r) override;
  void Update() override;

  Mirror* Inner() const { return inner_; }

  // A compositor that owns its mirror and its pointer source.
  static std::unique_ptr<Mirror> Owning(std::unique_ptr<Mirror> inner, std::unique_ptr<PointerSource> source);

 private:
  // Puts back what was under the pointer; its rectangle, or empty.
  Rect Restore();
  void Report(const Rect& r);

  Mirror* inner_;
  PointerSource* source_;
  PlaneView surface_;
  SurfaceFormat format_;
  uint8_t* ring_ = nullptr;
  bool tracking_ = false;
  bool drawn_ = false;
  PointerImage pointer_;  // as drawn
  Rect drawn_rect_;
  std::vector<uint8_t> save_under_;
};

}  // namespace kmr::platform
