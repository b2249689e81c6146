#include "driver/host/fake_engine.h"

#include "driver/miniport/quarn_miniport.h"

#include <stdlib.h>
#include <string.h>

/* --- The miniport: its own request code over host memory and processes. --
 * Kernel blocks and process views live behind 32-bit "addresses": a kernel
 * address reaches its block from any process, a view only from the process
 * that mapped it. Memory is freed when the block is released and no process
 * maps it any more, so a store into memory the driver gave up is a
 * use-after-free that AddressSanitizer reports. */

#define REGIONS 96
#define KERNEL_BASE 0x10000000u
#define USER_BASE 0x80000000u
#define PROCESSES 1024

typedef struct FakeMemory {
  BYTE* bytes;
  ULONG size;
  int refs; /* the kernel's block and each process view */
} FakeMemory;

typedef struct FakeRegion {
  FakeMemory* memory; /* NULL: free entry */
  ULONG address;
  int process; /* 0: kernel */
} FakeRegion;

typedef struct FakeView {
  int region;
  int process;
} FakeView;

static FakeRegion g_regions[REGIONS];
static ULONG g_next_kernel = KERNEL_BASE, g_next_user = USER_BASE;
static int g_process = 1;
static int g_ended[PROCESSES];
static int g_refusals;
static ULONG g_live_memory;
ULONG g_fake_wrong_context_unmaps;

static void Unref(FakeMemory* m) {
  if (--m->refs > 0) return;
  free(m->bytes);
  free(m);
  --g_live_memory;
}

static int AddRegion(FakeMemory* m, int process) {
  const ULONG span = (m->size + 0xFFFFu) & ~0xFFFFu;
  ULONG* next = process == 0 ? &g_next_kernel : &g_next_user;
  for (int i = 0; i < REGIONS; ++i) {
    if (g_regions[i].memory != NULL) continue;
    if (*next + span + 0x10000u < *next || (process == 0 && *next + span >= USER_BASE)) {
      *next = process == 0 ? KERNEL_BASE : USER_BASE; /* tests never keep that much at once */
    }
    g_regions[i].memory = m;
    g_regions[i].address = *next;
    g_regions[i].process = process;
    *next += span + 0x10000u; /* a gap: one region never runs into the next */
    ++m->refs;
    return i;
  }
  return -1;
}

static void RemoveRegion(int i) {
  FakeMemory* m = g_regions[i].memory;
  g_regions[i].memory = NULL;
  Unref(m);
}

static QuarnWord HostAllocate(void* context, QuarnWord size, void** block) {
  (void)context;
  FakeMemory* m = (FakeMemory*)calloc(1, sizeof(FakeMemory));
  if (m == NULL) return 0;
  m->bytes = (BYTE*)calloc(1, size);
  m->size = size;
  m->refs = 1;
  ++g_live_memory;
  const int r = m->bytes ? AddRegion(m, 0) : -1;
  Unref(m); /* the region holds it now */
  if (r < 0) return 0;
  *block = m->bytes;
  return g_regions[r].address;
}

/* The kernel region of a block (the memory the miniport works on). */
static int KernelRegion(void* block) {
  for (int i = 0; i < REGIONS; ++i) {
    if (g_regions[i].memory != NULL && g_regions[i].process == 0 && g_regions[i].memory->bytes == block) return i;
  }
  return -1;
}

static void HostRelease(void* context, void* block) {
  (void)context;
  const int r = KernelRegion(block);
  if (r >= 0) RemoveRegion(r);
}

static void* HostCurrentProcess(void* context) {
  (void)context;
  return (void*)(intptr_t)g_process;
}

static QuarnWord HostMap(void* context, void* block, QuarnWord size, void** view) {
  (void)context;
  (void)size;
  if (g_refusals > 0) {
    --g_refusals;
    return 0;
  }
  const int k = KernelRegion(block);
  FakeView* v = k < 0 ? NULL : (FakeView*)calloc(1, sizeof(FakeView));
  if (v == NULL) return 0;
  v->region = AddRegion(g_regions[k].memory, g_process);
  v->process = g_process;
  if (v->region < 0) {
    free(v);
    return 0;
  }
  *view = v;
  return g_regions[v->region].address;
}

static void HostUnmap(void* context, void* view) {
  (void)context;
  FakeView* v = (FakeView*)view;
  if (v->process != g_process) {
    /* Unmapping in another process's context takes whatever that address
       holds there: counted, and nothing is touched. */
    ++g_fake_wrong_context_unmaps;
  } else if (g_regions[v->region].memory != NULL && g_regions[v->region].process == v->process) {
    RemoveRegion(v->region);
  }
  free(v);
}

static int HostEnded(void* context, void* view) {
  (void)context;
  const int p = ((FakeView*)view)->process;
  return p >= 0 && p < PROCESSES && g_ended[p];
}

static void HostForget(void* context, void* view) {
  (void)context;
  free(view);
}

static QuarnWord HostIncrement(void* context, volatile QuarnWord* word) {
  (void)context;
  return __atomic_add_fetch(word, 1u, __ATOMIC_ACQ_REL);
}

static QuarnMiniport g_miniport;
static int g_miniport_ready;

static QuarnMiniport* FakeMiniport(void) {
  if (!g_miniport_ready) {
    const QuarnMemoryServices services = {0,          HostAllocate, HostRelease, HostCurrentProcess, HostMap,
                                          HostUnmap,  HostEnded,    HostForget,  HostIncrement};
    QuarnMiniportInit(&g_miniport, &services);
    g_miniport_ready = 1;
  }
  return &g_miniport;
}

ULONG FakeMiniportBlocks(void) {
  ULONG n = 0;
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) n += g_miniport.blocks[i].block != NULL;
  return n;
}

ULONG FakeLiveMemory(void) { return g_live_memory; }

void* FakeMiniportPointer(ULONG address) {
  for (int i = 0; i < REGIONS; ++i) {
    const FakeRegion* r = &g_regions[i];
    if (r->memory == NULL || (r->process != 0 && r->process != g_process)) continue;
    if (address >= r->address && address - r->address < r->memory->size) return r->memory->bytes + (address - r->address);
  }
  return NULL;
}

void FakeProcessEnter(int process) { g_process = process; }

int FakeProcessCurrent(void) { return g_process; }

void FakeProcessEnd(int process) {
  if (process <= 0 || process >= PROCESSES) return;
  g_ended[process] = 1;
  for (int i = 0; i < REGIONS; ++i) {
    if (g_regions[i].memory != NULL && g_regions[i].process == process) RemoveRegion(i);
  }
}

ULONG FakeProcessViews(int process) {
  ULONG n = 0;
  for (int i = 0; i < REGIONS; ++i) n += g_regions[i].memory != NULL && g_regions[i].process == process;
  return n;
}

void FakeRefuseMaps(int count) { g_refusals = count; }

BYTE g_fake_clut[1032];
ULONG g_fake_clut_requests;

DWORD EngDeviceIoControl(HANDLE device, DWORD code, PVOID in, DWORD in_size, PVOID out, DWORD out_size,
                         DWORD* returned) {
  unsigned n = 0;
  (void)device;
  const unsigned status = QuarnMiniportRequest(FakeMiniport(), code, in, in_size, out, out_size, &n);
  if (returned) *returned = n;
  if (status == 0 && code == 0x23041C) {
    memcpy(g_fake_clut, in, 1032);
    ++g_fake_clut_requests;
  }
  return status;
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
