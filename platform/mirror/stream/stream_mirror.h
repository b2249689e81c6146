// A mirror over a screen-cast stream: the desktop (a compositor through the
// screen-cast portal) hands over whole pictures on a thread of its own,
// with the damaged regions when it knows them. The stream's thread posts
// each picture into a FrameMailbox, which keeps a copy of the stream's
// picture and the rectangles changed since the recorder last looked: the
// damaged ones, else the rows that differ from the copy. The recorder's
// thread takes them into the surface once a frame and reports them into the
// change ring. The pointer, where the stream sends it beside the picture,
// is drawn in by a PointerCompositor with a StreamPointerSource.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mirror/mirror.h"
#include "platform/mirror/own_change_ring.h"
#include "platform/mirror/pointer_compositor.h"
#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr::platform {

// One picture of the stream: 32-bit pixels, B, G, R then X or alpha (which
// is ignored), rows top-down of stride bytes.
struct StreamPicture {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t stride = 0;
};

// The pointer as the stream's metadata gives it.
struct StreamPointer {
  bool visible = false;
  int32_t x = 0, y = 0;  // the hot spot's place in the picture
  bool shape_changed = false;
  int32_t hot_x = 0, hot_y = 0;
  int32_t width = 0, height = 0;
  std::vector<uint32_t> argb;  // premultiplied, width × height (when shape_changed)
};

class FrameMailbox {
 public:
  // Larger pictures are refused (the stream is told nothing; they are not kept).
  static constexpr int32_t kMaxSide = 16384;
  // Beyond this many rectangles waiting, they are merged into their bounds.
  static constexpr size_t kMaxPending = 256;

  // The stream's thread. damage: the rectangles that changed since the
  // stream's previous picture, or null when the stream does not say (the
  // rows are then compared with the copy). False for a picture that
  // cannot be used (bad size or stride).
  bool Post(const StreamPicture& picture, const std::vector<Rect>* damage);
  void PostPointer(const StreamPointer& pointer);
  // The stream ended or failed: said once, by Failure().
  void PostFailure(const std::string& why);

  // The recorder's thread: waits until the first picture or a failure has
  // come (false on a failure or at the deadline, with *why).
  bool WaitFirst(int timeout_ms, std::string* why);
  // Copies the rectangles changed since the last call into the surface (a
  // 32-bit plane whose top-left is the picture's) and appends them, clipped
  // to the surface, to *changed.
  void Take(const PlaneView& surface, std::vector<Rect>* changed);
  // Copies a rectangle of the latest picture into the surface; false before
  // the first picture. The part outside the picture is left as it is.
  bool CopyLatest(const Rect& r, const PlaneView& surface);
  // The latest picture's size (zero before the first).
  void Size(int32_t* width, int32_t* height);
  // The pointer as last posted; false when none was. The shape in *image
  // is the latest one, with a serial that changes with it.
  bool Pointer(bool* visible, int32_t* x, int32_t* y, PointerImage* image);
  std::string Failure();
  // Forgets everything (a new stream).
  void Reset();

 private:
  void AddPending(const Rect& r);

  std::mutex mutex_;
  std::condition_variable came_;
  Plane copy_;  // the stream's picture as last posted
  bool have_picture_ = false;
  std::vector<Rect> pending_;
  std::string failure_;
  bool have_pointer_ = false;
  StreamPointer pointer_;
  PointerImage shape_;
};

// What starts and stops a stream that posts into a mailbox.
class ScreenStream {
 public:
  virtual ~ScreenStream() = default;
  virtual bool Start(FrameMailbox* mailbox, std::string* why) = 0;
  virtual void Stop() = 0;
};

// The pointer from the stream's metadata.
class StreamPointerSource : public PointerSource {
 public:
  explicit StreamPointerSource(FrameMailbox* mailbox) : mailbox_(mailbox) {}
  bool Fetch(PointerImage* pointer) override;

 private:
  FrameMailbox* mailbox_;
};

class StreamMirror : public Mirror {
 public:
  // How long Attach waits for the stream's first picture.
  static constexpr int kFirstPictureMs = 15000;

  explicit StreamMirror(ScreenStream* stream) : stream_(stream) {}
  ~StreamMirror() override { Detach(); }

  bool Attach() override;
  void Detach() override;
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override;
  void UnmapSurface() override;
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override;
  void UnmapChangeRing() override;
  bool EnableTracking() override;
  ScreenMetrics Screen() override;
  bool SeedFromScreen(const Rect& r) override;
  bool FillBlack(const Rect& r) override;
  void Update() override;

  FrameMailbox* Mailbox() { return &mailbox_; }
  // Why Attach failed, or why the stream ended while recording (empty while
  // it runs).
  std::string Error();

 private:
  ScreenStream* stream_;
  FrameMailbox mailbox_;
  bool attached_ = false;
  int32_t width_ = 0, height_ = 0;
  Plane surface_;
  bool surface_mapped_ = false;
  OwnChangeRing ring_;
  std::string error_;
  std::vector<Rect> changed_;
};

}  // namespace kmr::platform
