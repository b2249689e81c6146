// The X server's current pointer image (XFixes), as the X11 mirror draws it.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include "platform/mirror/pointer_image.h"

namespace kmr::platform {

inline bool FetchX11Pointer(Display* dpy, PointerImage* p) {
  XFixesCursorImage* c = XFixesGetCursorImage(dpy);
  if (c == nullptr) return false;
  p->x = c->x;
  p->y = c->y;
  p->hot_x = c->xhot;
  p->hot_y = c->yhot;
  p->width = c->width;
  p->height = c->height;
  p->serial = static_cast<uint32_t>(c->cursor_serial);
  p->argb.resize(static_cast<size_t>(c->width) * c->height);
  // The pixels are unsigned longs (64 bits here) holding 32-bit ARGB values.
  for (size_t i = 0; i < p->argb.size(); ++i) p->argb[i] = static_cast<uint32_t>(c->pixels[i] & 0xFFFFFFFFu);
  XFree(c);
  return true;
}

}  // namespace kmr::platform
