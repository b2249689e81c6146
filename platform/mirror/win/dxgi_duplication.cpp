#include "platform/mirror/win/dxgi_duplication.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kmr::platform {

namespace {

using CreateFactory = CreateDxgiFactory;
using CreateDevice = CreateD3d11Device;

// Above this a frame's rectangle lists are damage, not a desktop's changes.
constexpr UINT kMaxMetadataBytes = 16u << 20;
constexpr UINT kMaxShapeBytes = 256u * 256u * 4u * 2u;

template <class T>
void Drop(T** p) {
  if (*p != nullptr) (*p)->Release();
  *p = nullptr;
}

std::string Hresult(const char* what, HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof(text), "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
  return text;
}

class DxgiDuplication : public OutputDuplication {
 public:
  ~DxgiDuplication() override {
    Release();
    Drop(&staging_);
    Drop(&duplication_);
    Drop(&context_);
    Drop(&device_);
  }

  bool Open(CreateDevice create, IDXGIAdapter1* adapter, IDXGIOutput* output, std::string* why) {
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0,
                                        D3D_FEATURE_LEVEL_9_1};
    HRESULT hr = create(adapter, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, levels, 4, D3D11_SDK_VERSION, &device_,
                        nullptr, &context_);
    if (FAILED(hr)) return *why = Hresult("D3D11CreateDevice", hr), false;
    IDXGIOutput1* output1 = nullptr;
    hr = output->QueryInterface(__uuidof(IDXGIOutput1), reinterpret_cast<void**>(&output1));
    if (FAILED(hr)) return *why = "the system has no output duplication (DXGI 1.2)", false;
    hr = output1->DuplicateOutput(device_, &duplication_);
    output1->Release();
    if (FAILED(hr)) return *why = Hresult("DuplicateOutput", hr), false;
    DXGI_OUTDUPL_DESC desc;
    duplication_->GetDesc(&desc);
    if (desc.Rotation != DXGI_MODE_ROTATION_IDENTITY && desc.Rotation != DXGI_MODE_ROTATION_UNSPECIFIED) {
      return *why = "a rotated output is not duplicated", false;
    }
    return true;
  }

  Acquired Acquire(DuplicationFrame* frame) override {
    DXGI_OUTDUPL_FRAME_INFO info;
    IDXGIResource* resource = nullptr;
    const HRESULT hr = duplication_->AcquireNextFrame(0, &info, &resource);
    if (hr == DXGI_ERROR_WAIT_TIMEOUT) return Acquired::kNothingNew;
    if (hr == DXGI_ERROR_ACCESS_LOST) return Acquired::kAccessLost;
    if (FAILED(hr)) return Acquired::kFailed;
    acquired_ = true;
    resource->QueryInterface(__uuidof(ID3D11Texture2D), reinterpret_cast<void**>(&texture_));
    resource->Release();
    *frame = DuplicationFrame{};
    if (info.TotalMetadataBufferSize > 0 && info.TotalMetadataBufferSize <= kMaxMetadataBytes) {
      metadata_.resize(info.TotalMetadataBufferSize);
      UINT used = 0;
      if (SUCCEEDED(duplication_->GetFrameMoveRects(info.TotalMetadataBufferSize,
                                                    reinterpret_cast<DXGI_OUTDUPL_MOVE_RECT*>(metadata_.data()),
                                                    &used))) {
        const auto* moves = reinterpret_cast<const DXGI_OUTDUPL_MOVE_RECT*>(metadata_.data());
        for (UINT i = 0; i < used / sizeof(DXGI_OUTDUPL_MOVE_RECT); ++i) {
          const RECT& d = moves[i].DestinationRect;
          frame->moves.push_back(MovedRect{moves[i].SourcePoint.x, moves[i].SourcePoint.y,
                                           Rect{d.left, d.top, d.right, d.bottom}});
        }
      }
      used = 0;
      if (SUCCEEDED(duplication_->GetFrameDirtyRects(info.TotalMetadataBufferSize,
                                                     reinterpret_cast<RECT*>(metadata_.data()), &used))) {
        const auto* rects = reinterpret_cast<const RECT*>(metadata_.data());
        for (UINT i = 0; i < used / sizeof(RECT); ++i) {
          frame->dirty.push_back(Rect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
        }
      }
    }
    if (info.LastMouseUpdateTime.QuadPart != 0) {
      frame->pointer_updated = true;
      frame->pointer_visible = info.PointerPosition.Visible != FALSE;
      frame->pointer_x = info.PointerPosition.Position.x;
      frame->pointer_y = info.PointerPosition.Position.y;
    }
    shape_bytes_ = info.PointerShapeBufferSize;
    frame->shape_changed = shape_bytes_ > 0 && shape_bytes_ <= kMaxShapeBytes;
    return Acquired::kFrame;
  }

  bool Read(const std::vector<Rect>& rects, uint8_t* pixels, uint32_t stride) override {
    if (texture_ == nullptr) return false;
    D3D11_TEXTURE2D_DESC desc;
    texture_->GetDesc(&desc);
    if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM) return false;
    if (!MakeStaging(desc)) return false;
    for (const Rect& r : rects) {
      if (r.left < 0 || r.top < 0 || static_cast<UINT>(r.right) > desc.Width ||
          static_cast<UINT>(r.bottom) > desc.Height) {
        return false;
      }
      const D3D11_BOX box{static_cast<UINT>(r.left), static_cast<UINT>(r.top), 0, static_cast<UINT>(r.right),
                          static_cast<UINT>(r.bottom), 1};
      context_->CopySubresourceRegion(staging_, 0, box.left, box.top, 0, texture_, 0, &box);
    }
    D3D11_MAPPED_SUBRESOURCE mapped;
    if (FAILED(context_->Map(staging_, 0, D3D11_MAP_READ, 0, &mapped))) return false;
    const auto* data = static_cast<const uint8_t*>(mapped.pData);
    for (const Rect& r : rects) {
      for (int32_t y = r.top; y < r.bottom; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(r.left) * 4,
                    data + static_cast<size_t>(y) * mapped.RowPitch + static_cast<size_t>(r.left) * 4,
                    static_cast<size_t>(r.Width()) * 4);
      }
    }
    context_->Unmap(staging_, 0);
    return true;
  }

  bool Shape(DuplicationPointerShape* shape) override {
    if (!acquired_ || shape_bytes_ == 0 || shape_bytes_ > kMaxShapeBytes) return false;
    shape->bits.resize(shape_bytes_);
    UINT needed = 0;
    DXGI_OUTDUPL_POINTER_SHAPE_INFO info;
    if (FAILED(duplication_->GetFramePointerShape(shape_bytes_, shape->bits.data(), &needed, &info))) return false;
    switch (info.Type) {
      case DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MONOCHROME:
        shape->kind = DuplicationPointerShape::Kind::kMonochrome;
        break;
      case DXGI_OUTDUPL_POINTER_SHAPE_TYPE_MASKED_COLOR:
        shape->kind = DuplicationPointerShape::Kind::kMaskedColour;
        break;
      default:
        shape->kind = DuplicationPointerShape::Kind::kColour;
        break;
    }
    shape->width = static_cast<int32_t>(info.Width);
    shape->height = static_cast<int32_t>(info.Height);
    shape->pitch = info.Pitch;
    shape->hot_x = info.HotSpot.x;
    shape->hot_y = info.HotSpot.y;
    return true;
  }

  void Release() override {
    Drop(&texture_);
    if (acquired_) duplication_->ReleaseFrame();
    acquired_ = false;
  }

 private:
  bool MakeStaging(const D3D11_TEXTURE2D_DESC& frame) {
    if (staging_ != nullptr) {
      D3D11_TEXTURE2D_DESC have;
      staging_->GetDesc(&have);
      if (have.Width == frame.Width && have.Height == frame.Height) return true;
      Drop(&staging_);
    }
    D3D11_TEXTURE2D_DESC d{};
    d.Width = frame.Width;
    d.Height = frame.Height;
    d.MipLevels = 1;
    d.ArraySize = 1;
    d.Format = frame.Format;
    d.SampleDesc.Count = 1;
    d.Usage = D3D11_USAGE_STAGING;
    d.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    return SUCCEEDED(device_->CreateTexture2D(&d, nullptr, &staging_));
  }

  ID3D11Device* device_ = nullptr;
  ID3D11DeviceContext* context_ = nullptr;
  IDXGIOutputDuplication* duplication_ = nullptr;
  ID3D11Texture2D* texture_ = nullptr;
  ID3D11Texture2D* staging_ = nullptr;
  bool acquired_ = false;
  UINT shape_bytes_ = 0;
  std::vector<uint8_t> metadata_;
};

class DxgiDuplicationSystem : public DuplicationSystem {
 public:
  ~DxgiDuplicationSystem() override {
    Clear();
    if (d3d11_ != nullptr) FreeLibrary(d3d11_);
    if (dxgi_ != nullptr) FreeLibrary(dxgi_);
  }

  DxgiDuplicationSystem() = default;
  DxgiDuplicationSystem(CreateFactory factory, CreateDevice device)
      : create_factory_(factory), create_device_(device) {}

  bool Load() {
    dxgi_ = LoadLibraryA("dxgi.dll");
    d3d11_ = LoadLibraryA("d3d11.dll");
    if (dxgi_ == nullptr || d3d11_ == nullptr) return false;
    create_factory_ = reinterpret_cast<CreateFactory>(reinterpret_cast<void*>(GetProcAddress(dxgi_, "CreateDXGIFactory1")));
    create_device_ = reinterpret_cast<CreateDevice>(reinterpret_cast<void*>(GetProcAddress(d3d11_, "D3D11CreateDevice")));
    return create_factory_ != nullptr && create_device_ != nullptr;
  }

  bool Outputs(std::vector<Rect>* places, std::string* why) override {
    Clear();
    IDXGIFactory1* factory = nullptr;
    HRESULT hr = create_factory_(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return *why = Hresult("CreateDXGIFactory1", hr), false;
    IDXGIAdapter1* adapter = nullptr;
    for (UINT a = 0; factory->EnumAdapters1(a, &adapter) != DXGI_ERROR_NOT_FOUND; ++a) {
      IDXGIOutput* output = nullptr;
      for (UINT o = 0; adapter->EnumOutputs(o, &output) != DXGI_ERROR_NOT_FOUND; ++o) {
        DXGI_OUTPUT_DESC desc;
        if (SUCCEEDED(output->GetDesc(&desc)) && desc.AttachedToDesktop) {
          const RECT& r = desc.DesktopCoordinates;
          places->push_back(Rect{r.left, r.top, r.right, r.bottom});
          adapter->AddRef();
          outputs_.push_back(Found{adapter, output});
        } else {
          output->Release();
        }
      }
      adapter->Release();
    }
    factory->Release();
    if (outputs_.empty()) return *why = "no output of the desktop can be duplicated", false;
    return true;
  }

  std::unique_ptr<OutputDuplication> Duplicate(size_t index, std::string* why) override {
    if (index >= outputs_.size()) return *why = "no such output", nullptr;
    auto duplication = std::make_unique<DxgiDuplication>();
    if (!duplication->Open(create_device_, outputs_[index].adapter, outputs_[index].output, why)) return nullptr;
    return duplication;
  }

 private:
  struct Found {
    IDXGIAdapter1* adapter;
    IDXGIOutput* output;
  };
  void Clear() {
    for (Found& f : outputs_) {
      f.output->Release();
      f.adapter->Release();
    }
    outputs_.clear();
  }

  HMODULE dxgi_ = nullptr;
  HMODULE d3d11_ = nullptr;
  CreateFactory create_factory_ = nullptr;
  CreateDevice create_device_ = nullptr;
  std::vector<Found> outputs_;
};

}  // namespace

std::unique_ptr<DuplicationSystem> MakeDxgiDuplicationSystem() {
  auto system = std::make_unique<DxgiDuplicationSystem>();
  if (!system->Load()) return nullptr;
  return system;
}

std::unique_ptr<DuplicationSystem> MakeDxgiDuplicationSystem(CreateDxgiFactory create_factory,
                                                             CreateD3d11Device create_device) {
  return std::make_unique<DxgiDuplicationSystem>(create_factory, create_device);
}

}  // namespace kmr::platform
