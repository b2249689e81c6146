// The mirror driver on Linux over the fake graphics engine: a device of
// W × H at a depth, drawing through the driver's hooks, and escapes. Tests
// of the driver use it, and so can tests of the recorder as an emulated mirror.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/host/fake_engine.h"
#include "driver/quarn_driver.h"
#include "driver/quarn_protocol.h"

namespace kmr::quarn {

class Harness {
 public:
  Harness(uint32_t width, uint32_t height, uint32_t bits) {
    DRVENABLEDATA ded{};
    DrvEnableDriver(DDI_DRIVER_VERSION_NT5, sizeof(ded), &ded);
    DEVMODEW mode{};
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmBitsPerPel = bits;
    mode.dmLogPixels = 96;
    device_ = DrvEnablePDEV(&mode, nullptr, 0, nullptr, sizeof(gdi_info), reinterpret_cast<ULONG*>(&gdi_info),
                            sizeof(dev_info), &dev_info, reinterpret_cast<HDEV>(this), nullptr,
                            reinterpret_cast<HANDLE>(this));
    if (device_ == nullptr) return;
    DrvCompletePDEV(device_, reinterpret_cast<HDEV>(this));
    hsurf_ = DrvEnableSurface(device_);
    if (hsurf_ != nullptr) surface_ = EngLockSurface(hsurf_);
  }
  ~Harness() {
    if (device_ == nullptr) return;
    if (hsurf_ != nullptr) DrvDisableSurface(device_);
    DrvDisablePDEV(device_);
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  bool ok() const { return surface_ != nullptr; }
  SURFOBJ* surface() const { return surface_; }
  DHPDEV device() const { return device_; }
  uint8_t* bits() const { return static_cast<uint8_t*>(surface_->pvScan0); }
  uint32_t stride() const { return static_cast<uint32_t>(surface_->lDelta); }

  ULONG Escape(ULONG code, const void* in, ULONG in_size, void* out, ULONG out_size) {
    return DrvEscape(surface_, code, in_size, const_cast<void*>(in), out_size, out);
  }
  // Maps the surface and a ring, turns tracking on; returns the ring.
  uint8_t* Attach(uint32_t capacity = QUARN_RING_CAPACITY) {
    uint8_t reply[8];
    Escape(QUARN_ESC_MAP_SURFACE, nullptr, 0, reply, 8);
    Escape(QUARN_ESC_MAP_CHANGE_RING, &capacity, 4, reply, 8);
    Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0);
    return static_cast<uint8_t*>(FakeMiniportPointer(quarn_mapping_reply_word(reply, 0)));
  }

  // A solid fill through DrvBitBlt.
  void Fill(RECTL r, uint32_t color, CLIPOBJ* clip = nullptr) {
    BRUSHOBJ b;
    FakeBrush(&b, color);
    DrvBitBlt(surface_, nullptr, nullptr, clip, nullptr, &r, nullptr, nullptr, &b, nullptr, 0xF0F0);
  }
  // A copy within the surface through DrvCopyBits.
  void CopyWithin(RECTL dest, POINTL from, CLIPOBJ* clip = nullptr) {
    DrvCopyBits(surface_, surface_, clip, nullptr, &dest, &from);
  }

  GDIINFO gdi_info{};
  DEVINFO dev_info{};

 private:
  DHPDEV device_ = nullptr;
  HSURF hsurf_ = nullptr;
  SURFOBJ* surface_ = nullptr;
};

}  // namespace kmr::quarn
