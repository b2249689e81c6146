// What each Windows mirror costs per frame at the screen's size, in one run:
// the polling mirror (a whole-screen BitBlt, then the block compare) on an
// unchanged screen and the BitBlt alone, against the duplication mirror over a
// scripted system serving office work (typing, a caret, a scrolled page once
// a second; a real system's frames come this way, only the changed pixels
// crossing from the graphics card). Under wine64 the BitBlt is Wine's read of
// the X server's screen, not a graphics card's read-back; the compare and the
// duplication mirror's own work are this processor's.
// Usage: mirror_bench [FRAMES]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "driver/quarn_protocol.h"
#include "platform/mirror/duplication_mirror.h"
#include "platform/mirror/win/polling_mirror.h"

namespace {

using kmr::Rect;
using namespace kmr::platform;

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// One output of the screen's size whose frames are office work.
class OfficeOutput : public OutputDuplication {
 public:
  OfficeOutput(int32_t w, int32_t h) : w_(w), h_(h), screen_(static_cast<size_t>(w) * h, 0x00F0F0F0) {}
  Acquired Acquire(DuplicationFrame* frame) override {
    *frame = DuplicationFrame{};
    ++n_;
    if (n_ % 30 == 0) {
      // A page scrolled by 3 lines of 20 pixels; the new lines are dirty.
      frame->moves.push_back(MovedRect{200, 160, Rect{200, 100, 1400, 900}});
      frame->dirty.push_back(Rect{200, 900, 1400, 960});
    } else {
      // Two characters typed and the caret.
      const int32_t x = 200 + (n_ * 18) % 1200;
      frame->dirty.push_back(Rect{x, 500, x + 18, 520});
      frame->dirty.push_back(Rect{x + 18, 500, x + 20, 520});
    }
    frame->pointer_updated = true;
    frame->pointer_visible = true;
    frame->pointer_x = 700 + n_ % 50;
    frame->pointer_y = 400;
    return Acquired::kFrame;
  }
  bool Read(const std::vector<Rect>& rects, uint8_t* pixels, uint32_t stride) override {
    for (const Rect& r : rects) {
      for (int32_t y = r.top; y < r.bottom; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(r.left) * 4,
                    &screen_[static_cast<size_t>(y) * w_ + r.left], static_cast<size_t>(r.Width()) * 4);
        read_ += static_cast<uint64_t>(r.Width()) * 4;
      }
    }
    return true;
  }
  bool Shape(DuplicationPointerShape*) override { return false; }
  void Release() override {}
  uint64_t BytesRead() const { return read_; }

 private:
  int32_t w_, h_;
  int n_ = 0;
  std::vector<uint32_t> screen_;
  uint64_t read_ = 0;
};

class OfficeSystem : public DuplicationSystem {
 public:
  OfficeSystem(int32_t w, int32_t h) : w_(w), h_(h) {}
  bool Outputs(std::vector<Rect>* places, std::string*) override {
    places->push_back(Rect{0, 0, w_, h_});
    return true;
  }
  std::unique_ptr<OutputDuplication> Duplicate(size_t, std::string*) override {
    auto out = std::make_unique<OfficeOutput>(w_, h_);
    output = out.get();
    return out;
  }
  OfficeOutput* output = nullptr;

 private:
  int32_t w_, h_;
};

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 90;
  PollingMirror polling;
  uint8_t* bits = nullptr;
  uint8_t* ring = nullptr;
  SurfaceFormat format;
  if (!polling.Attach() || !polling.MapSurface(&bits, &format) || !polling.MapChangeRing(4096, &ring) ||
      !polling.EnableTracking()) {
    std::fprintf(stderr, "mirror_bench: the polling mirror does not start\n");
    return 1;
  }
  const int32_t w = format.width, h = format.height;
  polling.Update();  // the first copy takes everything over
  uint32_t reported = quarn_ring_write_sequence(ring);
  double t0 = Now();
  for (int i = 0; i < frames; ++i) polling.Update();
  const double update = (Now() - t0) / frames;
  reported = quarn_ring_write_sequence(ring) - reported;
  // The compare alone: the same block walk over two copies in plain memory.
  std::vector<uint8_t> a(bits, bits + static_cast<size_t>(format.stride) * format.height), b = a;
  t0 = Now();
  size_t differing = 0;
  for (int i = 0; i < frames; ++i) {
    for (int32_t by = 0; by < format.height; by += PollingMirror::kBlock) {
      for (int32_t bx = 0; bx < format.width; bx += PollingMirror::kBlock) {
        const int32_t bw = std::min(PollingMirror::kBlock, format.width - bx);
        for (int32_t y = by; y < std::min(by + PollingMirror::kBlock, format.height); ++y) {
          const size_t at = static_cast<size_t>(y) * format.stride + static_cast<size_t>(bx) * 4;
          if (std::memcmp(&a[at], &b[at], static_cast<size_t>(bw) * 4) != 0) {
            ++differing;
            break;
          }
        }
      }
    }
  }
  const double compare = (Now() - t0) / frames;
  // The BitBlt alone, into a surface of the same kind (a 32-bit DIB section).
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* dib_bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &dib_bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  t0 = Now();
  for (int i = 0; i < frames; ++i) {
    BitBlt(dc, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
  }
  const double blit = (Now() - t0) / frames;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);

  auto* system = new OfficeSystem(w, h);
  DuplicationMirror duplication{std::unique_ptr<DuplicationSystem>(system)};
  if (!duplication.Attach() || !duplication.MapChangeRing(4096, &ring) || !duplication.EnableTracking()) {
    std::fprintf(stderr, "mirror_bench: the duplication mirror does not start\n");
    return 1;
  }
  duplication.Update();  // the whole output, once
  const uint64_t first = system->output->BytesRead();
  t0 = Now();
  for (int i = 0; i < frames; ++i) duplication.Update();
  const double dup = (Now() - t0) / frames;
  const double dup_bytes = static_cast<double>(system->output->BytesRead() - first) / frames;

  const double screen_bytes = static_cast<double>(w) * h * 4;
  std::printf("screen %d x %d, %d frames\n", w, h, frames);
  std::printf("polling mirror, unchanged screen: %.2f ms a frame (BitBlt alone %.2f ms; the block compare over "
              "plain memory %.2f ms), %.1f MB read back a frame, %u rectangles reported in all%s\n",
              update * 1e3, blit * 1e3, compare * 1e3, screen_bytes / 1e6, reported, differing != 0 ? " (!)" : "");
  std::printf("duplication mirror, office work: %.3f ms a frame, %.1f KB read a frame\n", dup * 1e3,
              dup_bytes / 1e3);
  std::printf("ratios: duplication / polling compare %.4f, duplication / polling update %.5f; bytes read %.5f\n",
              dup / compare, dup / update, dup_bytes / screen_bytes);
  return 0;
}
