// The mirror over a screen-cast stream: which rectangles reach the surface
// and the change ring for damaged and undamaged pictures, pictures that do
// not add up, the desktop changing size, the stream ending, and the
// pointer from the stream's metadata.
#include "platform/mirror/stream/stream_mirror.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "driver/quarn_protocol.h"

namespace kmr::platform {
namespace {

// A picture of w × h BGRX pixels, every pixel (x, y, seed).
struct Picture {
  int32_t w, h;
  uint32_t stride;
  std::vector<uint8_t> bytes;
  Picture(int32_t w_, int32_t h_, uint8_t seed, uint32_t pad = 0)
      : w(w_), h(h_), stride(static_cast<uint32_t>(w_) * 4 + pad), bytes(static_cast<size_t>(stride) * h_) {
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), seed);
    }
  }
  void Set(int32_t x, int32_t y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = &bytes[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4];
    p[0] = b, p[1] = g, p[2] = r, p[3] = 0xFF;
  }
  StreamPicture View() const { return StreamPicture{bytes.data(), w, h, stride}; }
};

// The colour bytes (B, G, R) of a surface pixel.
std::vector<int> Px(const PlaneView& s, int32_t x, int32_t y) {
  const uint8_t* p = s.At(x, y);
  return {p[0], p[1], p[2]};
}

std::vector<Rect> TakeAll(FrameMailbox* box, const PlaneView& surface) {
  std::vector<Rect> out;
  box->Take(surface, &out);
  return out;
}

TEST(FrameMailbox, FirstPictureIsNewWhole) {
  FrameMailbox box;
  Picture a(8, 6, 7, /*pad=*/12);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(8, 6, 4);
  EXPECT_EQ(TakeAll(&box, s.view()), (std::vector<Rect>{{0, 0, 8, 6}}));
  EXPECT_EQ(Px(s.view(), 5, 4), (std::vector<int>{5, 4, 7}));
  EXPECT_TRUE(TakeAll(&box, s.view()).empty()) << "nothing new since";
}

TEST(FrameMailbox, DamagedRegionsAreTheOnlyOnesCopied) {
  FrameMailbox box;
  Picture a(16, 16, 1);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(16, 16, 4);
  TakeAll(&box, s.view());
  Picture b(16, 16, 2);  // every pixel differs, the desktop says two places did
  const std::vector<Rect> damage{{2, 3, 5, 4}, {10, 12, 20, 30}};
  ASSERT_TRUE(box.Post(b.View(), &damage));
  EXPECT_EQ(TakeAll(&box, s.view()), (std::vector<Rect>{{2, 3, 5, 4}, {10, 12, 16, 16}}));
  EXPECT_EQ(Px(s.view(), 2, 3), (std::vector<int>{2, 3, 2}));
  EXPECT_EQ(Px(s.view(), 15, 15), (std::vector<int>{15, 15, 2}));
  EXPECT_EQ(Px(s.view(), 5, 3), (std::vector<int>{5, 3, 1})) << "beside the damage: the old picture";
  EXPECT_EQ(Px(s.view(), 0, 0), (std::vector<int>{0, 0, 1}));
}

TEST(FrameMailbox, WithoutDamageTheDifferingRowsAreFound) {
  FrameMailbox box;
  Picture a(32, 20, 1);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(32, 20, 4);
  TakeAll(&box, s.view());
  Picture b = a;
  b.Set(7, 2, 9, 9, 9);    // one pixel
  b.Set(3, 10, 9, 9, 9);   // a band of two rows, columns 3..20
  b.Set(20, 11, 9, 9, 9);
  b.Set(31, 19, 9, 9, 9);  // the last pixel
  ASSERT_TRUE(box.Post(b.View(), nullptr));
  EXPECT_EQ(TakeAll(&box, s.view()), (std::vector<Rect>{{7, 2, 8, 3}, {3, 10, 21, 12}, {31, 19, 32, 20}}));
  EXPECT_EQ(Px(s.view(), 20, 11), (std::vector<int>{9, 9, 9}));
  EXPECT_EQ(Px(s.view(), 31, 19), (std::vector<int>{9, 9, 9}));
  ASSERT_TRUE(box.Post(b.View(), nullptr));
  EXPECT_TRUE(TakeAll(&box, s.view()).empty()) << "the same picture again changes nothing";
}

TEST(FrameMailbox, PicturesPostedBetweenTakesAddUp) {
  FrameMailbox box;
  Picture a(10, 10, 1);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(10, 10, 4);
  TakeAll(&box, s.view());
  Picture b = a;
  b.Set(1, 1, 50, 50, 50);
  ASSERT_TRUE(box.Post(b.View(), nullptr));
  Picture c = b;
  c.Set(8, 8, 60, 60, 60);
  const std::vector<Rect> damage{{8, 8, 9, 9}};
  ASSERT_TRUE(box.Post(c.View(), &damage));
  EXPECT_EQ(TakeAll(&box, s.view()), (std::vector<Rect>{{1, 1, 2, 2}, {8, 8, 9, 9}}));
  EXPECT_EQ(Px(s.view(), 1, 1), (std::vector<int>{50, 50, 50}));
  EXPECT_EQ(Px(s.view(), 8, 8), (std::vector<int>{60, 60, 60}));
}

TEST(FrameMailbox, ManyWaitingRectanglesBecomeTheirBounds) {
  FrameMailbox box;
  Picture a(600, 4, 1);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(600, 4, 4);
  TakeAll(&box, s.view());
  std::vector<Rect> damage;
  for (int32_t i = 0; i < 300; ++i) damage.push_back(Rect{i * 2, 1, i * 2 + 1, 2});
  ASSERT_TRUE(box.Post(a.View(), &damage));
  const std::vector<Rect> got = TakeAll(&box, s.view());
  ASSERT_LE(got.size(), FrameMailbox::kMaxPending);
  Rect bounds = got[0];
  for (const Rect& r : got) {
    bounds = Rect{std::min(bounds.left, r.left), std::min(bounds.top, r.top), std::max(bounds.right, r.right),
                  std::max(bounds.bottom, r.bottom)};
  }
  EXPECT_EQ(bounds, (Rect{0, 1, 599, 2}));
}

TEST(FrameMailbox, PicturesThatDoNotAddUpAreRefused) {
  FrameMailbox box;
  Picture a(8, 8, 1);
  StreamPicture v = a.View();
  v.stride = 31;  // less than a row
  EXPECT_FALSE(box.Post(v, nullptr));
  v = a.View();
  v.width = 0;
  EXPECT_FALSE(box.Post(v, nullptr));
  v = a.View();
  v.height = FrameMailbox::kMaxSide + 1;
  EXPECT_FALSE(box.Post(v, nullptr));
  v.pixels = nullptr;
  EXPECT_FALSE(box.Post(v, nullptr));
  int32_t w = -1, h = -1;
  box.Size(&w, &h);
  EXPECT_EQ(w, 0);
  std::string why;
  EXPECT_FALSE(box.WaitFirst(10, &why));
  EXPECT_EQ(why, "the screen cast sent no picture");
}

TEST(FrameMailbox, ADesktopOfAnotherSizeIsNewWholeAndClippedToTheSurface) {
  FrameMailbox box;
  Picture a(10, 8, 1);
  ASSERT_TRUE(box.Post(a.View(), nullptr));
  Plane s(10, 8, 4);
  TakeAll(&box, s.view());
  Picture smaller(6, 12, 3);
  ASSERT_TRUE(box.Post(smaller.View(), nullptr));
  int32_t w = 0, h = 0;
  box.Size(&w, &h);
  EXPECT_EQ(w, 6);
  EXPECT_EQ(h, 12);
  EXPECT_EQ(TakeAll(&box, s.view()), (std::vector<Rect>{{0, 0, 6, 8}}));
  EXPECT_EQ(Px(s.view(), 5, 7), (std::vector<int>{5, 7, 3}));
  EXPECT_EQ(Px(s.view(), 8, 0), (std::vector<int>{8, 0, 1})) << "outside the new picture: left as it was";
}

TEST(FrameMailbox, AFailureEndsTheWaitAndIsSaidOnce) {
  FrameMailbox box;
  std::thread t([&] { box.PostFailure("the desktop stopped the screen cast"); });
  std::string why;
  EXPECT_FALSE(box.WaitFirst(60000, &why));
  t.join();
  EXPECT_EQ(why, "the desktop stopped the screen cast");
  box.PostFailure("later");
  EXPECT_EQ(box.Failure(), "the desktop stopped the screen cast");
  box.Reset();
  EXPECT_EQ(box.Failure(), "");
}

// A stream that posts from a thread of its own, as PipeWire does.
class ThreadStream : public ScreenStream {
 public:
  std::vector<Picture> pictures;
  std::string refuse;
  bool fail_after = false;
  int starts = 0, stops = 0;
  bool Start(FrameMailbox* box, std::string* why) override {
    ++starts;
    if (!refuse.empty()) {
      *why = refuse;
      return false;
    }
    worker = std::thread([this, box] {
      for (const Picture& p : pictures) box->Post(p.View(), nullptr);
      if (fail_after) box->PostFailure("the desktop stopped the screen cast");
    });
    return true;
  }
  void Stop() override {
    ++stops;
    if (worker.joinable()) worker.join();
  }
  ~ThreadStream() override { Stop(); }
  std::thread worker;
};

std::vector<Rect> RingRects(uint8_t* ring) {
  std::vector<Rect> rects;
  quarn_ring_drain(
      ring,
      [](void* c, const QuarnRect* q) {
        static_cast<std::vector<Rect>*>(c)->push_back(Rect{q->left, q->top, q->right, q->bottom});
      },
      &rects);
  return rects;
}

TEST(StreamMirror, TheFirstPictureSetsTheSurfaceAndChangesReachTheRing) {
  ThreadStream stream;
  stream.pictures.emplace_back(40, 30, 5);
  StreamMirror mirror(&stream);
  ASSERT_TRUE(mirror.Attach()) << mirror.Error();
  uint8_t* bits = nullptr;
  SurfaceFormat f;
  ASSERT_TRUE(mirror.MapSurface(&bits, &f));
  EXPECT_EQ(f.width, 40);
  EXPECT_EQ(f.height, 30);
  EXPECT_EQ(f.bits_per_pixel, 32u);
  uint8_t* ring = nullptr;
  ASSERT_TRUE(mirror.MapChangeRing(64, &ring));
  ASSERT_TRUE(mirror.EnableTracking());
  ASSERT_TRUE(mirror.SeedFromScreen(Rect{0, 0, 40, 30}));
  EXPECT_EQ(bits[static_cast<size_t>(29) * f.stride + 39 * 4 + 2], 5);
  EXPECT_EQ(RingRects(ring), (std::vector<Rect>{{0, 0, 40, 30}}));
  Picture b(40, 30, 5);
  b.Set(12, 13, 1, 2, 3);
  const std::vector<Rect> damage{{12, 13, 13, 14}};
  ASSERT_TRUE(mirror.Mailbox()->Post(b.View(), &damage));
  mirror.Update();
  EXPECT_EQ(RingRects(ring), (std::vector<Rect>{{0, 0, 40, 30}, {12, 13, 13, 14}}))
      << "the first picture (new whole), then the damage";
  EXPECT_EQ(bits[static_cast<size_t>(13) * f.stride + 12 * 4 + 2], 3);
  ASSERT_TRUE(mirror.FillBlack(Rect{30, 20, 50, 50}));
  EXPECT_EQ(RingRects(ring), (std::vector<Rect>{{30, 20, 40, 30}}));
  EXPECT_EQ(mirror.Screen().width, 40);
  mirror.Detach();
  EXPECT_EQ(stream.stops, 1);
}

TEST(StreamMirror, AStreamThatCannotStartOrEndsFailsTheAttachWithItsReason) {
  ThreadStream refusing;
  refusing.refuse = "cannot connect to PipeWire through the portal";
  StreamMirror a(&refusing);
  EXPECT_FALSE(a.Attach());
  EXPECT_EQ(a.Error(), "cannot connect to PipeWire through the portal");
  uint8_t* bits = nullptr;
  SurfaceFormat f;
  EXPECT_FALSE(a.MapSurface(&bits, &f));

  ThreadStream ending;
  ending.fail_after = true;
  StreamMirror b(&ending);
  EXPECT_FALSE(b.Attach());
  EXPECT_EQ(b.Error(), "the desktop stopped the screen cast");
  EXPECT_EQ(ending.stops, 1) << "a stream that failed to deliver is stopped";
}

TEST(StreamMirror, AnEndDuringTheRecordingIsReportedByError) {
  ThreadStream stream;
  stream.pictures.emplace_back(8, 8, 1);
  StreamMirror mirror(&stream);
  ASSERT_TRUE(mirror.Attach());
  EXPECT_EQ(mirror.Error(), "");
  mirror.Mailbox()->PostFailure("the desktop stopped the screen cast");
  EXPECT_EQ(mirror.Error(), "the desktop stopped the screen cast");
}

TEST(StreamPointer, TheMetadataPointerIsDrawnMovedAndHidden) {
  ThreadStream stream;
  stream.pictures.emplace_back(20, 20, 0);
  StreamMirror inner(&stream);
  StreamPointerSource source(inner.Mailbox());
  PointerCompositor mirror(&inner, &source);
  ASSERT_TRUE(mirror.Attach());
  uint8_t* bits = nullptr;
  SurfaceFormat f;
  ASSERT_TRUE(mirror.MapSurface(&bits, &f));
  uint8_t* ring = nullptr;
  ASSERT_TRUE(mirror.MapChangeRing(64, &ring));
  ASSERT_TRUE(mirror.EnableTracking());
  ASSERT_TRUE(mirror.SeedFromScreen(Rect{0, 0, 20, 20}));
  const PlaneView view{bits, 20, 20, f.stride, 4};
  const std::vector<int> under = Px(view, 5, 5);
  PointerImage none;
  EXPECT_FALSE(source.Fetch(&none)) << "no pointer before the stream sends one";

  StreamPointer p;
  p.visible = true;
  p.x = 6, p.y = 6;
  p.shape_changed = true;
  p.hot_x = 1, p.hot_y = 1;
  p.width = 2, p.height = 2;
  p.argb = {0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u};  // opaque red
  inner.Mailbox()->PostPointer(p);
  mirror.Update();
  EXPECT_EQ(Px(view, 5, 5), (std::vector<int>{0, 0, 255})) << "the shape's top-left at the place less the hot spot";
  EXPECT_EQ(Px(view, 6, 6), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Px(view, 7, 7), (std::vector<int>{7, 7, 0}));

  StreamPointer moved;  // a move keeps the shape
  moved.visible = true;
  moved.x = 11, moved.y = 3;
  inner.Mailbox()->PostPointer(moved);
  mirror.Update();
  EXPECT_EQ(Px(view, 5, 5), under) << "what was under it is back";
  EXPECT_EQ(Px(view, 10, 2), (std::vector<int>{0, 0, 255}));

  StreamPointer broken = p;  // a shape that does not add up keeps the old one
  broken.x = 15, broken.y = 15;
  broken.argb.resize(3);
  inner.Mailbox()->PostPointer(broken);
  mirror.Update();
  EXPECT_EQ(Px(view, 14, 14), (std::vector<int>{0, 0, 255}));

  StreamPointer hidden;
  hidden.visible = false;
  inner.Mailbox()->PostPointer(hidden);
  mirror.Update();
  EXPECT_EQ(Px(view, 14, 14), (std::vector<int>{14, 14, 0}));
  mirror.Detach();
}

}  // namespace
}  // namespace kmr::platform
