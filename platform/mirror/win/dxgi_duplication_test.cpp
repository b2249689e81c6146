// The DXGI duplication against stand-ins of the factory, adapter, output,
// duplication, device, context and textures that serve scripted frames and
// record what the duplication asks of them (Wine's output duplication is not
// implemented).
#include "platform/mirror/win/dxgi_duplication.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "driver/quarn_protocol.h"
#include "platform/mirror/win/testing/dxgi_stand_in_bases.h"

namespace kmr::platform {
namespace {

using namespace testing;

// One frame an output hands over: how AcquireNextFrame answers, what was
// drawn (fills) and moved before it, and the pointer.
struct Fill {
  RECT rect;
  uint32_t colour;
};
struct Step {
  HRESULT result = S_OK;
  std::vector<DXGI_OUTDUPL_MOVE_RECT> moves;
  std::vector<Fill> fills;  // reported as dirty
  bool pointer = false;
  POINT pointer_at{0, 0};
  std::vector<uint8_t> shape;
  DXGI_OUTDUPL_POINTER_SHAPE_INFO shape_info{};
};

struct OutputScript {
  RECT desktop;
  HRESULT duplicate_result = S_OK;
  std::vector<uint32_t> screen;
  std::deque<Step> steps;
  int duplicates = 0, acquires = 0, releases = 0;
  LONG Width() const { return desktop.right - desktop.left; }
  LONG Height() const { return desktop.bottom - desktop.top; }
};

struct World {
  std::deque<OutputScript> outputs;  // the duplications keep pointers to them
  DXGI_FORMAT format = DXGI_FORMAT_B8G8R8A8_UNORM;
  std::vector<D3D11_BOX> copies;
  int maps = 0, devices = 0;
  LONG live = 0;  // objects not yet released
};
World* world = nullptr;

template <class Base>
class ComObject : public Base {
 public:
  ComObject() { ++world->live; }
  virtual ~ComObject() { --world->live; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }

 private:
  ULONG refs_ = 1;
};

class Texture : public ComObject<ID3D11Texture2DBase> {
 public:
  explicit Texture(const D3D11_TEXTURE2D_DESC& d) : desc(d), pitch(d.Width * 4 + 64), pixels(pitch * d.Height, 0) {}
  void STDMETHODCALLTYPE GetDesc(D3D11_TEXTURE2D_DESC* out) override { *out = desc; }
  D3D11_TEXTURE2D_DESC desc;
  UINT pitch;  // rows padded, as a card's are
  std::vector<uint8_t> pixels;
};

// The frame's image: the output's screen as it is after the frame.
Texture* FrameTexture(const OutputScript& out) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = static_cast<UINT>(out.Width());
  d.Height = static_cast<UINT>(out.Height());
  d.Format = world->format;
  auto* t = new Texture(d);
  for (LONG y = 0; y < out.Height(); ++y) {
    std::memcpy(&t->pixels[y * t->pitch], &out.screen[static_cast<size_t>(y) * out.Width()], d.Width * 4);
  }
  return t;
}

class Resource : public ComObject<IDXGIResourceBase> {
 public:
  explicit Resource(Texture* t) : texture(t) {}
  ~Resource() override { texture->Release(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != __uuidof(ID3D11Texture2D)) return *out = nullptr, E_NOINTERFACE;
    texture->AddRef();
    *out = static_cast<ID3D11Texture2D*>(texture);
    return S_OK;
  }
  Texture* texture;
};

class Duplication : public ComObject<IDXGIOutputDuplicationBase> {
 public:
  explicit Duplication(OutputScript* o) : out(o) {}
  void STDMETHODCALLTYPE GetDesc(DXGI_OUTDUPL_DESC* d) override {
    *d = DXGI_OUTDUPL_DESC{};
    d->Rotation = DXGI_MODE_ROTATION_IDENTITY;
  }
  HRESULT STDMETHODCALLTYPE AcquireNextFrame(UINT, DXGI_OUTDUPL_FRAME_INFO* info, IDXGIResource** resource) override {
    ++out->acquires;
    if (out->steps.empty()) return DXGI_ERROR_WAIT_TIMEOUT;
    step = out->steps.front();
    out->steps.pop_front();
    if (FAILED(step.result)) return step.result;
    // The screen as the frame leaves it: the moves, then the fills.
    for (const DXGI_OUTDUPL_MOVE_RECT& m : step.moves) {
      const std::vector<uint32_t> before = out->screen;
      const RECT& d = m.DestinationRect;
      for (LONG y = 0; y < d.bottom - d.top; ++y) {
        for (LONG x = 0; x < d.right - d.left; ++x) {
          out->screen[static_cast<size_t>(d.top + y) * out->Width() + d.left + x] =
              before[static_cast<size_t>(m.SourcePoint.y + y) * out->Width() + m.SourcePoint.x + x];
        }
      }
    }
    for (const Fill& f : step.fills) {
      for (LONG y = f.rect.top; y < f.rect.bottom; ++y) {
        for (LONG x = f.rect.left; x < f.rect.right; ++x) out->screen[static_cast<size_t>(y) * out->Width() + x] = f.colour;
      }
    }
    *info = DXGI_OUTDUPL_FRAME_INFO{};
    info->AccumulatedFrames = 1;
    info->TotalMetadataBufferSize =
        static_cast<UINT>(step.moves.size() * sizeof(DXGI_OUTDUPL_MOVE_RECT) + step.fills.size() * sizeof(RECT));
    if (step.pointer) {
      info->LastMouseUpdateTime.QuadPart = 1;
      info->PointerPosition.Visible = TRUE;
      info->PointerPosition.Position = step.pointer_at;
    }
    info->PointerShapeBufferSize = static_cast<UINT>(step.shape.size());
    *resource = new Resource(FrameTexture(*out));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrameMoveRects(UINT size, DXGI_OUTDUPL_MOVE_RECT* rects, UINT* required) override {
    *required = static_cast<UINT>(step.moves.size() * sizeof(DXGI_OUTDUPL_MOVE_RECT));
    if (size < *required) return DXGI_ERROR_MORE_DATA;
    std::copy(step.moves.begin(), step.moves.end(), rects);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrameDirtyRects(UINT size, RECT* rects, UINT* required) override {
    *required = static_cast<UINT>(step.fills.size() * sizeof(RECT));
    if (size < *required) return DXGI_ERROR_MORE_DATA;
    for (const Fill& f : step.fills) *rects++ = f.rect;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFramePointerShape(UINT size, void* buffer, UINT* required,
                                                 DXGI_OUTDUPL_POINTER_SHAPE_INFO* info) override {
    *required = static_cast<UINT>(step.shape.size());
    if (size < *required) return DXGI_ERROR_MORE_DATA;
    std::memcpy(buffer, step.shape.data(), step.shape.size());
    *info = step.shape_info;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReleaseFrame() override {
    ++out->releases;
    return S_OK;
  }
  OutputScript* out;
  Step step;
};

class Output : public ComObject<IDXGIOutput1Base> {
 public:
  explicit Output(OutputScript* o) : out(o) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
    if (iid != __uuidof(IDXGIOutput1)) return *result = nullptr, E_NOINTERFACE;
    AddRef();
    *result = static_cast<IDXGIOutput1*>(this);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC* d) override {
    *d = DXGI_OUTPUT_DESC{};
    d->DesktopCoordinates = out->desktop;
    d->AttachedToDesktop = TRUE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DuplicateOutput(IUnknown* device, IDXGIOutputDuplication** result) override {
    ++out->duplicates;
    if (device == nullptr) return E_INVALIDARG;
    if (FAILED(out->duplicate_result)) return out->duplicate_result;
    *result = new Duplication(out);
    return S_OK;
  }
  OutputScript* out;
};

class Adapter : public ComObject<IDXGIAdapter1Base> {
 public:
  HRESULT STDMETHODCALLTYPE EnumOutputs(UINT i, IDXGIOutput** out) override {
    if (i >= world->outputs.size()) return DXGI_ERROR_NOT_FOUND;
    *out = new Output(&world->outputs[i]);
    return S_OK;
  }
};

class Factory : public ComObject<IDXGIFactory1Base> {
 public:
  HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT i, IDXGIAdapter1** out) override {
    if (i > 0) return DXGI_ERROR_NOT_FOUND;
    *out = new Adapter();
    return S_OK;
  }
};

class Device : public ComObject<ID3D11DeviceBase> {
 public:
  HRESULT STDMETHODCALLTYPE CreateTexture2D(const D3D11_TEXTURE2D_DESC* d, const D3D11_SUBRESOURCE_DATA*,
                                            ID3D11Texture2D** out) override {
    EXPECT_EQ(d->Usage, D3D11_USAGE_STAGING);
    EXPECT_EQ(d->CPUAccessFlags, static_cast<UINT>(D3D11_CPU_ACCESS_READ));
    *out = new Texture(*d);
    return S_OK;
  }
};

class Context : public ComObject<ID3D11DeviceContextBase> {
 public:
  void STDMETHODCALLTYPE CopySubresourceRegion(ID3D11Resource* dst, UINT, UINT x, UINT y, UINT, ID3D11Resource* src,
                                               UINT, const D3D11_BOX* box) override {
    world->copies.push_back(*box);
    auto* to = static_cast<Texture*>(static_cast<ID3D11Texture2D*>(dst));
    auto* from = static_cast<Texture*>(static_cast<ID3D11Texture2D*>(src));
    for (UINT row = 0; row < box->bottom - box->top; ++row) {
      std::memcpy(&to->pixels[(y + row) * to->pitch + x * 4], &from->pixels[(box->top + row) * from->pitch + box->left * 4],
                  (box->right - box->left) * 4);
    }
  }
  HRESULT STDMETHODCALLTYPE Map(ID3D11Resource* resource, UINT, D3D11_MAP type, UINT, D3D11_MAPPED_SUBRESOURCE* mapped) override {
    EXPECT_EQ(type, D3D11_MAP_READ);
    ++world->maps;
    auto* t = static_cast<Texture*>(static_cast<ID3D11Texture2D*>(resource));
    mapped->pData = t->pixels.data();
    mapped->RowPitch = t->pitch;
    mapped->DepthPitch = 0;
    return S_OK;
  }
};

HRESULT WINAPI StandInCreateFactory(REFIID iid, void** out) {
  if (iid != __uuidof(IDXGIFactory1)) return E_NOINTERFACE;
  *out = static_cast<IDXGIFactory1*>(new Factory());
  return S_OK;
}

HRESULT WINAPI StandInCreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE type, HMODULE, UINT, const D3D_FEATURE_LEVEL*,
                                   UINT, UINT, ID3D11Device** device, D3D_FEATURE_LEVEL*, ID3D11DeviceContext** context) {
  // A device of the adapter that holds the output.
  if (adapter == nullptr || type != D3D_DRIVER_TYPE_UNKNOWN) return E_INVALIDARG;
  ++world->devices;
  *device = new Device();
  *context = new Context();
  return S_OK;
}

std::vector<Rect> Drain(uint8_t* ring) {
  std::vector<Rect> rects;
  quarn_ring_drain(
      ring,
      [](void* c, const QuarnRect* q) {
        static_cast<std::vector<Rect>*>(c)->push_back(Rect{q->left, q->top, q->right, q->bottom});
      },
      &rects);
  return rects;
}

class DxgiDuplicationTest : public ::testing::Test {
 protected:
  void SetUp() override { world = &world_; }
  void TearDown() override {
    mirror_.reset();
    EXPECT_EQ(world_.live, 0) << "objects not released";
    world = nullptr;
  }

  OutputScript& AddOutput(RECT desktop, uint32_t base) {
    OutputScript o;
    o.desktop = desktop;
    o.screen.resize(static_cast<size_t>(o.Width()) * o.Height());
    for (size_t i = 0; i < o.screen.size(); ++i) o.screen[i] = base + static_cast<uint32_t>(i);
    o.steps.push_back(Step{});  // the first frame: the whole output is read
    world_.outputs.push_back(o);
    return world_.outputs.back();
  }

  bool Start() {
    mirror_ = std::make_unique<DuplicationMirror>(MakeDxgiDuplicationSystem(StandInCreateFactory, StandInCreateDevice));
    if (!mirror_->Attach()) return false;
    return mirror_->MapSurface(&surface_, &format_) && mirror_->MapChangeRing(64, &ring_) && mirror_->EnableTracking();
  }

  uint32_t At(int32_t x, int32_t y) const {
    uint32_t v;
    std::memcpy(&v, surface_ + static_cast<size_t>(y) * format_.stride + static_cast<size_t>(x) * 4, 4);
    return v;
  }
  bool SurfaceShows(const OutputScript& out, int32_t left, int32_t top) const {
    for (LONG y = 0; y < out.Height(); ++y) {
      for (LONG x = 0; x < out.Width(); ++x) {
        if (At(left + x, top + y) != out.screen[static_cast<size_t>(y) * out.Width() + x]) return false;
      }
    }
    return true;
  }

  World world_;
  std::unique_ptr<DuplicationMirror> mirror_;
  uint8_t* surface_ = nullptr;
  SurfaceFormat format_;
  uint8_t* ring_ = nullptr;
};

TEST_F(DxgiDuplicationTest, EveryOutputIsDuplicatedAndReadWholeAtItsPlace) {
  AddOutput(RECT{0, 0, 48, 24}, 0x10000);
  AddOutput(RECT{48, 8, 80, 40}, 0x20000);
  ASSERT_TRUE(Start()) << mirror_->Error();
  EXPECT_EQ(format_.width, 80);
  EXPECT_EQ(format_.height, 40);
  EXPECT_EQ(world_.devices, 2);
  mirror_->Update();
  EXPECT_TRUE(SurfaceShows(world_.outputs[0], 0, 0));
  EXPECT_TRUE(SurfaceShows(world_.outputs[1], 48, 8));
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{0, 0, 48, 24}, Rect{48, 8, 80, 40}}));
  EXPECT_EQ(world_.outputs[0].releases, 1);
  // Nothing new: no frame to give back, nothing read.
  world_.copies.clear();
  mirror_->Update();
  EXPECT_TRUE(world_.copies.empty());
  EXPECT_EQ(world_.outputs[0].releases, 1);
  EXPECT_EQ(world_.outputs[0].acquires, 2);
}

TEST_F(DxgiDuplicationTest, MovesAreAppliedAndOnlyDirtyRectanglesCrossFromTheCard) {
  OutputScript& out = AddOutput(RECT{0, 0, 64, 40}, 0x30000);
  ASSERT_TRUE(Start());
  mirror_->Update();
  Drain(ring_);
  world_.copies.clear();
  Step s;
  s.moves.push_back(DXGI_OUTDUPL_MOVE_RECT{POINT{4, 4}, RECT{10, 12, 40, 30}});  // a window dragged
  s.fills.push_back(Fill{RECT{4, 4, 10, 30}, 0x00FFEEDD});                      // what it uncovered
  out.steps.push_back(s);
  mirror_->Update();
  EXPECT_TRUE(SurfaceShows(out, 0, 0));
  ASSERT_EQ(world_.copies.size(), 1u);
  EXPECT_EQ(world_.copies[0].left, 4u);
  EXPECT_EQ(world_.copies[0].right, 10u);
  EXPECT_EQ(world_.copies[0].bottom, 30u);
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{10, 12, 40, 30}, Rect{4, 4, 10, 30}}));
}

TEST_F(DxgiDuplicationTest, LostAccessDuplicatesTheOutputAgain) {
  OutputScript& out = AddOutput(RECT{0, 0, 16, 16}, 0x40000);
  ASSERT_TRUE(Start());
  mirror_->Update();
  Drain(ring_);
  Step lost;
  lost.result = DXGI_ERROR_ACCESS_LOST;
  out.steps.push_back(lost);
  mirror_->Update();
  EXPECT_EQ(out.duplicates, 2);
  EXPECT_EQ(out.releases, 1);  // a lost frame is not given back
  for (uint32_t& p : out.screen) p ^= 0xFFFF;
  out.steps.push_back(Step{});
  mirror_->Update();
  EXPECT_TRUE(SurfaceShows(out, 0, 0));
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{0, 0, 16, 16}}));
  EXPECT_EQ(mirror_->Recreations(), 1u);
}

TEST_F(DxgiDuplicationTest, ThePointerAndItsShapeComeWithTheFrame) {
  OutputScript& out = AddOutput(RECT{-32, 0, 0, 32}, 0);  // left of the primary
  AddOutput(RECT{0, 0, 32, 32}, 0);
  ASSERT_TRUE(Start());
  mirror_->Update();
  Step s;
  s.pointer = true;
  s.pointer_at = POINT{5, 6};
  s.shape = {0x80, 0x00, 0x80, 0x40};
  s.shape_info.Type = DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME;
  s.shape_info.Width = 2;
  s.shape_info.Height = 4;
  s.shape_info.Pitch = 1;
  s.shape_info.HotSpot = POINT{1, 1};
  out.steps.push_back(s);
  mirror_->Update();
  const DuplicationPointer& p = mirror_->Pointer();
  EXPECT_TRUE(p.visible);
  EXPECT_EQ(p.x, 5);  // the surface's left edge is the left output's
  EXPECT_EQ(p.y, 6);
  EXPECT_EQ(p.shape.kind, DuplicationPointerShape::Kind::kMonochrome);
  EXPECT_EQ(p.shape.hot_x, 1);
  EXPECT_EQ(p.shape.bits, s.shape);
}

TEST_F(DxgiDuplicationTest, ASystemWithoutDuplicationFailsWithItsCode) {
  OutputScript& out = AddOutput(RECT{0, 0, 16, 16}, 0);
  out.duplicate_result = E_NOTIMPL;
  EXPECT_FALSE(Start());
  EXPECT_NE(mirror_->Error().find("DuplicateOutput failed (0x80004001)"), std::string::npos) << mirror_->Error();
}

TEST_F(DxgiDuplicationTest, FramesOfAnotherPixelFormatAreNotTakenAsPixels) {
  AddOutput(RECT{0, 0, 16, 16}, 0x50000);
  world_.format = DXGI_FORMAT_R16G16B16A16_FLOAT;  // a high dynamic range desktop
  ASSERT_TRUE(Start());
  mirror_->Update();
  EXPECT_TRUE(Drain(ring_).empty());
  EXPECT_EQ(world_.outputs[0].releases, 1);
  EXPECT_EQ(At(3, 3), 0u);
}

}  // namespace
}  // namespace kmr::platform
