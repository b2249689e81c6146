/* The few DirectDraw types that the platform's winddi.h names. The mirror
 * driver does no DirectDraw; these only let the header compile. */
#ifndef QUARN_COMPAT_DDRAWINT_H
#define QUARN_COMPAT_DDRAWINT_H
typedef struct _DD_SURFACE_LOCAL { int unused; } DD_SURFACE_LOCAL, *PDD_SURFACE_LOCAL;
typedef struct _DD_DIRECTDRAW_GLOBAL { int unused; } DD_DIRECTDRAW_GLOBAL, *PDD_DIRECTDRAW_GLOBAL;
typedef struct _DD_CALLBACKS { int unused; } DD_CALLBACKS, *PDD_CALLBACKS;
typedef struct _DD_SURFACECALLBACKS { int unused; } DD_SURFACECALLBACKS, *PDD_SURFACECALLBACKS;
typedef struct _DD_PALETTECALLBACKS { int unused; } DD_PALETTECALLBACKS, *PDD_PALETTECALLBACKS;
typedef struct _DD_HALINFO { int unused; } DD_HALINFO, *PDD_HALINFO;
typedef struct _VIDEOMEMORY { int unused; } VIDEOMEMORY, *LPVIDEOMEMORY;
#endif
