// The X11 mirror against a real X server: X clients draw, and after every
// frame the capture source's working frame equals the server's own picture of
// the recorded area with the pointer drawn where the server says it is; the
// encoded packets decode to the same picture.
#include <gtest/gtest.h>

#include "recorder/capture/testing/capture_and_code.h"
#include "platform/mirror/x11/x11_mirror.h"
// X11 after GoogleTest: its macros (None, Bool) would break gtest's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include <cstring>
#include <random>

#include "platform/desktop_state/x11/desktop_state_x11.h"
#include "platform/mirror/pointer_compositor.h"
#include "platform/mirror/pointer_image.h"
#include "platform/mirror/testing/pointer_check.h"
#include "platform/mirror/x11/x11_pointer.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/lossless_frame_encoder.h"
#include "shared/testing/xvfb.h"

namespace kmr::platform {
namespace {

class X11MirrorTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const int depth = GetParam();
    xvfb_ = std::make_unique<testing::Xvfb>("320x240x" + std::to_string(depth));
    if (xvfb_->display().empty()) GTEST_SKIP() << "Xvfb is not available";
    dpy_ = XOpenDisplay(xvfb_->display().c_str());
    ASSERT_NE(dpy_, nullptr);
    root_ = DefaultRootWindow(dpy_);
    win_ = XCreateSimpleWindow(dpy_, root_, 20, 30, 120, 90, 0, 0, 0x336699);
    XMapWindow(dpy_, win_);
    gc_ = XCreateGC(dpy_, win_, 0, nullptr);
    XSync(dpy_, False);
  }
  void TearDown() override {
    if (dpy_ != nullptr) {
      XFreeGC(dpy_, gc_);
      XCloseDisplay(dpy_);
    }
  }

  // The server's own picture of a rectangle of the root (no pointer in it).
  Plane Server(const Rect& r, uint32_t bpp) {
    XImage* img = XGetImage(dpy_, root_, r.left, r.top, static_cast<unsigned>(r.Width()),
                            static_cast<unsigned>(r.Height()), AllPlanes, ZPixmap);
    Plane p(r.Width(), r.Height(), bpp);
    for (int y = 0; y < r.Height(); ++y) {
      std::memcpy(p.view().At(0, y), img->data + static_cast<size_t>(y) * img->bytes_per_line,
                  static_cast<size_t>(r.Width()) * bpp);
    }
    XDestroyImage(img);
    return p;
  }
  // A part of a picture as a view of its own.
  static PlaneView Part(const PlaneView& v, const Rect& r) {
    return PlaneView{v.At(r.left, r.top), r.Width(), r.Height(), v.stride, v.bytes_per_pixel};
  }

  std::unique_ptr<testing::Xvfb> xvfb_;
  Display* dpy_ = nullptr;
  Window root_ = 0, win_ = 0;
  GC gc_{};
};

TEST_P(X11MirrorTest, WorkingFrameFollowsTheServerWithThePointer) {
  X11Mirror x11(xvfb_->display());
  X11PointerSource pointer(xvfb_->display());
  PointerCompositor mirror(&x11, &pointer);
  X11DesktopState desktop(xvfb_->display());
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&mirror);
  ASSERT_TRUE(source.Prepare(&codec)) << x11.Error();
  const uint32_t bpp = source.Format().bitmap.bit_count / 8;
  EXPECT_EQ(bpp, GetParam() == 16 ? 2u : 4u);
  source.SetRect(Rect{10, 10, 250, 200});
  LosslessDecoder decoder;
  ASSERT_TRUE(decoder.SetFormat(240, 190, bpp, 0));

  std::mt19937 rng(9);
  int pointer_pixels = 0;
  for (int frame = 0; frame < 12; ++frame) {
    if (frame > 0) {
      for (int k = 0; k < 3; ++k) {
        XSetForeground(dpy_, gc_, rng() & 0xFFFFFF);
        XFillRectangle(dpy_, frame % 2 ? win_ : root_, gc_, static_cast<int>(rng() % 200),
                       static_cast<int>(rng() % 150), 1 + rng() % 60, 1 + rng() % 40);
      }
      if (frame % 3 == 0) XMoveWindow(dpy_, win_, static_cast<int>(rng() % 200), static_cast<int>(rng() % 150));
      XWarpPointer(dpy_, None, root_, 0, 0, 0, 0, static_cast<int>(rng() % 320), static_cast<int>(rng() % 240));
      XSync(dpy_, False);
    }
    ASSERT_TRUE(testing::CaptureAndCode(source, codec));
    if (codec.PacketLength() != 0) {
      ASSERT_TRUE(decoder.Decode(codec.PacketData(), codec.PacketLength())) << decoder.Error();
    }
    const Rect cap = source.CaptureRect();
    const Plane server = Server(cap, bpp);
    PointerImage pi;
    ASSERT_TRUE(FetchX11Pointer(dpy_, &pi));
    const auto working = testing::CheckPictureWithPointer(Part(source.Frame(), cap), server.view(), pi, cap.left,
                                                          cap.top);
    EXPECT_EQ(working.difference, "") << "frame " << frame;
    const auto decoded = testing::CheckPictureWithPointer(decoder.Picture(), server.view(), pi, cap.left, cap.top);
    EXPECT_EQ(decoded.difference, "") << "decoded frame " << frame;
    pointer_pixels += working.opaque_checked;
  }
  EXPECT_GT(pointer_pixels, 0) << "the pointer was never in the recorded area";
  source.Release();
}

TEST_P(X11MirrorTest, DesktopStateSeesThePointerAndButton) {
  X11DesktopState desktop(xvfb_->display());
  ASSERT_TRUE(desktop.IsOpen());
  XWarpPointer(dpy_, None, root_, 0, 0, 0, 0, 77, 66);
  XSync(dpy_, False);
  const PointerState p = desktop.Pointer();
  EXPECT_TRUE(p.showing);
  EXPECT_EQ(p.x, 77);
  EXPECT_EQ(p.y, 66);
  EXPECT_FALSE(desktop.LeftButtonDown());
  XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
  XSync(dpy_, False);
  Rect r;
  Region region;
  ASSERT_TRUE(desktop.ForegroundWindow(&r, &region));
  EXPECT_EQ(r, (Rect{20, 30, 140, 120}));
}

INSTANTIATE_TEST_SUITE_P(Depth, X11MirrorTest, ::testing::Values(24, 16));

}  // namespace
}  // namespace kmr::platform
