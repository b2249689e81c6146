/* quarn: the display half of a mirror driver. The graphics engine draws into
 * a plain top-down bitmap in memory from the video miniport; after each
 * drawing operation the driver records the rectangle it touched in the change
 * ring, which the recorder maps through the escapes. */
#include "driver/quarn_ddi.h"
#include "driver/quarn_protocol.h"
#include "driver/miniport/quarn_miniport.h"

/* The largest side the driver lays a surface out for. */
#define QUARN_MAX_SIDE 16384u

typedef struct QuarnSurface QuarnSurface;

typedef struct QuarnDevice {
  HANDLE miniport;
  HDEV engine_device;
  HSURF surface_handle;
  ULONG surface_kernel;
  ULONG width, height, bits, stride;
  ULONG red_mask, green_mask, blue_mask;
  HPALETTE palette;
  ULONG palette_table[256];
  QuarnSurface* surface;
} QuarnDevice;

struct QuarnSurface {
  QuarnDevice* device;
  ULONG width, height, stride, bits;
  ULONG valid, tracking;
  HSURF handle;
  ULONG surface_exchange[4];
  ULONG ring_exchange[4];
  /* The ring as this driver made it: where its slots are found. Whoever
   * maps the ring can rewrite every word in it, so nothing read from the
   * ring ever decides where a store goes. 0: no ring. */
  ULONG ring_capacity;
};

/* No C library in kernel mode. */
static void Zero(void* p, ULONG n) {
  volatile BYTE* b = (volatile BYTE*)p;
  while (n--) *b++ = 0;
}

static void Copy(void* dst, const void* src, ULONG n) {
  volatile BYTE* d = (volatile BYTE*)dst;
  const BYTE* s = (const BYTE*)src;
  while (n--) *d++ = *s++;
}

static ULONG Min(ULONG a, ULONG b) { return a < b ? a : b; }

static void SetFace(LOGFONTW* f, const char* name, LONG height, LONG width, LONG weight, BYTE pitch, BYTE clip,
                    BYTE quality) {
  int i;
  f->lfHeight = height;
  f->lfWidth = width;
  f->lfWeight = weight;
  f->lfCharSet = ANSI_CHARSET;
  f->lfOutPrecision = OUT_DEFAULT_PRECIS;
  f->lfClipPrecision = clip;
  f->lfQuality = quality;
  f->lfPitchAndFamily = pitch;
  for (i = 0; name[i] != 0 && i < 31; ++i) f->lfFaceName[i] = (WCHAR)name[i];
  f->lfFaceName[i] = 0;
}

/* The twenty system colours at 0-9 and 246-255; a colour cube elsewhere. */
static void BuildPalette(ULONG* table) {
  static const BYTE kSystem[20][3] = {
      {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
      {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
      {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
      {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  ULONG i;
  for (i = 0; i < 256; ++i) {
    ULONG r, g, b;
    if (i < 10) {
      r = kSystem[i][0], g = kSystem[i][1], b = kSystem[i][2];
    } else if (i >= 246) {
      r = kSystem[i - 236][0], g = kSystem[i - 236][1], b = kSystem[i - 236][2];
    } else {
      r = 32 * (i % 8);
      g = 32 * ((i / 8) % 8);
      b = 64 * ((i / 64) % 4);
    }
    table[i] = r | (g << 8) | (b << 16); /* red, green, blue, flags 0 */
  }
}

static DWORD Miniport(QuarnDevice* d, DWORD code, PVOID in, DWORD in_size, PVOID out, DWORD out_size) {
  DWORD returned = 0;
  return EngDeviceIoControl(d->miniport, code, in, in_size, out, out_size, &returned);
}

/* The calling process's view of a block goes (release = 0), or the block
 * itself (release = 1: the driver's own teardown only). */
static void Unmap(QuarnDevice* d, ULONG* exchange, int release) {
  exchange[0] = release ? QUARN_UNMAP_RELEASE : 0;
  Miniport(d, QUARN_IOCTL_UNMAP_MEMORY, exchange, 16, exchange, 16);
  exchange[0] = 0;
  if (release) exchange[1] = exchange[2] = 0;
}

DHPDEV APIENTRY DrvEnablePDEV(DEVMODEW* pdm, LPWSTR log_address, ULONG pattern_count, HSURF* patterns,
                              ULONG caps_size, ULONG* caps, ULONG info_size, DEVINFO* info, HDEV hdev,
                              LPWSTR device_name, HANDLE miniport) {
  QuarnDevice* d;
  GDIINFO gi;
  DEVINFO di;
  (void)log_address;
  (void)pattern_count;
  (void)patterns;
  (void)hdev;
  (void)device_name;
  if (pdm == 0) return 0;
  /* Only the depths the surface is laid out for: any other would describe a
     bitmap larger than the miniport's memory, and the engine would draw past it. */
  if (pdm->dmBitsPerPel != 8 && pdm->dmBitsPerPel != 16 && pdm->dmBitsPerPel != 24 && pdm->dmBitsPerPel != 32) {
    return 0;
  }
  /* The mode comes from whoever changed the display settings: a size whose
     rows or bitmap would not fit the miniport's largest block (or would wrap
     the arithmetic) is refused before anything is laid out. */
  if (pdm->dmPelsWidth == 0 || pdm->dmPelsHeight == 0) return 0;
  if (pdm->dmPelsWidth > QUARN_MAX_SIDE || pdm->dmPelsHeight > QUARN_MAX_SIDE) return 0;
  if (((pdm->dmPelsWidth * (pdm->dmBitsPerPel / 8) + 3) & ~3u) > QUARN_MINIPORT_MAX_BLOCK / pdm->dmPelsHeight) return 0;
  d = (QuarnDevice*)EngAllocMem(FL_ZERO_MEMORY, sizeof(QuarnDevice), QUARN_POOL_TAG);
  if (d == 0) return 0;
  d->miniport = miniport;
  d->width = pdm->dmPelsWidth;
  d->height = pdm->dmPelsHeight;
  d->bits = pdm->dmBitsPerPel;
  if (d->bits == 16) {
    d->red_mask = 0xF800, d->green_mask = 0x07E0, d->blue_mask = 0x001F;
  } else {
    d->red_mask = 0xFF0000, d->green_mask = 0x00FF00, d->blue_mask = 0x0000FF;
  }

  Zero(&gi, sizeof(gi));
  gi.ulVersion = 0x5000;
  gi.ulTechnology = DT_RASDISPLAY;
  gi.ulHorzRes = d->width;
  gi.ulVertRes = d->height;
  gi.cBitsPixel = d->bits;
  gi.cPlanes = 1;
  gi.ulLogPixelsX = pdm->dmLogPixels;
  gi.ulLogPixelsY = pdm->dmLogPixels;
  gi.flTextCaps = TC_RA_ABLE;
  gi.ulAspectX = 36;
  gi.ulAspectY = 36;
  gi.ulAspectXY = 51;
  gi.xStyleStep = 1;
  gi.yStyleStep = 1;
  gi.denStyleStep = 3;
  gi.ciDevice.Red.x = 6700, gi.ciDevice.Red.y = 3300;
  gi.ciDevice.Green.x = 2100, gi.ciDevice.Green.y = 7100;
  gi.ciDevice.Blue.x = 1400, gi.ciDevice.Blue.y = 800;
  gi.ciDevice.AlignmentWhite.x = 3127, gi.ciDevice.AlignmentWhite.y = 3290;
  gi.ciDevice.RedGamma = gi.ciDevice.GreenGamma = gi.ciDevice.BlueGamma = 20000;
  gi.ulPrimaryOrder = 4;
  gi.ulHTPatternSize = 3;
  gi.flHTFlags = 4;
  gi.ulVRefresh = 1;
  gi.ulBltAlignment = 1;

  Zero(&di, sizeof(di));
  di.flGraphicsCaps = GCAPS_OPAQUERECT | GCAPS_LAYERED;
  SetFace(&di.lfDefaultFont, "System", 16, 7, 700, VARIABLE_PITCH, 0, 0);
  SetFace(&di.lfAnsiVarFont, "MS Sans Serif", 12, 9, 400, VARIABLE_PITCH, CLIP_STROKE_PRECIS, PROOF_QUALITY);
  SetFace(&di.lfAnsiFixFont, "Courier", 12, 9, 400, FIXED_PITCH, CLIP_STROKE_PRECIS, PROOF_QUALITY);
  di.cxDither = 8;
  di.cyDither = 8;

  switch (d->bits) {
    case 8:
      gi.ulNumColors = 20;
      gi.ulNumPalReg = 256;
      gi.ulDACRed = gi.ulDACGreen = gi.ulDACBlue = 5;
      gi.ulHTOutputFormat = HT_FORMAT_8BPP;
      di.flGraphicsCaps |= GCAPS_PALMANAGED | GCAPS_COLOR_DITHER;
      di.iDitherFormat = BMF_8BPP;
      BuildPalette(d->palette_table);
      d->palette = EngCreatePalette(PAL_INDEXED, 256, d->palette_table, 0, 0, 0);
      break;
    default:
      gi.ulNumColors = (ULONG)-1;
      gi.ulDACRed = gi.ulDACGreen = gi.ulDACBlue = 8;
      gi.ulHTOutputFormat = d->bits == 16 ? HT_FORMAT_16BPP : d->bits == 24 ? HT_FORMAT_24BPP : HT_FORMAT_32BPP;
      di.iDitherFormat = d->bits == 16 ? BMF_16BPP : d->bits == 24 ? BMF_24BPP : BMF_32BPP;
      d->palette = EngCreatePalette(PAL_BITFIELDS, 0, 0, d->red_mask, d->green_mask, d->blue_mask);
      break;
  }
  if (d->palette == 0) {
    EngFreeMem(d);
    return 0;
  }
  di.hpalDefault = d->palette;
  if (caps != 0) Copy(caps, &gi, Min(Min(caps_size, 304), sizeof(gi)));
  if (info != 0) Copy(info, &di, Min(Min(info_size, 300), sizeof(di)));
  return (DHPDEV)d;
}

void APIENTRY DrvCompletePDEV(DHPDEV dhpdev, HDEV hdev) { ((QuarnDevice*)dhpdev)->engine_device = hdev; }

void APIENTRY DrvDisablePDEV(DHPDEV dhpdev) {
  QuarnDevice* d = (QuarnDevice*)dhpdev;
  if (d == 0) return;
  if (d->palette != 0) EngDeletePalette(d->palette);
  EngFreeMem(d);
}

HSURF APIENTRY DrvEnableSurface(DHPDEV dhpdev) {
  QuarnDevice* d = (QuarnDevice*)dhpdev;
  QuarnSurface* s;
  ULONG format, bytes, size;
  HBITMAP bitmap;
  SURFOBJ* pso;
  SIZEL sizl;
  switch (d->bits) {
    case 8: format = BMF_8BPP; break;
    case 16: format = BMF_16BPP; break;
    case 24: format = BMF_24BPP; break;
    default: format = BMF_32BPP; break;
  }
  s = (QuarnSurface*)EngAllocMem(FL_ZERO_MEMORY, sizeof(QuarnSurface), QUARN_POOL_TAG);
  if (s == 0) return 0;
  s->device = d;
  bytes = d->bits / 8;
  d->stride = (d->width * bytes + 3) & ~3u;
  size = d->stride * d->height;

  s->surface_exchange[3] = size;
  Miniport(d, QUARN_IOCTL_MAP_MEMORY, s->surface_exchange, 16, s->surface_exchange, 16);
  if (s->surface_exchange[1] == 0) {
    EngFreeMem(s);
    return 0;
  }
  d->surface_kernel = s->surface_exchange[1];
  sizl.cx = (LONG)d->width;
  sizl.cy = (LONG)d->height;
  bitmap = EngCreateBitmap(sizl, (LONG)d->stride, format, BMF_TOPDOWN, QUARN_POINTER(s->surface_exchange[1]));
  if (bitmap == 0) goto fail_memory;
  s->width = d->width;
  s->height = d->height;
  s->stride = d->stride;
  s->bits = d->bits;
  s->valid = 1;
  s->tracking = 0;
  if (!EngAssociateSurface((HSURF)bitmap, d->engine_device, QUARN_HOOKS)) goto fail_bitmap;
  pso = EngLockSurface((HSURF)bitmap);
  if (pso == 0) goto fail_bitmap;
  pso->dhsurf = (DHSURF)s;
  EngUnlockSurface(pso);
  s->handle = (HSURF)bitmap;
  d->surface_handle = (HSURF)bitmap;
  d->surface = s;
  return (HSURF)bitmap;

fail_bitmap:
  EngDeleteSurface((HSURF)bitmap);
fail_memory:
  /* Give the memory back rather than leave it with the miniport. */
  Unmap(d, s->surface_exchange, 1);
  EngFreeMem(s);
  return 0;
}

static void ReleaseRing(QuarnSurface* s) {
  /* Nothing more is recorded into the ring from here on. */
  s->ring_capacity = 0;
  if (s->ring_exchange[1] != 0) {
    Unmap(s->device, s->ring_exchange, 0); /* the caller's view */
    Unmap(s->device, s->ring_exchange, 1); /* the ring */
  }
  Zero(s->ring_exchange, sizeof(s->ring_exchange));
}

void APIENTRY DrvDisableSurface(DHPDEV dhpdev) {
  QuarnDevice* d = (QuarnDevice*)dhpdev;
  QuarnSurface* s = d->surface;
  EngDeleteSurface(d->surface_handle);
  d->surface_handle = 0;
  if (s != 0) {
    ReleaseRing(s);
    /* Released whichever processes still have views of it: theirs are left
       to them, never unmapped from here. */
    Unmap(d, s->surface_exchange, 1);
    EngFreeMem(s);
    d->surface = 0;
  }
}

BOOL APIENTRY DrvAssertMode(DHPDEV dhpdev, BOOL enable) {
  (void)dhpdev;
  (void)enable;
  return TRUE;
}

ULONG APIENTRY DrvDitherColor(DHPDEV dhpdev, ULONG mode, ULONG rgb, ULONG* out) {
  (void)dhpdev;
  (void)mode;
  (void)rgb;
  (void)out;
  return 0; /* a solid colour */
}

BOOL APIENTRY DrvSetPalette(DHPDEV dhpdev, PALOBJ* ppalo, FLONG fl, ULONG start, ULONG count) {
  QuarnDevice* d = (QuarnDevice*)dhpdev;
  BYTE clut[1032];
  ULONG* entries = (ULONG*)(void*)(clut + 4);
  ULONG i;
  (void)fl;
  if (count > 256 || start > 256 || start + count > 256) return FALSE;
  Zero(clut, sizeof(clut));
  if (PALOBJ_cGetColors(ppalo, start, count, entries) < count) return FALSE;
  for (i = 0; i < count; ++i) entries[i] &= 0x00FFFFFFu; /* flags byte cleared */
  clut[0] = (BYTE)count;
  clut[1] = (BYTE)(count >> 8);
  clut[2] = (BYTE)start;
  clut[3] = (BYTE)(start >> 8);
  return Miniport(d, QUARN_IOCTL_SET_COLOR_REGISTERS, clut, sizeof(clut), 0, 0) == 0;
}

ULONG APIENTRY DrvSetPointerShape(SURFOBJ* pso, SURFOBJ* mask, SURFOBJ* color, XLATEOBJ* xlo, LONG hot_x,
                                  LONG hot_y, LONG x, LONG y, RECTL* rcl, FLONG fl) {
  (void)pso, (void)mask, (void)color, (void)xlo, (void)hot_x, (void)hot_y, (void)x, (void)y, (void)rcl, (void)fl;
  return 0; /* every shape refused: the system draws the pointer */
}

void APIENTRY DrvMovePointer(SURFOBJ* pso, LONG x, LONG y, RECTL* rcl) {
  (void)pso, (void)x, (void)y, (void)rcl;
}

void APIENTRY DrvSynchronize(DHPDEV dhpdev, RECTL* rcl) { (void)dhpdev, (void)rcl; }

/* --- Recording changes --------------------------------------------------- */

static int IntersectRect(RECTL* r, const RECTL* with) {
  if (with->left > r->left) r->left = with->left;
  if (with->top > r->top) r->top = with->top;
  if (with->right < r->right) r->right = with->right;
  if (with->bottom < r->bottom) r->bottom = with->bottom;
  return r->left < r->right && r->top < r->bottom;
}

static void AddRect(QuarnSurface* s, const RECTL* r) {
  BYTE* ring;
  const ULONG capacity = s->ring_capacity;
  const ULONG kernel = s->ring_exchange[1];
  ULONG address, sequence = 0;
  QuarnRect q;
  if (capacity == 0 || kernel == 0) return;
  ring = (BYTE*)QUARN_POINTER(kernel);
  if (ring == 0) return;
  address = kernel + 4; /* the write-sequence word */
  if (Miniport(s->device, QUARN_IOCTL_NEXT_SEQUENCE, &address, 4, &sequence, 4) != 0) return;
  q.left = r->left;
  q.top = r->top;
  q.right = r->right;
  q.bottom = r->bottom;
  /* The sequence word may hold anything: the slot is taken modulo the
     capacity this driver gave the ring, inside the block it allocated. */
  quarn_ring_store(ring, capacity, sequence, &q);
}

static QuarnSurface* Tracking(SURFOBJ* pso) {
  QuarnSurface* s;
  if (pso == 0 || pso->dhsurf == 0) return 0;
  s = (QuarnSurface*)pso->dhsurf;
  return s->valid && s->tracking ? s : 0;
}

static void RecordChange(SURFOBJ* pso, SURFOBJ* src, CLIPOBJ* pco, const RECTL* dest, const POINTL* src_point) {
  QuarnSurface* s = Tracking(pso);
  RECTL bounds;
  if (s == 0) return;
  if (s->ring_capacity == 0) return; /* no ring */
  bounds.left = 0;
  bounds.top = 0;
  bounds.right = (LONG)s->width;
  bounds.bottom = (LONG)s->height;
  if (dest != 0 && !IntersectRect(&bounds, dest)) return;
  if (pco != 0 && pco->iDComplexity != DC_TRIVIAL) {
    if (pco->iDComplexity == DC_RECT) {
      RECTL r = bounds;
      if (IntersectRect(&r, &pco->rclBounds)) AddRect(s, &r);
    } else {
      struct {
        ULONG c;
        RECTL arcl[50];
      } batch; /* 804 bytes */
      ULONG direction = CD_ANY;
      BOOL more;
      if (src == pso && dest != 0 && src_point != 0) {
        const LONG order = (dest->top - src_point->y) * 65536 + (dest->left - src_point->x);
        direction = order <= 0 ? CD_RIGHTDOWN : CD_LEFTUP;
      }
      CLIPOBJ_cEnumStart(pco, FALSE, CT_RECTANGLES, direction, 0);
      do {
        ULONG i;
        more = CLIPOBJ_bEnum(pco, sizeof(batch), (ULONG*)(void*)&batch);
        for (i = 0; i < batch.c && i < 50; ++i) {
          RECTL r = batch.arcl[i];
          if (IntersectRect(&r, &bounds)) AddRect(s, &r);
        }
      } while (more);
    }
    return;
  }
  AddRect(s, &bounds);
}

/* --- Escapes -------------------------------------------------------------- */

ULONG APIENTRY DrvEscape(SURFOBJ* pso, ULONG code, ULONG in_size, PVOID in, ULONG out_size, PVOID out) {
  QuarnSurface* s;
  QuarnDevice* d;
  if (pso == 0 || pso->dhsurf == 0) return 0;
  s = (QuarnSurface*)pso->dhsurf;
  d = s->device;
  if (d == 0 || !s->valid) return 0;
  switch (code) {
    case QUARN_ESC_QUERY_MODE: {
      ULONG mode;
      if (out == 0 || out_size < 4) return 0;
      mode = quarn_mode_word(s->width, s->height, s->bits);
      Copy(out, &mode, 4);
      return 1;
    }
    case QUARN_ESC_MAP_SURFACE: {
      const DWORD status = Miniport(d, QUARN_IOCTL_MAP_MEMORY, s->surface_exchange, 16, s->surface_exchange, 16);
      /* A mapping the system refused is reported: a zero reply and result 0. */
      const int mapped = status == 0 && s->surface_exchange[2] != 0;
      if (out != 0 && out_size == QUARN_MAPPING_REPLY_BYTES) {
        quarn_store_mapping_reply((uint8_t*)out, mapped ? s->surface_exchange[2] : 0,
                                  mapped ? s->surface_exchange[1] : 0);
      }
      return mapped ? 1 : 0;
    }
    case QUARN_ESC_UNMAP_SURFACE:
      Unmap(d, s->surface_exchange, 0); /* the caller's own view, nothing else */
      return 1;
    case QUARN_ESC_MAP_CHANGE_RING: {
      ULONG capacity;
      ULONG bytes;
      uint8_t* ring;
      if (in == 0 || in_size != 4) return 0;
      Copy(&capacity, in, 4);
      bytes = (ULONG)quarn_ring_bytes(capacity);
      if (bytes == 0) return 0; /* capacity 0: no ring, nothing divided by it */
      ReleaseRing(s);
      if (out != 0 && out_size == QUARN_MAPPING_REPLY_BYTES) quarn_store_mapping_reply((uint8_t*)out, 0, 0);
      s->ring_exchange[3] = bytes;
      if (Miniport(d, QUARN_IOCTL_MAP_MEMORY, s->ring_exchange, 16, s->ring_exchange, 16) != 0 ||
          s->ring_exchange[1] == 0) {
        Zero(s->ring_exchange, sizeof(s->ring_exchange));
        return 0;
      }
      if (Miniport(d, QUARN_IOCTL_MAP_MEMORY, s->ring_exchange, 16, s->ring_exchange, 16) != 0 ||
          s->ring_exchange[2] == 0 || (ring = (uint8_t*)QUARN_POINTER(s->ring_exchange[1])) == 0) {
        ReleaseRing(s);
        return 0;
      }
      quarn_ring_init(ring, capacity);
      s->ring_capacity = capacity; /* recording starts only now */
      if (out != 0 && out_size == QUARN_MAPPING_REPLY_BYTES) {
        quarn_store_mapping_reply((uint8_t*)out, s->ring_exchange[2], s->ring_exchange[1]);
      }
      return 1;
    }
    case QUARN_ESC_UNMAP_CHANGE_RING:
      ReleaseRing(s);
      return 1;
    case QUARN_ESC_ENABLE_TRACKING:
      s->tracking = 1;
      return 1;
    case QUARN_ESC_DISABLE_TRACKING:
      s->tracking = 0;
      return 1;
    default:
      return 0;
  }
}

/* --- Drawing hooks: the engine draws, then the change is recorded. -------- */

BOOL APIENTRY DrvStrokePath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* pbo,
                            POINTL* brush_org, LINEATTRS* la, MIX mix) {
  const BOOL r = EngStrokePath(pso, ppo, pco, pxo, pbo, brush_org, la, mix);
  RecordChange(pso, 0, pco, 0, 0);
  return r;
}

BOOL APIENTRY DrvFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* brush_org, MIX mix,
                          FLONG options) {
  const BOOL r = EngFillPath(pso, ppo, pco, pbo, brush_org, mix, options);
  RecordChange(pso, 0, pco, 0, 0);
  return r;
}

BOOL APIENTRY DrvStrokeAndFillPath(SURFOBJ* pso, PATHOBJ* ppo, CLIPOBJ* pco, XFORMOBJ* pxo, BRUSHOBJ* stroke,
                                   LINEATTRS* la, BRUSHOBJ* fill, POINTL* brush_org, MIX mix, FLONG options) {
  const BOOL r = EngStrokeAndFillPath(pso, ppo, pco, pxo, stroke, la, fill, brush_org, mix, options);
  RecordChange(pso, 0, pco, 0, 0);
  return r;
}

BOOL APIENTRY DrvBitBlt(SURFOBJ* trg, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl,
                        POINTL* src_point, POINTL* mask_point, BRUSHOBJ* pbo, POINTL* brush, ROP4 rop) {
  const BOOL r = EngBitBlt(trg, src, mask, pco, xlo, rcl, src_point, mask_point, pbo, brush, rop);
  RecordChange(trg, src, pco, rcl, src_point);
  return r;
}

BOOL APIENTRY DrvCopyBits(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl, POINTL* src_point) {
  const BOOL r = EngCopyBits(dst, src, pco, xlo, rcl, src_point);
  RecordChange(dst, src, pco, rcl, src_point);
  return r;
}

static POINTL TopLeft(const RECTL* r) {
  POINTL p;
  p.x = r ? r->left : 0;
  p.y = r ? r->top : 0;
  return p;
}

BOOL APIENTRY DrvStretchBlt(SURFOBJ* dst, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo,
                            COLORADJUSTMENT* ca, POINTL* ht_org, RECTL* rcl_dst, RECTL* rcl_src, POINTL* mask_point,
                            ULONG mode) {
  const BOOL r = EngStretchBlt(dst, src, mask, pco, xlo, ca, ht_org, rcl_dst, rcl_src, mask_point, mode);
  const POINTL p = TopLeft(rcl_src);
  RecordChange(dst, src, pco, rcl_dst, rcl_src ? &p : 0);
  return r;
}

BOOL APIENTRY DrvStretchBltROP(SURFOBJ* dst, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo,
                               COLORADJUSTMENT* ca, POINTL* ht_org, RECTL* rcl_dst, RECTL* rcl_src, POINTL* mask_point,
                               ULONG mode, BRUSHOBJ* pbo, DWORD rop) {
  const BOOL r = EngStretchBltROP(dst, src, mask, pco, xlo, ca, ht_org, rcl_dst, rcl_src, mask_point, mode, pbo, rop);
  const POINTL p = TopLeft(rcl_src);
  RecordChange(dst, src, pco, rcl_dst, rcl_src ? &p : 0);
  return r;
}

BOOL APIENTRY DrvAlphaBlend(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl_dst, RECTL* rcl_src,
                            BLENDOBJ* blend) {
  const BOOL r = EngAlphaBlend(dst, src, pco, xlo, rcl_dst, rcl_src, blend);
  const POINTL p = TopLeft(rcl_src);
  RecordChange(dst, src, pco, rcl_dst, rcl_src ? &p : 0);
  return r;
}

BOOL APIENTRY DrvTransparentBlt(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl_dst,
                                RECTL* rcl_src, ULONG trans, ULONG reserved) {
  const BOOL r = EngTransparentBlt(dst, src, pco, xlo, rcl_dst, rcl_src, trans, reserved);
  const POINTL p = TopLeft(rcl_src);
  RecordChange(dst, src, pco, rcl_dst, rcl_src ? &p : 0);
  return r;
}

BOOL APIENTRY DrvPlgBlt(SURFOBJ* trg, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo, COLORADJUSTMENT* ca,
                        POINTL* brush_org, POINTFIX* ptfx, RECTL* rcl, POINTL* ptl, ULONG mode) {
  const BOOL r = EngPlgBlt(trg, src, mask, pco, xlo, ca, brush_org, ptfx, rcl, ptl, mode);
  RecordChange(trg, src, pco, rcl, ptl);
  return r;
}

BOOL APIENTRY DrvTextOut(SURFOBJ* pso, STROBJ* pstro, FONTOBJ* pfo, CLIPOBJ* pco, RECTL* extra, RECTL* opaque,
                         BRUSHOBJ* fore, BRUSHOBJ* back, POINTL* org, MIX mix) {
  const BOOL r = EngTextOut(pso, pstro, pfo, pco, extra, opaque, fore, back, org, mix);
  RecordChange(pso, 0, pco, opaque, 0);
  return r;
}

BOOL APIENTRY DrvLineTo(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, LONG x1, LONG y1, LONG x2, LONG y2, RECTL* bounds,
                        MIX mix) {
  const BOOL r = EngLineTo(pso, pco, pbo, x1, y1, x2, y2, bounds, mix);
  RecordChange(pso, 0, pco, bounds, 0);
  return r;
}

BOOL APIENTRY DrvGradientFill(SURFOBJ* pso, CLIPOBJ* pco, XLATEOBJ* xlo, TRIVERTEX* vertex, ULONG vertices,
                              PVOID mesh, ULONG meshes, RECTL* extents, POINTL* dither_org, ULONG mode) {
  const BOOL r = EngGradientFill(pso, pco, xlo, vertex, vertices, mesh, meshes, extents, dither_org, mode);
  RecordChange(pso, 0, pco, extents, 0);
  return r;
}

/* --- The entry point ------------------------------------------------------ */

/* Through the generic function type, which any function pointer may pass. */
#define FN(f) ((PFN)(void (*)(void))(f))

static DRVFN kFunctions[] = {
    {INDEX_DrvEnablePDEV, FN(DrvEnablePDEV)},
    {INDEX_DrvCompletePDEV, FN(DrvCompletePDEV)},
    {INDEX_DrvDisablePDEV, FN(DrvDisablePDEV)},
    {INDEX_DrvEnableSurface, FN(DrvEnableSurface)},
    {INDEX_DrvDisableSurface, FN(DrvDisableSurface)},
    {INDEX_DrvAssertMode, FN(DrvAssertMode)},
    {INDEX_DrvDitherColor, FN(DrvDitherColor)},
    {INDEX_DrvStrokePath, FN(DrvStrokePath)},
    {INDEX_DrvFillPath, FN(DrvFillPath)},
    {INDEX_DrvStrokeAndFillPath, FN(DrvStrokeAndFillPath)},
    {INDEX_DrvBitBlt, FN(DrvBitBlt)},
    {INDEX_DrvCopyBits, FN(DrvCopyBits)},
    {INDEX_DrvStretchBlt, FN(DrvStretchBlt)},
    {INDEX_DrvSetPalette, FN(DrvSetPalette)},
    {INDEX_DrvTextOut, FN(DrvTextOut)},
    {INDEX_DrvEscape, FN(DrvEscape)},
    {INDEX_DrvSetPointerShape, FN(DrvSetPointerShape)},
    {INDEX_DrvMovePointer, FN(DrvMovePointer)},
    {INDEX_DrvLineTo, FN(DrvLineTo)},
    {INDEX_DrvSynchronize, FN(DrvSynchronize)},
    {INDEX_DrvGradientFill, FN(DrvGradientFill)},
    {INDEX_DrvStretchBltROP, FN(DrvStretchBltROP)},
    {INDEX_DrvPlgBlt, FN(DrvPlgBlt)},
    {INDEX_DrvAlphaBlend, FN(DrvAlphaBlend)},
    {INDEX_DrvTransparentBlt, FN(DrvTransparentBlt)},
};

BOOL APIENTRY DrvEnableDriver(ULONG engine_version, ULONG size, DRVENABLEDATA* ded) {
  (void)engine_version;
  if (ded == 0) return FALSE;
  if (size >= 4) ded->iDriverVersion = DDI_DRIVER_VERSION_NT5;
  if (size >= 8) ded->c = sizeof(kFunctions) / sizeof(kFunctions[0]);
  if (size >= 12) ded->pdrvfn = kFunctions;
  return TRUE;
}
