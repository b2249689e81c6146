// A mirror over the system's desktop duplication (Windows 8 and later): each
// output of the virtual screen hands over frames with the rectangles that
// changed (dirty rectangles), the rectangles that were moved (with the point
// they came from: window drags and scrolls) and the pointer's place and
// shape. The mirror keeps a 32-bit surface of the whole virtual screen,
// applies the moves, copies the dirty rectangles and reports both into the
// change ring, as the mirror driver does. The system's part sits behind
// DuplicationSystem (the DXGI one in win/, scripted ones in the tests); the
// pointer is drawn in by a PointerCompositor with a DuplicationPointerSource.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mirror/mirror.h"
#include "platform/mirror/own_change_ring.h"
#include "platform/mirror/pointer_compositor.h"

namespace kmr::platform {

// A moved rectangle: the pixels at source (its top-left) went to destination.
struct MovedRect {
  int32_t source_x = 0, source_y = 0;
  Rect destination;
};

// The pointer's shape as the duplication gives it.
struct DuplicationPointerShape {
  enum class Kind { kMonochrome, kColour, kMaskedColour };
  Kind kind = Kind::kColour;
  int32_t width = 0;
  int32_t height = 0;  // a monochrome shape's rows: the AND mask's, then the XOR mask's
  uint32_t pitch = 0;  // bytes per row
  int32_t hot_x = 0, hot_y = 0;
  std::vector<uint8_t> bits;
};

// What one acquired frame says; places are relative to its output.
struct DuplicationFrame {
  std::vector<MovedRect> moves;  // to be applied in this order
  std::vector<Rect> dirty;
  bool pointer_updated = false;  // the place and visibility below are new
  bool pointer_visible = false;
  int32_t pointer_x = 0, pointer_y = 0;
  bool shape_changed = false;  // Shape() has a new shape for this frame
};

// One output's duplication.
class OutputDuplication {
 public:
  enum class Acquired { kFrame, kNothingNew, kAccessLost, kFailed };
  virtual ~OutputDuplication() = default;
  // The next frame without waiting. After kFrame, Release must follow.
  virtual Acquired Acquire(DuplicationFrame* frame) = 0;
  // Copies rectangles of the acquired frame (output places) into pixels
  // that hold the output's picture at 32 bits (B, G, R, X), rows of stride bytes.
  virtual bool Read(const std::vector<Rect>& rects, uint8_t* pixels, uint32_t stride) = 0;
  // The acquired frame's new pointer shape.
  virtual bool Shape(DuplicationPointerShape* shape) = 0;
  virtual void Release() = 0;
};

class DuplicationSystem {
 public:
  virtual ~DuplicationSystem() = default;
  // The outputs attached to the desktop, placed in the virtual screen. False
  // with *why when the system has no duplication.
  virtual bool Outputs(std::vector<Rect>* places, std::string* why) = 0;
  // A duplication of the output at that index of Outputs(); null with *why.
  virtual std::unique_ptr<OutputDuplication> Duplicate(size_t output, std::string* why) = 0;
};

// The pointer as the duplication last gave it, in surface places.
struct DuplicationPointer {
  bool visible = false;
  int32_t x = 0, y = 0;
  DuplicationPointerShape shape;
  uint32_t serial = 0;  // changes with the shape
};

class DuplicationMirror : public Mirror {
 public:
  explicit DuplicationMirror(std::unique_ptr<DuplicationSystem> system) : system_(std::move(system)) {}

  bool Attach() override;
  void Detach() override;
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override;
  void UnmapSurface() override {}
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override;
  void UnmapChangeRing() override;
  bool EnableTracking() override;
  ScreenMetrics Screen() override;
  // The surface follows the screen at every Update; a seed reports the
  // rectangle so that it is coded from the surface.
  bool SeedFromScreen(const Rect& r) override;
  bool FillBlack(const Rect& r) override;
  void Update() override;

  const DuplicationPointer& Pointer() const { return pointer_; }
  // Why Attach failed (or the last duplication could not be made again).
  const std::string& Error() const { return error_; }
  // How many times an output's duplication was made again after it was lost.
  uint32_t Recreations() const { return recreations_; }

 private:
  struct Output {
    Rect place;  // in the surface
    std::unique_ptr<OutputDuplication> duplication;
    bool whole_pending = false;  // report all of it at its next frame
  };
  void UpdateOutput(size_t index);
  void ApplyMove(const Output& out, const MovedRect& move);
  void TakePointer(Output& out, const DuplicationFrame& frame);

  std::unique_ptr<DuplicationSystem> system_;
  std::vector<Output> outputs_;
  int32_t width_ = 0, height_ = 0;
  uint32_t stride_ = 0;
  std::vector<uint8_t> surface_;
  OwnChangeRing ring_;
  DuplicationPointer pointer_;
  uint32_t recreations_ = 0;
  std::string error_;
};

// The duplication's pointer, drawn as the system draws it: colour shapes
// blended, monochrome and masked colour ones through their AND and XOR masks.
class DuplicationPointerSource : public PointerSource {
 public:
  explicit DuplicationPointerSource(const DuplicationMirror* mirror) : mirror_(mirror) {}
  bool Fetch(PointerImage* pointer) override;
  void Draw(const PointerImage& pointer, const PlaneView& surface, const SurfaceFormat& format) override;

 private:
  const DuplicationMirror* mirror_;
};

}  // namespace kmr::platform
