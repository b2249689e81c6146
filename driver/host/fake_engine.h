/* The fake graphics engine and video miniport behind the driver on Linux, and
 * what tests use to drive it: clip objects of each kind, solid fills and
 * copies through the hooks, and the miniport's requests as they were made. */
#ifndef QUARN_FAKE_ENGINE_H
#define QUARN_FAKE_ENGINE_H

#include "driver/host/fake_winddi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A clip object with its own rectangles (banded order, as the engine keeps them). */
typedef struct FakeClip {
  CLIPOBJ obj;
  RECTL rects[256];
  ULONG count;
  ULONG next;
  ULONG direction; /* of the last enumeration started */
  ULONG enumerations;
} FakeClip;

void FakeClipTrivial(FakeClip* c);
void FakeClipRect(FakeClip* c, RECTL r);
void FakeClipComplex(FakeClip* c, const RECTL* rects, ULONG count);

/* A solid-colour brush. */
void FakeBrush(BRUSHOBJ* b, ULONG color);

/* The colours PALOBJ_cGetColors hands out. */
void FakePaletteSetColors(const ULONG* colors, ULONG count);

/* What the miniport last saw of the set-colour-registers request. */
extern BYTE g_fake_clut[1032];
extern ULONG g_fake_clut_requests;

/* The surface format the engine was asked for, and the palette it made. */
extern ULONG g_fake_last_palette_mode;
extern ULONG g_fake_last_palette_masks[3];
extern ULONG g_fake_last_palette_colors[256];
extern ULONG g_fake_last_bitmap_format;
extern FLONG g_fake_last_hooks;

/* Live miniport blocks (allocated and not released). */
ULONG FakeMiniportBlocks(void);
/* Blocks of memory not yet freed: released blocks live on while a process
 * still maps them. */
ULONG FakeLiveMemory(void);

/* Processes: the requests that follow are made by this one (1 at first). */
void FakeProcessEnter(int process);
int FakeProcessCurrent(void);
/* The process ends: its views go with its address space. */
void FakeProcessEnd(int process);
/* Views the process has (of any block). */
ULONG FakeProcessViews(int process);
/* The next count maps into a process are refused by the system. */
void FakeRefuseMaps(int count);
/* Unmaps attempted outside the view's own process. */
extern ULONG g_fake_wrong_context_unmaps;

#ifdef __cplusplus
}
#endif

#endif
