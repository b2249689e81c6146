#include "driver/host/fake_engine.h"

#include <stdlib.h>
#include <string.h>

/* --- Memory blocks of the fake miniport, behind 32-bit "addresses". ------- */

#define BLOCKS 24
#define BLOCK_BASE 0x10000000u
#define BLOCK_SPACING 0x08000000u

static struct {
  void* memory;
  ULONG size;
  int views;
} g_blocks[BLOCKS];

ULONG FakeMiniportBlocks(void) {
  ULONG n = 0;
  for (int i = 0; i < BLOCKS; ++i) n += g_blocks[i].memory != NULL;
  return n;
}

void* FakeMiniportPointer(ULONG address) {
  if (address < BLOCK_BASE) return NULL;
  const ULONG i = (address - BLOCK_BASE) / BLOCK_SPACING;
  const ULONG offset = (address - BLOCK_BASE) % BLOCK_SPACING;
  if (i >= BLOCKS || g_blocks[i].memory == NULL || offset >= g_blocks[i].size) return NULL;
  return (BYTE*)g_blocks[i].memory + offset;
}

static int BlockOf(ULONG address) {
  if (address < BLOCK_BASE) return -1;
  const ULONG i = (address - BLOCK_BASE) / BLOCK_SPACING;
  return i < BLOCKS && g_blocks[i].memory ? (int)i : -1;
}

BYTE g_fake_clut[1032];
ULONG g_fake_clut_requests;

DWORD EngDeviceIoControl(HANDLE device, DWORD code, PVOID in, DWORD in_size, PVOID out, DWORD out_size,
                         DWORD* returned) {
  (void)device;
  if (returned) *returned = 0;
  switch (code) {
    case 0x230458: { /* map: allocate on the first request, else map into the caller */
      if (in_size < 16 || out_size < 16) return 1;
      ULONG ex[4];
      memcpy(ex, in, 16);
      if (ex[1] == 0) {
        for (int i = 0; i < BLOCKS; ++i) {
          if (g_blocks[i].memory == NULL) {
            g_blocks[i].memory = calloc(1, ex[3] ? ex[3] : 1);
            g_blocks[i].size = ex[3];
            g_blocks[i].views = 0;
            ex[1] = BLOCK_BASE + (ULONG)i * BLOCK_SPACING;
            break;
          }
        }
      } else {
        const int i = BlockOf(ex[1]);
        if (i < 0) return 1;
        ++g_blocks[i].views;
        ex[2] = ex[1]; /* the same memory serves as the caller's view */
      }
      memcpy(out, ex, 16);
      if (returned) *returned = 16;
      return 0;
    }
    case 0x23045C: { /* unmap: drop a view; with none left, release the block */
      if (in_size < 16) return 1;
      ULONG ex[4];
      memcpy(ex, in, 16);
      const int i = BlockOf(ex[1]);
      if (i < 0) return 1;
      if (g_blocks[i].views > 0) {
        --g_blocks[i].views;
        ex[2] = 0;
      } else {
        free(g_blocks[i].memory);
        g_blocks[i].memory = NULL;
        ex[1] = ex[2] = 0;
      }
      if (out && out_size >= 16) memcpy(out, ex, 16);
      return 0;
    }
    case 0x230454: { /* the next write sequence, atomically */
      if (in_size != 4 || out_size != 4) return 1;
      ULONG address;
      memcpy(&address, in, 4);
      ULONG* word = (ULONG*)FakeMiniportPointer(address);
      if (word == NULL) return 1;
      const ULONG v = __atomic_add_fetch(word, 1u, __ATOMIC_ACQ_REL);
      memcpy(out, &v, 4);
      if (returned) *returned = 4;
      return 0;
    }
    case 0x23041C:
      if (in_size != 1032) return 1;
      memcpy(g_fake_clut, in, 1032);
      ++g_fake_clut_requests;
      return 0;
    default:
      return 1;
  }
}

/* --- Engine memory, palettes and surfaces. --------------------------------- */

PVOID EngAllocMem(ULONG flags, ULONG size, ULONG tag) {
  (void)tag;
  return (flags & FL_ZERO_MEMORY) ? calloc(1, size) : malloc(size);
}

void EngFreeMem(PVOID p) { free(p); }

ULONG g_fake_last_palette_mode;
ULONG g_fake_last_palette_masks[3];
ULONG g_fake_last_palette_colors[256];

struct FakePalette {
  ULONG mode;
};

HPALETTE EngCreatePalette(ULONG mode, ULONG count, ULONG* colors, FLONG red, FLONG green, FLONG blue) {
  g_fake_last_palette_mode = mode;
  g_fake_last_palette_masks[0] = red;
  g_fake_last_palette_masks[1] = green;
  g_fake_last_palette_masks[2] = blue;
  if (colors && count <= 256) memcpy(g_fake_last_palette_colors, colors, count * 4);
  struct FakePalette* p = (struct FakePalette*)malloc(sizeof(*p));
  p->mode = mode;
  return p;
}

BOOL EngDeletePalette(HPALETTE pal) {
  free(pal);
  return TRUE;
}

typedef struct FakeSurface {
  SURFOBJ obj;
} FakeSurface;

ULONG g_fake_last_bitmap_format;
FLONG g_fake_last_hooks;

HBITMAP EngCreateBitmap(SIZEL size, LONG width, ULONG format, FLONG flags, PVOID bits) {
  (void)flags;
  g_fake_last_bitmap_format = format;
  FakeSurface* s = (FakeSurface*)calloc(1, sizeof(FakeSurface));
  s->obj.sizlBitmap = size;
  s->obj.lDelta = width;
  s->obj.pvBits = s->obj.pvScan0 = bits;
  s->obj.iBitmapFormat = format;
  s->obj.cjBits = (ULONG)(width * size.cy);
  s->obj.hsurf = (HSURF)s;
  return (HBITMAP)s;
}

BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG hooks) {
  FakeSurface* s = (FakeSurface*)hsurf;
  s->obj.hdev = hdev;
  g_fake_last_hooks = hooks;
  return TRUE;
}

BOOL EngDeleteSurface(HSURF hsurf) {
  free(hsurf);
  return TRUE;
}

SURFOBJ* EngLockSurface(HSURF hsurf) { return hsurf ? &((FakeSurface*)hsurf)->obj : NULL; }
void EngUnlockSurface(SURFOBJ* pso) { (void)pso; }

/* --- Clip objects. ---------------------------------------------------------- */

void FakeClipTrivial(FakeClip* c) {
  memset(c, 0, sizeof(*c));
  c->obj.iDComplexity = DC_TRIVIAL;
}

void FakeClipRect(FakeClip* c, RECTL r) {
  memset(c, 0, sizeof(*c));
  c->obj.iDComplexity = DC_RECT;
  c->obj.rclBounds = r;
  c->rects[0] = r;
  c->count = 1;
}

void FakeClipComplex(FakeClip* c, const RECTL* rects, ULONG count) {
  memset(c, 0, sizeof(*c));
  c->obj.iDComplexity = DC_COMPLEX;
  if (count > 256) count = 256;
  memcpy(c->rects, rects, count * sizeof(RECTL));
  c->count = count;
  if (count) {
    RECTL b = rects[0];
    for (ULONG i = 1; i < count; ++i) {
      if (rects[i].left < b.left) b.left = rects[i].left;
      if (rects[i].top < b.top) b.top = rects[i].top;
      if (rects[i].right > b.right) b.right = rects[i].right;
      if (rects[i].bottom > b.bottom) b.bottom = rects[i].bottom;
    }
    c->obj.rclBounds = b;
  }
}

ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL all, ULONG type, ULONG direction, ULONG limit) {
  (void)all, (void)type, (void)limit;
  FakeClip* c = (FakeClip*)pco;
  c->next = 0;
  c->direction = direction;
  ++c->enumerations;
  return c->count;
}

BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG size, ULONG* buffer) {
  FakeClip* c = (FakeClip*)pco;
  ENUMRECTS* e = (ENUMRECTS*)buffer;
  const ULONG room = (size - sizeof(ULONG)) / sizeof(RECTL);
  e->c = 0;
  while (e->c < room && c->next < c->count) {
    /* Left-up runs the engine's list backwards. */
    const ULONG i = c->direction == CD_LEFTUP ? c->count - 1 - c->next : c->next;
    e->arcl[e->c++] = c->rects[i];
    ++c->next;
  }
  return c->next < c->count;
}

/* --- Palettes. ---------------------------------------------------------------- */

static ULONG g_palette_colors[256];
static ULONG g_palette_count;

void FakePaletteSetColors(const ULONG* colors, ULONG count) {
  g_palette_count = count > 256 ? 256 : count;
  memcpy(g_palette_colors, colors, g_palette_count * 4);
}

ULONG PALOBJ_cGetColors(PALOBJ* ppalo, ULONG start, ULONG count, ULONG* out) {
  (void)ppalo;
  ULONG n = 0;
  for (; n < count && start + n < g_palette_count; ++n) out[n] = g_palette_colors[start + n];
  return n;
}

/* --- Drawing: solid fills and copies really draw; the rest only report. ----- */

void FakeBrush(BRUSHOBJ* b, ULONG color) {
  memset(b, 0, sizeof(*b));
  b->iSolidColor = color;
}

static ULONG Bpp(const SURFOBJ* s) {
  switch (s->iBitmapFormat) {
    case BMF_8BPP: return 1;
    case BMF_16BPP: return 2;
    case BMF_24BPP: return 3;
    default: return 4;
  }
}

static int Clip(RECTL* r, const RECTL* c) {
  if (c->left > r->left) r->left = c->left;
  if (c->top > r->top) r->top = c->top;
  if (c->right < r->right) r->right = c->right;
  if (c->bottom < r->bottom) r->bottom = c->bottom;
  return r->left < r->right && r->top < r->bottom;
}

/* Calls draw for each part of the target inside the surface and the clip. */
static void ForEachPart(SURFOBJ* trg, CLIPOBJ* pco, const RECTL* target, void (*draw)(void*, const RECTL*),
                        void* ctx) {
  RECTL bounds = {0, 0, trg->sizlBitmap.cx, trg->sizlBitmap.cy};
  RECTL t = *target;
  if (!Clip(&t, &bounds)) return;
  if (pco == NULL || pco->iDComplexity == DC_TRIVIAL) {
    draw(ctx, &t);
    return;
  }
  FakeClip* c = (FakeClip*)pco;
  for (ULONG i = 0; i < c->count; ++i) {
    RECTL r = t;
    if (Clip(&r, &c->rects[i])) draw(ctx, &r);
  }
}

typedef struct {
  SURFOBJ* trg;
  ULONG color;
} FillCtx;

static void FillPart(void* p, const RECTL* r) {
  FillCtx* f = (FillCtx*)p;
  const ULONG bpp = Bpp(f->trg);
  for (LONG y = r->top; y < r->bottom; ++y) {
    BYTE* row = (BYTE*)f->trg->pvScan0 + (size_t)y * f->trg->lDelta;
    for (LONG x = r->left; x < r->right; ++x) memcpy(row + (size_t)x * bpp, &f->color, bpp);
  }
}

typedef struct {
  SURFOBJ* trg;
  SURFOBJ* src;
  LONG dx, dy; /* source = target + (dx, dy) */
  BYTE* scratch;
} CopyCtx;

static void CopyPart(void* p, const RECTL* r) {
  CopyCtx* c = (CopyCtx*)p;
  const ULONG bpp = Bpp(c->trg);
  const size_t n = (size_t)(r->right - r->left) * bpp;
  /* Through a scratch copy of the whole part, so overlapping copies are right. */
  BYTE* tmp = (BYTE*)malloc(n * (size_t)(r->bottom - r->top) + 1);
  for (LONG y = r->top; y < r->bottom; ++y) {
    const BYTE* s = (BYTE*)c->src->pvScan0 + (size_t)(y + c->dy) * c->src->lDelta + (size_t)(r->left + c->dx) * bpp;
    memcpy(tmp + (size_t)(y - r->top) * n, s, n);
  }
  for (LONG y = r->top; y < r->bottom; ++y) {
    BYTE* d = (BYTE*)c->trg->pvScan0 + (size_t)y * c->trg->lDelta + (size_t)r->left * bpp;
    memcpy(d, tmp + (size_t)(y - r->top) * n, n);
  }
  free(tmp);
}

BOOL EngBitBlt(SURFOBJ* trg, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl, POINTL* src_point,
               POINTL* mask_point, BRUSHOBJ* pbo, POINTL* brush, ROP4 rop) {
  (void)mask, (void)xlo, (void)mask_point, (void)brush, (void)rop;
  if (trg == NULL || rcl == NULL) return FALSE;
  if (src != NULL && src_point != NULL) {
    CopyCtx c = {trg, src, src_point->x - rcl->left, src_point->y - rcl->top, NULL};
    /* Only the part whose source lies inside the source surface is drawn. */
    RECTL inside = {-c.dx, -c.dy, src->sizlBitmap.cx - c.dx, src->sizlBitmap.cy - c.dy};
    RECTL t = *rcl;
    if (!Clip(&t, &inside)) return TRUE;
    ForEachPart(trg, pco, &t, CopyPart, &c);
  } else if (pbo != NULL) {
    FillCtx f = {trg, pbo->iSolidColor};
    ForEachPart(trg, pco, rcl, FillPart, &f);
  }
  return TRUE;
}

BOOL EngCopyBits(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* rcl, POINTL* src_point) {
  return EngBitBlt(dst, src, NULL, pco, xlo, rcl, src_point, NULL, NULL, NULL, 0xCCCC);
}

BOOL EngStrokePath(SURFOBJ* a, PATHOBJ* b, CLIPOBJ* c, XFORMOBJ* d, BRUSHOBJ* e, POINTL* f, LINEATTRS* g, MIX h) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h;
  return TRUE;
}
BOOL EngFillPath(SURFOBJ* a, PATHOBJ* b, CLIPOBJ* c, BRUSHOBJ* d, POINTL* e, MIX f, FLONG g) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g;
  return TRUE;
}
BOOL EngStrokeAndFillPath(SURFOBJ* a, PATHOBJ* b, CLIPOBJ* c, XFORMOBJ* d, BRUSHOBJ* e, LINEATTRS* f, BRUSHOBJ* g,
                          POINTL* h, MIX i, FLONG j) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j;
  return TRUE;
}
BOOL EngStretchBlt(SURFOBJ* a, SURFOBJ* b, SURFOBJ* c, CLIPOBJ* d, XLATEOBJ* e, COLORADJUSTMENT* f, POINTL* g,
                   RECTL* h, RECTL* i, POINTL* j, ULONG k) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j, (void)k;
  return TRUE;
}
BOOL EngStretchBltROP(SURFOBJ* a, SURFOBJ* b, SURFOBJ* c, CLIPOBJ* d, XLATEOBJ* e, COLORADJUSTMENT* f, POINTL* g,
                      RECTL* h, RECTL* i, POINTL* j, ULONG k, BRUSHOBJ* l, DWORD m) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j, (void)k, (void)l, (void)m;
  return TRUE;
}
BOOL EngTextOut(SURFOBJ* a, STROBJ* b, FONTOBJ* c, CLIPOBJ* d, RECTL* e, RECTL* f, BRUSHOBJ* g, BRUSHOBJ* h,
                POINTL* i, MIX j) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j;
  return TRUE;
}
BOOL EngLineTo(SURFOBJ* a, CLIPOBJ* b, BRUSHOBJ* c, LONG d, LONG e, LONG f, LONG g, RECTL* h, MIX i) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i;
  return TRUE;
}
BOOL EngGradientFill(SURFOBJ* a, CLIPOBJ* b, XLATEOBJ* c, TRIVERTEX* d, ULONG e, PVOID f, ULONG g, RECTL* h,
                     POINTL* i, ULONG j) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j;
  return TRUE;
}
BOOL EngPlgBlt(SURFOBJ* a, SURFOBJ* b, SURFOBJ* c, CLIPOBJ* d, XLATEOBJ* e, COLORADJUSTMENT* f, POINTL* g,
               POINTFIX* h, RECTL* i, POINTL* j, ULONG k) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h, (void)i, (void)j, (void)k;
  return TRUE;
}
BOOL EngAlphaBlend(SURFOBJ* a, SURFOBJ* b, CLIPOBJ* c, XLATEOBJ* d, RECTL* e, RECTL* f, BLENDOBJ* g) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g;
  return TRUE;
}
BOOL EngTransparentBlt(SURFOBJ* a, SURFOBJ* b, CLIPOBJ* c, XLATEOBJ* d, RECTL* e, RECTL* f, ULONG g, ULONG h) {
  (void)a, (void)b, (void)c, (void)d, (void)e, (void)f, (void)g, (void)h;
  return TRUE;
}
