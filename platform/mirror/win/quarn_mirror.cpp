#include "platform/mirror/win/quarn_mirror.h"

#include <aclapi.h>

#include <cctype>
#include <cstring>

#include "driver/quarn_protocol.h"

namespace kmr::platform {

namespace {

using EnumDisplayDevicesFn = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
using ChangeDisplaySettingsExFn = LONG(WINAPI*)(LPCSTR, LPDEVMODEA, HWND, DWORD, LPVOID);

struct User32 {
  EnumDisplayDevicesFn enum_devices = nullptr;
  ChangeDisplaySettingsExFn change_settings = nullptr;
  User32() {
    HMODULE user = LoadLibraryA("USER32");
    if (user == nullptr) return;
    enum_devices = reinterpret_cast<EnumDisplayDevicesFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "EnumDisplayDevicesA")));
    change_settings = reinterpret_cast<ChangeDisplaySettingsExFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "ChangeDisplaySettingsExA")));
  }
};

bool FindDevice(const User32& u, const std::string& device_string, DISPLAY_DEVICEA* out) {
  if (u.enum_devices == nullptr) return false;
  for (DWORD i = 0;; ++i) {
    DISPLAY_DEVICEA d{};
    d.cb = 168;  // the members up to StateFlags
    if (!u.enum_devices(nullptr, i, &d, 0)) return false;
    if (std::strcmp(d.DeviceString, device_string.c_str()) == 0) {
      *out = d;
      return true;
    }
  }
}

// Everyone gets full access to the attach keys, so the recorder can write them.
struct EveryoneSecurity {
  PSID sid = nullptr;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  SECURITY_ATTRIBUTES sa{};
  bool ok = false;
  EveryoneSecurity() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) return;
    EXPLICIT_ACCESSA ea{};
    ea.grfAccessPermissions = KEY_ALL_ACCESS;
    ea.grfAccessMode = SET_ACCESS;
    ea.grfInheritance = NO_INHERITANCE;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    ea.Trustee.ptstrName = static_cast<LPSTR>(sid);
    if (SetEntriesInAclA(1, &ea, nullptr, &acl) != ERROR_SUCCESS) return;
    sd = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (sd == nullptr || !InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE)) {
      return;
    }
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = sd;
    sa.bInheritHandle = FALSE;
    ok = true;
  }
  ~EveryoneSecurity() {
    if (sd) LocalFree(sd);
    if (acl) LocalFree(acl);
    if (sid) FreeSid(sid);
  }
};

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
  User32 u;
  DISPLAY_DEVICEA d;
  return FindDevice(u, device_string, &d);
}

// The Win32 side of attaching: the display devices, the registry value, the
// display settings (changed on the input desktop) and the driver's context.
class QuarnMirror::Steps : public DisplayAttachSteps {
 public:
  explicit Steps(QuarnMirror* m) : m_(m) {}

  bool FindDevice(std::string* device_name) override {
    DISPLAY_DEVICEA device;
    if (!FindDevice_(u_, m_->device_string_, &device)) return false;
    *device_name = device.DeviceName;
    return true;
  }

  bool WriteAttachValue(const std::string& device_name, bool attach) override {
    std::string upper = device_name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t at = upper.find("\\DEVICE");
    const std::string subkey = at == std::string::npos ? "DEVICE0" : upper.substr(at + 1);
    EveryoneSecurity security;
    if (!security.ok) return false;
    const std::string path =
        "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Services\\" +
        m_->service_;
    HKEY service_key = nullptr, device_key = nullptr;
    DWORD disposition = 0;
    bool written = false;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS, &security.sa,
                        &service_key, &disposition) == ERROR_SUCCESS) {
      RegSetKeySecurity(service_key, DACL_SECURITY_INFORMATION, security.sd);
      if (RegCreateKeyExA(service_key, subkey.c_str(), 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS, &security.sa,
                          &device_key, &disposition) == ERROR_SUCCESS) {
        RegSetKeySecurity(device_key, DACL_SECURITY_INFORMATION, security.sd);
        const DWORD value = attach ? 1 : 0;
        written = RegSetValueExA(device_key, "Attach.ToDesktop", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof(value)) == ERROR_SUCCESS;
        RegCloseKey(device_key);
      }
      RegCloseKey(service_key);
    }
    return written;
  }

  bool ApplySettings(const std::string& device_name) override {
    if (u_.change_settings == nullptr) return false;
    DEVMODEA mode{};
    mode.dmSize = 156;
    mode.dmDriverExtra = 0;
    if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return false;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    std::strncpy(reinterpret_cast<char*>(mode.dmDeviceName), m_->service_.c_str(), sizeof(mode.dmDeviceName) - 1);
    HDESK saved = GetThreadDesktop(GetCurrentThreadId());
    HDESK input = nullptr;
    if (saved != nullptr) {
      input = OpenInputDesktop(0, FALSE, MAXIMUM_ALLOWED);
      if (input != nullptr) SetThreadDesktop(input);
    }
    const bool changed =
        u_.change_settings(device_name.c_str(), &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET, nullptr) ==
            DISP_CHANGE_SUCCESSFUL &&
        u_.change_settings(nullptr, nullptr, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL;
    if (saved != nullptr) SetThreadDesktop(saved);
    if (input != nullptr) CloseDesktop(input);
    return changed;
  }

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
  static bool FindDevice_(const User32& u, const std::string& s, DISPLAY_DEVICEA* out) {
    return platform::FindDevice(u, s, out);
  }
  QuarnMirror* m_;
  User32 u_;
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

#include "platform/mirror/win/polling_mirror.h"

namespace kmr::platform {

namespace {

// The screen copies hold no pointer; the system draws it in.
std::unique_ptr<Mirror> PollingMirrorWithPointer() {
  auto polling = std::make_unique<PollingMirror>();
  auto pointer = std::make_unique<GdiPointerSource>(polling.get());
  return PointerCompositor::Owning(std::move(polling), std::move(pointer));
}

}  // namespace

std::unique_ptr<Mirror> CreateCaptureMirror(CaptureMethod method) {
  switch (method) {
    case CaptureMethod::kDriver:
      return std::make_unique<QuarnMirror>();
    case CaptureMethod::kPolling:
      return PollingMirrorWithPointer();
    case CaptureMethod::kAutomatic:
    default:
      if (sizeof(void*) == 4 && QuarnMirror::DeviceExists()) return std::make_unique<QuarnMirror>();
      return PollingMirrorWithPointer();
  }
}

}  // namespace kmr::platform
