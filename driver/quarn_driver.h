/* The driver's entry points, for the host build (on Windows the platform's
 * winddi.h declares them). */
#ifndef QUARN_DRIVER_H
#define QUARN_DRIVER_H

#include "driver/quarn_ddi.h"

#ifndef _WIN32
#ifdef __cplusplus
extern "C" {
#endif
BOOL DrvEnableDriver(ULONG engine_version, ULONG size, DRVENABLEDATA* ded);
DHPDEV DrvEnablePDEV(DEVMODEW* pdm, LPWSTR log_address, ULONG pattern_count, HSURF* patterns, ULONG caps_size,
                     ULONG* caps, ULONG info_size, DEVINFO* info, HDEV hdev, LPWSTR device_name, HANDLE miniport);
void DrvCompletePDEV(DHPDEV dhpdev, HDEV hdev);
void DrvDisablePDEV(DHPDEV dhpdev);
HSURF DrvEnableSurface(DHPDEV dhpdev);
void DrvDisableSurface(DHPDEV dhpdev);
BOOL DrvSetPalette(DHPDEV dhpdev, PALOBJ* ppalo, FLONG fl, ULONG start, ULONG count);
ULONG DrvEscape(SURFOBJ* pso, ULONG code, ULONG in_size, PVOID in, ULONG out_size, PVOID out);
ULONG DrvSetPointerShape(SURFOBJ*, SURFOBJ*, SURFOBJ*, XLATEOBJ*, LONG, LONG, LONG, LONG, RECTL*, FLONG);
BOOL DrvStrokePath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX);
BOOL DrvBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*, POINTL*, ROP4);
BOOL DrvCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);
BOOL DrvTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
#ifdef __cplusplus
}
#endif
#endif

#endif
