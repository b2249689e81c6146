#include "platform/mirror/win/quarn_mirror.h"

#include <cctype>
#include <cstring>

#include "driver/quarn_protocol.h"
#include "platform/mirror/win/display_attach_win.h"

namespace kmr::platform {

namespace {

// Holds the pointer still (clipped to the pixel under it) while the display
// settings change; the previous clipping comes back on every path.
class PointerFreeze {
 public:
  PointerFreeze() {
    GetClipCursor(&saved_);
    POINT p{};
    GetCursorPos(&p);
    RECT one{p.x, p.y, p.x + 1, p.y + 1};
    ClipCursor(&one);
  }
  ~PointerFreeze() { ClipCursor(&saved_); }
  PointerFreeze(const PointerFreeze&) = delete;
  PointerFreeze& operator=(const PointerFreeze&) = delete;

 private:
  RECT saved_{};
};

}  // namespace

QuarnMirror::QuarnMirror(std::string service, std::string device_string)
    : service_(std::move(service)), device_string_(std::move(device_string)), client_(this) {}

QuarnMirror::~QuarnMirror() {
  Detach();
  attachment_.reset();
}

bool QuarnMirror::DeviceExists(const char* device_string) {
  return WinDisplayAttachSteps::DeviceExists(device_string);
}

// The Win32 attach steps, with the driver's device context and its surface
// and ring mapped.
class QuarnMirror::Steps : public WinDisplayAttachSteps {
 public:
  explicit Steps(QuarnMirror* m) : WinDisplayAttachSteps(m->service_, m->device_string_), m_(m) {}

  bool OpenDriver(const std::string& device_name) override {
    m_->driver_dc_ = CreateDCA("DISPLAY", device_name.c_str(), nullptr, nullptr);
    if (m_->driver_dc_ == nullptr || !(GetDeviceCaps(m_->driver_dc_, RASTERCAPS) & RC_BITBLT)) return false;
    return m_->client_.Open(QUARN_RING_CAPACITY);
  }

  void CloseDriver() override {
    if (m_->driver_dc_ == nullptr) return;
    m_->client_.Close();
    DeleteDC(m_->driver_dc_);
    m_->driver_dc_ = nullptr;
  }

 private:
  QuarnMirror* m_;
};

bool QuarnMirror::Attach() {
  if (sizeof(void*) != 4) {
    error_ = "the mirror driver serves 32-bit builds only";
    return false;
  }
  if (steps_ == nullptr) {
    steps_ = std::make_unique<Steps>(this);
    attachment_ = std::make_unique<DriverAttachment>(steps_.get());
  }
  bool ok;
  {
    PointerFreeze freeze;
    ok = attachment_->Attach(&error_);  // undoes itself on failure
  }
  if (!ok) return false;
  screen_dc_ = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (screen_dc_ == nullptr) {
    error_ = "cannot open the screen's device context";
    Detach();
    return false;
  }
  return true;
}

void QuarnMirror::Detach() {
  if (screen_dc_ != nullptr) {
    DeleteDC(screen_dc_);
    screen_dc_ = nullptr;
  }
  if (attachment_ == nullptr) return;
  PointerFreeze freeze;
  attachment_->Detach();
}

int QuarnMirror::Escape(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size) {
  if (driver_dc_ == nullptr) return 0;
  return ExtEscape(driver_dc_, static_cast<int>(code), static_cast<int>(in_size), static_cast<LPCSTR>(in),
                   static_cast<int>(out_size), static_cast<LPSTR>(out));
}

uint8_t* QuarnMirror::Pointer(uint32_t address) {
  // The driver maps into this process: the reply holds our own address.
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
}

bool QuarnMirror::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  if (driver_dc_ == nullptr || client_.Surface() == nullptr) return false;
  *bits = client_.Surface();
  *format = SurfaceFormat{};
  format->width = GetDeviceCaps(driver_dc_, HORZRES);
  format->height = GetDeviceCaps(driver_dc_, VERTRES);
  // The surface's format as GDI describes a bitmap compatible with it.
  HDC mem = CreateCompatibleDC(driver_dc_);
  HBITMAP bmp = CreateCompatibleBitmap(driver_dc_, format->width, format->height);
  bool ok = mem != nullptr && bmp != nullptr && (GetDeviceCaps(mem, RASTERCAPS) & RC_DI_BITMAP);
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[256];
  } info{};
  if (ok) {
    info.h.biSize = sizeof(BITMAPINFOHEADER);
    ok = GetDIBits(mem, bmp, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != 0;
  }
  if (ok) {
    ok = GetDIBits(mem, bmp, 0, 0, nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                   info.h.biBitCount <= 8 ? DIB_PAL_COLORS : DIB_RGB_COLORS) != 0;
  }
  if (bmp) DeleteObject(bmp);
  if (mem) DeleteDC(mem);
  if (!ok) return false;
  format->bits_per_pixel = info.h.biBitCount;
  format->stride = (static_cast<uint32_t>(format->width) * (info.h.biBitCount / 8) + 3) & ~3u;
  if (info.h.biBitCount == 16 && info.h.biCompression == BI_BITFIELDS) {
    format->bit_fields = true;
    std::memcpy(format->masks, info.colours, 12);
  } else if (info.h.biBitCount == 8) {
    format->colour_table.assign(reinterpret_cast<uint8_t*>(info.colours), reinterpret_cast<uint8_t*>(info.colours) + 1024);
  }
  return true;
}

void QuarnMirror::UnmapSurface() {}  // the detach unmaps, in the driver's order
bool QuarnMirror::MapChangeRing(uint32_t, uint8_t** ring) {
  *ring = client_.Ring();
  return *ring != nullptr;
}
void QuarnMirror::UnmapChangeRing() {}
bool QuarnMirror::EnableTracking() { return driver_dc_ != nullptr; }

ScreenMetrics QuarnMirror::Screen() {
  ScreenMetrics m;
  if (screen_dc_ == nullptr) return m;
  m.width = GetDeviceCaps(screen_dc_, HORZRES);
  m.height = GetDeviceCaps(screen_dc_, VERTRES);
  m.bits_per_pixel = static_cast<uint32_t>(GetDeviceCaps(screen_dc_, BITSPIXEL));
  return m;
}

bool QuarnMirror::SeedFromScreen(const Rect& r) {
  if (driver_dc_ == nullptr || screen_dc_ == nullptr) return false;
  return BitBlt(driver_dc_, r.left, r.top, r.Width(), r.Height(), screen_dc_, r.left, r.top, SRCCOPY) != 0;
}

bool QuarnMirror::FillBlack(const Rect& r) {
  if (driver_dc_ == nullptr) return false;
  RECT rc{r.left, r.top, r.right, r.bottom};
  FillRect(driver_dc_, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (screen_dc_ != nullptr) BitBlt(driver_dc_, r.left, r.top, r.Width(), r.Height(), screen_dc_, r.left, r.top, SRCCOPY);
  return true;
}

}  // namespace kmr::platform

#include "platform/mirror/duplication_mirror.h"
#include "platform/mirror/win/dxgi_duplication.h"
#include "platform/mirror/win/polling_mirror.h"

namespace kmr::platform {

namespace {

// The screen copies hold no pointer; the system draws it in.
std::unique_ptr<Mirror> PollingMirrorWithPointer() {
  auto polling = std::make_unique<PollingMirror>();
  auto pointer = std::make_unique<GdiPointerSource>(polling.get());
  return PointerCompositor::Owning(std::move(polling), std::move(pointer));
}

// The desktop duplication where the system has it (Windows 8 and later, not
// in remote sessions or Wine), its pointer drawn in from its own shapes.
std::unique_ptr<Mirror> DuplicationMirrorWithPointer(std::string* why) {
  std::unique_ptr<DuplicationSystem> system = MakeDxgiDuplicationSystem();
  if (system == nullptr) {
    *why = "d3d11.dll or dxgi.dll is missing";
    return nullptr;
  }
  auto duplication = std::make_unique<DuplicationMirror>(std::move(system));
  if (!duplication->Attach()) {
    *why = duplication->Error();
    return nullptr;
  }
  auto pointer = std::make_unique<DuplicationPointerSource>(duplication.get());
  return PointerCompositor::Owning(std::move(duplication), std::move(pointer));
}

}  // namespace

std::unique_ptr<Mirror> CreateCaptureMirror(CaptureMethod method, std::string* chosen) {
  std::string ignored;
  std::string& said = chosen != nullptr ? *chosen : ignored;
  switch (method) {
    case CaptureMethod::kDriver:
      said = "the mirror driver";
      return std::make_unique<QuarnMirror>();
    case CaptureMethod::kPolling:
      said = "screen polling";
      return PollingMirrorWithPointer();
    case CaptureMethod::kAutomatic:
    default: {
      if (sizeof(void*) == 4 && QuarnMirror::DeviceExists()) {
        said = "the mirror driver";
        return std::make_unique<QuarnMirror>();
      }
      std::string why;
      if (std::unique_ptr<Mirror> duplication = DuplicationMirrorWithPointer(&why)) {
        said = "desktop duplication";
        return duplication;
      }
      said = "screen polling (no desktop duplication: " + why + ")";
      return PollingMirrorWithPointer();
    }
  }
}

}  // namespace kmr::platform
