#include "platform/mirror/x11/x11_mirror.h"
#include "platform/x11/x11_connection.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>
#include <vector>

#include "driver/quarn_protocol.h"
#include "platform/mirror/x11/x11_pointer.h"
#include "shared/plane.h"

namespace kmr::platform {

struct X11Mirror::Impl {
  Display* dpy = nullptr;
  Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  int damage_event = 0, damage_error = 0;
  Damage damage = 0;
  XserverRegion region = 0;
  XShmSegmentInfo shm{};
  bool shm_attached = false;
  int32_t width = 0, height = 0;
  uint32_t bpp = 0;  // bytes per pixel of the surface

  Plane surface;
  bool surface_mapped = false;
  std::vector<uint32_t> ring;  // 4-byte aligned storage of the change ring
  bool tracking = false;

  uint8_t* Ring() { return ring.empty() ? nullptr : reinterpret_cast<uint8_t*>(ring.data()); }

  void Report(const Rect& r) {
    if (!tracking || ring.empty() || r.IsEmpty()) return;
    QuarnRect q{r.left, r.top, r.right, r.bottom};
    quarn_ring_add(Ring(), &q);
  }

  // Reads a rectangle of the root window into the surface.
  bool Read(const Rect& in) {
    if (XConnectionLost()) return false;
    const Rect r = Intersect(in, Rect{0, 0, width, height});
    if (r.IsEmpty()) return true;
    XImage* img = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, shm.shmaddr, &shm,
                                  static_cast<unsigned>(r.Width()), static_cast<unsigned>(r.Height()));
    if (img == nullptr) return false;
    const bool ok = XShmGetImage(dpy, root, img, r.left, r.top, AllPlanes) != 0;
    if (ok) {
      const size_t n = static_cast<size_t>(r.Width()) * bpp;
      for (int32_t y = 0; y < r.Height(); ++y) {
        std::memcpy(surface.view().At(r.left, r.top + y), img->data + static_cast<size_t>(y) * img->bytes_per_line,
                    n);
      }
    }
    img->data = nullptr;  // the shared segment is ours, not the image's
    XDestroyImage(img);
    return ok;
  }

  void Close() {
    if (dpy == nullptr) return;
    if (XConnectionLost()) {
      // The server is gone: the connection is left as it is (asking it
      // anything now may never return); only the memory is ours to free.
      if (shm.shmaddr) shmdt(shm.shmaddr);
      dpy = nullptr;
      damage = 0;
      region = 0;
      shm = XShmSegmentInfo{};
      shm_attached = false;
      return;
    }
    if (damage) XDamageDestroy(dpy, damage);
    if (region) XFixesDestroyRegion(dpy, region);
    if (shm_attached) XShmDetach(dpy, &shm);
    if (shm.shmaddr) shmdt(shm.shmaddr);
    XCloseDisplay(dpy);
    dpy = nullptr;
    damage = 0;
    region = 0;
    shm = XShmSegmentInfo{};
    shm_attached = false;
  }
};

X11Mirror::X11Mirror(std::string display) : impl_(std::make_unique<Impl>()), display_(std::move(display)) {}

X11Mirror::~X11Mirror() { Detach(); }

bool X11Mirror::Attach() {
  Impl& m = *impl_;
  if (m.dpy != nullptr) return true;
  m.dpy = OpenXConnection(display_);
  if (m.dpy == nullptr) {
    error_ = "cannot open the X display";
    return false;
  }
  const int screen = DefaultScreen(m.dpy);
  m.root = RootWindow(m.dpy, screen);
  m.visual = DefaultVisual(m.dpy, screen);
  m.depth = DefaultDepth(m.dpy, screen);
  m.width = DisplayWidth(m.dpy, screen);
  m.height = DisplayHeight(m.dpy, screen);
  int fixes_event = 0, fixes_error = 0;
  if (!XDamageQueryExtension(m.dpy, &m.damage_event, &m.damage_error) ||
      !XFixesQueryExtension(m.dpy, &fixes_event, &fixes_error) || !XShmQueryExtension(m.dpy)) {
    error_ = "the X server lacks DAMAGE, XFIXES or MIT-SHM";
    m.Close();
    return false;
  }
  if (m.depth == 24 || m.depth == 32) {
    m.bpp = 4;
  } else if (m.depth == 16) {
    m.bpp = 2;
  } else {
    error_ = "unsupported X display depth " + std::to_string(m.depth);
    m.Close();
    return false;
  }
  // One shared segment large enough for a full-screen read; every read uses it.
  const size_t bytes = static_cast<size_t>(m.width) * m.height * m.bpp + 4096;
  m.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (m.shm.shmid < 0) {
    error_ = "cannot create a shared memory segment";
    m.Close();
    return false;
  }
  m.shm.shmaddr = static_cast<char*>(shmat(m.shm.shmid, nullptr, 0));
  shmctl(m.shm.shmid, IPC_RMID, nullptr);  // gone once both sides detach
  if (m.shm.shmaddr == reinterpret_cast<char*>(-1)) {
    m.shm.shmaddr = nullptr;
    error_ = "cannot attach the shared memory segment";
    m.Close();
    return false;
  }
  m.shm.readOnly = False;
  m.shm_attached = XShmAttach(m.dpy, &m.shm) != 0;
  m.region = XFixesCreateRegion(m.dpy, nullptr, 0);
  m.damage = XDamageCreate(m.dpy, m.root, XDamageReportNonEmpty);
  XSync(m.dpy, False);
  if (!m.shm_attached || m.damage == 0) {
    error_ = "cannot set up damage tracking";
    m.Close();
    return false;
  }
  return true;
}

void X11Mirror::Detach() {
  UnmapChangeRing();
  UnmapSurface();
  impl_->Close();
}

bool X11Mirror::MapSurface(uint8_t** bits, SurfaceFormat* format) {
  Impl& m = *impl_;
  if (m.dpy == nullptr) return false;
  if (!m.surface_mapped) {
    m.surface.Reset(m.width, m.height, m.bpp);
    m.surface_mapped = true;
  }
  *bits = m.surface.data();
  *format = SurfaceFormat{};
  format->width = m.width;
  format->height = m.height;
  format->bits_per_pixel = m.bpp * 8;
  format->stride = m.surface.view().stride;
  if (m.bpp == 2) {
    format->bit_fields = true;
    format->masks[0] = 0xF800;
    format->masks[1] = 0x07E0;
    format->masks[2] = 0x001F;
  }
  return true;
}

void X11Mirror::UnmapSurface() {
  impl_->surface.Free();
  impl_->surface_mapped = false;
}

bool X11Mirror::MapChangeRing(uint32_t capacity, uint8_t** ring) {
  const size_t n = quarn_ring_bytes(capacity);
  if (n == 0 || impl_->dpy == nullptr) return false;
  impl_->ring.assign(n / 4 + 1, 0);
  quarn_ring_init(impl_->Ring(), capacity);
  *ring = impl_->Ring();
  return true;
}

void X11Mirror::UnmapChangeRing() {
  impl_->ring.clear();
  impl_->tracking = false;
}

bool X11Mirror::EnableTracking() {
  if (impl_->dpy == nullptr) return false;
  impl_->tracking = true;
  return true;
}

ScreenMetrics X11Mirror::Screen() {
  Impl& m = *impl_;
  if (m.dpy == nullptr) return {};
  if (XConnectionLost()) return {m.width, m.height, m.bpp * 8};
  XWindowAttributes a;
  if (!XGetWindowAttributes(m.dpy, m.root, &a)) return {m.width, m.height, m.bpp * 8};
  return {a.width, a.height, m.bpp * 8};
}

bool X11Mirror::SeedFromScreen(const Rect& r) {
  Impl& m = *impl_;
  if (m.dpy == nullptr || !m.surface_mapped || XConnectionLost()) return false;
  // What the server had damaged so far is part of this copy.
  XDamageSubtract(m.dpy, m.damage, None, None);
  if (!m.Read(r)) return false;
  m.Report(Intersect(r, Rect{0, 0, m.width, m.height}));
  return true;
}

bool X11Mirror::FillBlack(const Rect& in) {
  Impl& m = *impl_;
  if (!m.surface_mapped) return false;
  const Rect r = Intersect(in, Rect{0, 0, m.width, m.height});
  for (int32_t y = r.top; y < r.bottom; ++y) {
    std::memset(m.surface.view().At(r.left, y), 0, static_cast<size_t>(r.Width()) * m.bpp);
  }
  m.Report(r);
  return true;
}

void X11Mirror::Update() {
  Impl& m = *impl_;
  if (m.dpy == nullptr || !m.surface_mapped || XConnectionLost()) return;
  // Damage notifications only say that there is damage; the region is what counts.
  while (XPending(m.dpy) > 0) {
    XEvent e;
    XNextEvent(m.dpy, &e);
  }
  XDamageSubtract(m.dpy, m.damage, None, m.region);
  int count = 0;
  XRectangle* boxes = XFixesFetchRegion(m.dpy, m.region, &count);
  std::vector<Rect> damaged;
  uint64_t area = 0;
  for (int i = 0; i < count; ++i) {
    const Rect r{boxes[i].x, boxes[i].y, boxes[i].x + boxes[i].width, boxes[i].y + boxes[i].height};
    damaged.push_back(r);
    area += static_cast<uint64_t>(r.Width()) * r.Height();
  }
  if (boxes) XFree(boxes);


  // Large damage is read in one piece.
  if (area * 2 > static_cast<uint64_t>(m.width) * m.height) {
    const Rect all{0, 0, m.width, m.height};
    if (m.Read(all)) m.Report(all);
  } else {
    for (const Rect& r : damaged) {
      if (m.Read(r)) m.Report(Intersect(r, Rect{0, 0, m.width, m.height}));
    }
  }
}

X11PointerSource::X11PointerSource(const std::string& display)
    : dpy_(OpenXConnection(display)) {}

X11PointerSource::~X11PointerSource() {
  if (dpy_ != nullptr && !XConnectionLost()) XCloseDisplay(static_cast<Display*>(dpy_));
}

bool X11PointerSource::Fetch(PointerImage* pointer) {
  return dpy_ != nullptr && !XConnectionLost() && FetchX11Pointer(static_cast<Display*>(dpy_), pointer);
}

}  // namespace kmr::platform
