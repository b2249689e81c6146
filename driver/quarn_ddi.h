/* The display driver interface as the driver sees it: the platform's own
 * headers in the Windows build, a fake graphics engine on Linux. */
#ifndef QUARN_DDI_H
#define QUARN_DDI_H

#ifdef _WIN32
#include <windef.h>
#include <wingdi.h>
#include <winddi.h>
/* Kernel addresses in the miniport's memory exchange are 32-bit words: this
 * driver is built for 32-bit Windows only. */
#define QUARN_POINTER(address) ((void*)(ULONG_PTR)(address))
#else
#include "driver/host/fake_winddi.h"
#define QUARN_POINTER(address) FakeMiniportPointer(address)
#endif

/* Requests to the video miniport. */
#define QUARN_IOCTL_MAP_MEMORY 0x230458u
#define QUARN_IOCTL_UNMAP_MEMORY 0x23045Cu
#define QUARN_IOCTL_NEXT_SEQUENCE 0x230454u
#define QUARN_IOCTL_SET_COLOR_REGISTERS 0x23041Cu

#define QUARN_HOOKS 0x3B5EFu
#define QUARN_POOL_TAG 0x6E617571u /* 'quan' */

#endif
