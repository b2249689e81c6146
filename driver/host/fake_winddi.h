/* The part of the display driver interface that the mirror driver uses, for
 * building the driver's own sources on Linux against a fake graphics engine.
 * Names and constant values are the interface's; layouts are this fake's. */
#ifndef QUARN_FAKE_WINDDI_H
#define QUARN_FAKE_WINDDI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define APIENTRY
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef BOOL WINBOOL;
typedef uint32_t ULONG, DWORD, FLONG, MIX, ROP4;
typedef int32_t LONG;
typedef uint16_t USHORT, WCHAR;
typedef uint8_t BYTE;
typedef uintptr_t ULONG_PTR;
typedef void* PVOID;
typedef void* HANDLE;
typedef WCHAR* LPWSTR;
typedef struct FakeHdev* HDEV;
typedef struct FakeDhpdev* DHPDEV;
typedef struct FakeDhsurf* DHSURF;
typedef struct FakeHsurf* HSURF;
typedef struct FakeHsurf* HBITMAP;
typedef struct FakePalette* HPALETTE;
typedef LONG (*PFN)(void);

typedef struct _RECTL { LONG left, top, right, bottom; } RECTL, *PRECTL;
typedef struct _POINTL { LONG x, y; } POINTL, *PPOINTL;
typedef struct _POINTFIX { LONG x, y; } POINTFIX;
typedef struct _SIZEL { LONG cx, cy; } SIZEL;

typedef struct _DEVMODEW {
  WCHAR dmDeviceName[32];
  USHORT dmLogPixels;
  ULONG dmBitsPerPel;
  ULONG dmPelsWidth;
  ULONG dmPelsHeight;
} DEVMODEW;

typedef struct _CIECHROMA { LONG x, y, Y; } CIECHROMA;
typedef struct _COLORINFO {
  CIECHROMA Red, Green, Blue, Cyan, Magenta, Yellow, AlignmentWhite;
  LONG RedGamma, GreenGamma, BlueGamma;
  LONG MagentaInCyanDye, YellowInCyanDye, CyanInMagentaDye, YellowInMagentaDye, CyanInYellowDye,
      MagentaInYellowDye;
} COLORINFO;

typedef struct _GDIINFO {
  ULONG ulVersion, ulTechnology, ulHorzSize, ulVertSize, ulHorzRes, ulVertRes, cBitsPixel, cPlanes,
      ulNumColors, flRaster, ulLogPixelsX, ulLogPixelsY, flTextCaps, ulDACRed, ulDACGreen, ulDACBlue,
      ulAspectX, ulAspectY, ulAspectXY;
  LONG xStyleStep, yStyleStep, denStyleStep;
  POINTL ptlPhysOffset;
  SIZEL szlPhysSize;
  ULONG ulNumPalReg;
  COLORINFO ciDevice;
  ULONG ulDevicePelsDPI, ulPrimaryOrder, ulHTPatternSize, ulHTOutputFormat, flHTFlags, ulVRefresh,
      ulBltAlignment, ulPanningHorzRes, ulPanningVertRes;
} GDIINFO;

typedef struct _LOGFONTW {
  LONG lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
  BYTE lfItalic, lfUnderline, lfStrikeOut, lfCharSet, lfOutPrecision, lfClipPrecision, lfQuality,
      lfPitchAndFamily;
  WCHAR lfFaceName[32];
} LOGFONTW;

typedef struct _DEVINFO {
  FLONG flGraphicsCaps;
  LOGFONTW lfDefaultFont, lfAnsiVarFont, lfAnsiFixFont;
  ULONG cFonts, iDitherFormat;
  USHORT cxDither, cyDither;
  HPALETTE hpalDefault;
} DEVINFO;

typedef struct _SURFOBJ {
  DHSURF dhsurf;
  HSURF hsurf;
  DHPDEV dhpdev;
  HDEV hdev;
  SIZEL sizlBitmap;
  ULONG cjBits;
  PVOID pvBits, pvScan0;
  LONG lDelta;
  ULONG iUniq, iBitmapFormat;
  USHORT iType, fjBitmap;
} SURFOBJ;

typedef struct _CLIPOBJ {
  ULONG iUniq;
  RECTL rclBounds;
  BYTE iDComplexity, iFComplexity, iMode, fjOptions;
} CLIPOBJ;

typedef struct _ENUMRECTS { ULONG c; RECTL arcl[1]; } ENUMRECTS;
typedef struct _BRUSHOBJ { ULONG iSolidColor; PVOID pvRbrush; FLONG flColorType; } BRUSHOBJ;
typedef struct _XLATEOBJ { ULONG iUniq; } XLATEOBJ;
typedef struct _XFORMOBJ { ULONG ulReserved; } XFORMOBJ;
typedef struct _PATHOBJ { FLONG fl; ULONG cCurves; } PATHOBJ;
typedef struct _LINEATTRS { FLONG fl; } LINEATTRS;
typedef struct _STROBJ { ULONG cGlyphs; } STROBJ;
typedef struct _FONTOBJ { ULONG iUniq; } FONTOBJ;
typedef struct _COLORADJUSTMENT { USHORT caSize; } COLORADJUSTMENT;
typedef struct _TRIVERTEX { LONG x, y; USHORT Red, Green, Blue, Alpha; } TRIVERTEX;
typedef struct _BLENDOBJ { ULONG BlendFunction; } BLENDOBJ;
typedef struct _PALOBJ { ULONG ulReserved; } PALOBJ;

typedef struct _DRVFN { ULONG iFunc; PFN pfn; } DRVFN;
typedef struct _DRVENABLEDATA { ULONG iDriverVersion; ULONG c; DRVFN* pdrvfn; } DRVENABLEDATA;

#define DDI_DRIVER_VERSION_NT5 0x00030000
#define DC_TRIVIAL 0
#define DC_RECT 1
#define DC_COMPLEX 3
#define CT_RECTANGLES 0
#define CD_RIGHTDOWN 0x00000000
#define CD_LEFTUP 0x00000003
#define CD_ANY 0x00000004
#define BMF_8BPP 3
#define BMF_16BPP 4
#define BMF_24BPP 5
#define BMF_32BPP 6
#define BMF_TOPDOWN 0x0001
#define PAL_INDEXED 0x00000001
#define PAL_BITFIELDS 0x00000002
#define FL_ZERO_MEMORY 0x00000001
#define GCAPS_COLOR_DITHER 0x00000020
#define GCAPS_OPAQUERECT 0x00000100
#define GCAPS_PALMANAGED 0x00080000
#define GCAPS_LAYERED 0x08000000
#define TC_RA_ABLE 0x00002000
#define DT_RASDISPLAY 1
#define HT_FORMAT_8BPP 4
#define HT_FORMAT_16BPP 5
#define HT_FORMAT_24BPP 6
#define HT_FORMAT_32BPP 7
#define VARIABLE_PITCH 2
#define FIXED_PITCH 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_STROKE_PRECIS 2
#define PROOF_QUALITY 2
#define ANSI_CHARSET 0

#define INDEX_DrvEnablePDEV 0
#define INDEX_DrvCompletePDEV 1
#define INDEX_DrvDisablePDEV 2
#define INDEX_DrvEnableSurface 3
#define INDEX_DrvDisableSurface 4
#define INDEX_DrvAssertMode 5
#define INDEX_DrvDitherColor 13
#define INDEX_DrvStrokePath 14
#define INDEX_DrvFillPath 15
#define INDEX_DrvStrokeAndFillPath 16
#define INDEX_DrvBitBlt 18
#define INDEX_DrvCopyBits 19
#define INDEX_DrvStretchBlt 20
#define INDEX_DrvSetPalette 22
#define INDEX_DrvTextOut 23
#define INDEX_DrvEscape 24
#define INDEX_DrvSetPointerShape 29
#define INDEX_DrvMovePointer 30
#define INDEX_DrvLineTo 31
#define INDEX_DrvSynchronize 38
#define INDEX_DrvGradientFill 68
#define INDEX_DrvStretchBltROP 69
#define INDEX_DrvPlgBlt 70
#define INDEX_DrvAlphaBlend 71
#define INDEX_DrvTransparentBlt 74

/* The graphics engine (fake). */
PVOID EngAllocMem(ULONG flags, ULONG size, ULONG tag);
void EngFreeMem(PVOID p);
HPALETTE EngCreatePalette(ULONG mode, ULONG count, ULONG* colors, FLONG red, FLONG green, FLONG blue);
BOOL EngDeletePalette(HPALETTE pal);
HBITMAP EngCreateBitmap(SIZEL size, LONG width, ULONG format, FLONG flags, PVOID bits);
BOOL EngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG hooks);
BOOL EngDeleteSurface(HSURF hsurf);
SURFOBJ* EngLockSurface(HSURF hsurf);
void EngUnlockSurface(SURFOBJ* pso);
DWORD EngDeviceIoControl(HANDLE device, DWORD code, PVOID in, DWORD in_size, PVOID out, DWORD out_size,
                         DWORD* returned);
ULONG CLIPOBJ_cEnumStart(CLIPOBJ* pco, BOOL all, ULONG type, ULONG direction, ULONG limit);
BOOL CLIPOBJ_bEnum(CLIPOBJ* pco, ULONG size, ULONG* buffer);
ULONG PALOBJ_cGetColors(PALOBJ* ppalo, ULONG start, ULONG count, ULONG* out);

BOOL EngStrokePath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX);
BOOL EngFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG);
BOOL EngStrokeAndFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*, BRUSHOBJ*, POINTL*,
                          MIX, FLONG);
BOOL EngBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*, POINTL*, BRUSHOBJ*, POINTL*,
               ROP4);
BOOL EngCopyBits(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, POINTL*);
BOOL EngStretchBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*, RECTL*,
                   POINTL*, ULONG);
BOOL EngStretchBltROP(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, RECTL*,
                      RECTL*, POINTL*, ULONG, BRUSHOBJ*, DWORD);
BOOL EngTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*, POINTL*, MIX);
BOOL EngLineTo(SURFOBJ*, CLIPOBJ*, BRUSHOBJ*, LONG, LONG, LONG, LONG, RECTL*, MIX);
BOOL EngGradientFill(SURFOBJ*, CLIPOBJ*, XLATEOBJ*, TRIVERTEX*, ULONG, PVOID, ULONG, RECTL*, POINTL*, ULONG);
BOOL EngPlgBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*, POINTL*, POINTFIX*, RECTL*,
               POINTL*, ULONG);
BOOL EngAlphaBlend(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, BLENDOBJ*);
BOOL EngTransparentBlt(SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL*, RECTL*, ULONG, ULONG);

/* The fake miniport's 32-bit "addresses" and the memory behind them. */
void* FakeMiniportPointer(ULONG address);

#ifdef __cplusplus
}
#endif

#endif
