// The mirror display driver quarn as the capture's mirror: attaches its
// display device to the desktop through the registry value "Attach.ToDesktop"
// and the display settings, opens a device context on it, and maps its surface
// and change ring through the driver's escapes. The mapping replies carry
// 32-bit addresses: this path is for 32-bit builds, and a 64-bit build
// reports the driver as unavailable.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/mirror/driver_attachment.h"
#include "platform/mirror/mirror.h"
#include "platform/mirror/quarn_client.h"

namespace kmr::platform {

inline constexpr const char* kQuarnServiceName = "quarn";
inline constexpr const char* kQuarnDeviceString = "Norvane Screen Capture Driver";

class QuarnMirror : public Mirror, private QuarnEscapes {
 public:
  QuarnMirror(std::string service = kQuarnServiceName, std::string device_string = kQuarnDeviceString);
  ~QuarnMirror() override;

  // Whether a display device with the driver's device string exists.
  static bool DeviceExists(const char* device_string = kQuarnDeviceString);

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

  const std::string& Error() const { return error_; }

 private:
  class Steps;
  int Escape(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size) override;
  uint8_t* Pointer(uint32_t address) override;

  std::string service_, device_string_;
  std::unique_ptr<Steps> steps_;
  std::unique_ptr<DriverAttachment> attachment_;
  HDC driver_dc_ = nullptr;
  HDC screen_dc_ = nullptr;
  QuarnClient client_;
  std::string error_;
};

// Capture Method: 0 automatic (the driver when its device exists, else
// polling), 1 the driver only, 2 polling only.
enum class CaptureMethod { kAutomatic = 0, kDriver = 1, kPolling = 2 };

}  // namespace kmr::platform

namespace kmr::platform {

// The mirror for a capture method: automatic takes the driver when its display
// device exists (and this is a 32-bit build), else the system's desktop
// duplication where it works, else the polling mirror. *chosen (when given)
// says which, for the debug log.
std::unique_ptr<Mirror> CreateCaptureMirror(CaptureMethod method, std::string* chosen = nullptr);

}  // namespace kmr::platform
