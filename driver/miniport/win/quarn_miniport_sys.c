/* quarn.sys: the mirror driver's video miniport for 32-bit Windows, over
 * the video port driver. There is no hardware behind it: the adapter is
 * found whenever the system asks, and the display driver's four requests
 * are the shared miniport code over non-paged pool memory, mapped into the
 * calling process through a memory descriptor list. */
#include <ntdef.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include "driver/miniport/quarn_miniport.h"

/* What mapping pool memory into a process takes from the kernel. */
__declspec(dllimport) PVOID __stdcall IoAllocateMdl(PVOID address, ULONG length, BOOLEAN secondary,
                                                    BOOLEAN charge_quota, PVOID irp);
__declspec(dllimport) VOID __stdcall MmBuildMdlForNonPagedPool(PVOID mdl);
__declspec(dllimport) PVOID __stdcall MmMapLockedPagesSpecifyCache(PVOID mdl, CCHAR access_mode, int cache_type,
                                                                   PVOID base, ULONG bugcheck_on_failure,
                                                                   ULONG priority);
__declspec(dllimport) VOID __stdcall MmUnmapLockedPages(PVOID base, PVOID mdl);
__declspec(dllimport) VOID __stdcall IoFreeMdl(PVOID mdl);

#define QUARN_TAG 0x6E617571u /* 'quan' */
#ifndef NO_ERROR
#define NO_ERROR 0
#endif
#ifndef ERROR_NO_MORE_DEVICES
#define ERROR_NO_MORE_DEVICES 1248L
#endif
#define USER_MODE 1
#define MM_CACHED 1
#define NORMAL_PAGE_PRIORITY 16

typedef struct QuarnView {
  PVOID mdl;
  PVOID user;
} QuarnView;

static PVOID g_extension;
static QuarnMiniport g_miniport;

static QuarnWord Allocate(void* context, QuarnWord size, void** block) {
  (void)context;
  PVOID p = VideoPortAllocatePool(g_extension, VpNonPagedPool, size, QUARN_TAG);
  if (p == NULL) return 0;
  VideoPortZeroMemory(p, size);
  *block = p;
  return (QuarnWord)(ULONG_PTR)p;
}

static void Release(void* context, void* block) {
  (void)context;
  VideoPortFreePool(g_extension, block);
}

static QuarnWord MapIntoProcess(void* context, void* block, QuarnWord size, void** view) {
  (void)context;
  QuarnView* v = (QuarnView*)VideoPortAllocatePool(g_extension, VpNonPagedPool, sizeof(QuarnView), QUARN_TAG);
  if (v == NULL) return 0;
  v->mdl = IoAllocateMdl(block, size, FALSE, FALSE, NULL);
  if (v->mdl == NULL) {
    VideoPortFreePool(g_extension, v);
    return 0;
  }
  MmBuildMdlForNonPagedPool(v->mdl);
  v->user = MmMapLockedPagesSpecifyCache(v->mdl, USER_MODE, MM_CACHED, NULL, FALSE, NORMAL_PAGE_PRIORITY);
  if (v->user == NULL) {
    IoFreeMdl(v->mdl);
    VideoPortFreePool(g_extension, v);
    return 0;
  }
  *view = v;
  return (QuarnWord)(ULONG_PTR)v->user;
}

static void UnmapFromProcess(void* context, void* view) {
  (void)context;
  QuarnView* v = (QuarnView*)view;
  MmUnmapLockedPages(v->user, v->mdl);
  IoFreeMdl(v->mdl);
  VideoPortFreePool(g_extension, v);
}

static QuarnWord Increment(void* context, volatile QuarnWord* word) {
  (void)context;
  return (QuarnWord)VideoPortInterlockedIncrement((PLONG)word);
}

static VP_STATUS __stdcall FindAdapter(PVOID extension, PVOID context, PWSTR arguments,
                                       PVIDEO_PORT_CONFIG_INFO config, PUCHAR again) {
  (void)context;
  (void)arguments;
  (void)config;
  g_extension = extension;
  *again = FALSE;
  return NO_ERROR;
}

static BOOLEAN __stdcall Initialize(PVOID extension) {
  g_extension = extension;
  const QuarnMemoryServices services = {0, Allocate, Release, MapIntoProcess, UnmapFromProcess, Increment};
  QuarnMiniportInit(&g_miniport, &services);
  return TRUE;
}

static BOOLEAN __stdcall StartIo(PVOID extension, PVIDEO_REQUEST_PACKET request) {
  (void)extension;
  unsigned returned = 0;
  const unsigned status =
      QuarnMiniportRequest(&g_miniport, request->IoControlCode, request->InputBuffer, request->InputBufferLength,
                           request->OutputBuffer, request->OutputBufferLength, &returned);
  request->StatusBlock->Status = status;
  request->StatusBlock->Information = returned;
  return TRUE;
}

static VP_STATUS __stdcall GetPowerState(PVOID extension, ULONG child, PVIDEO_POWER_MANAGEMENT power) {
  (void)extension;
  (void)child;
  (void)power;
  return NO_ERROR;
}

static VP_STATUS __stdcall SetPowerState(PVOID extension, ULONG child, PVIDEO_POWER_MANAGEMENT power) {
  (void)extension;
  (void)child;
  (void)power;
  return NO_ERROR;
}

static VP_STATUS __stdcall GetChildDescriptor(PVOID extension, PVIDEO_CHILD_ENUM_INFO info, PVIDEO_CHILD_TYPE type,
                                          PUCHAR descriptor, PULONG uid, PULONG unused) {
  (void)extension;
  (void)info;
  (void)type;
  (void)descriptor;
  (void)uid;
  (void)unused;
  return VIDEO_ENUM_NO_MORE_DEVICES;
}

ULONG __stdcall DriverEntry(PVOID driver_object, PVOID registry_path) {
  VIDEO_HW_INITIALIZATION_DATA data;
  VideoPortZeroMemory(&data, sizeof(data));
  data.HwInitDataSize = sizeof(data);
  data.HwFindAdapter = FindAdapter;
  data.HwInitialize = Initialize;
  data.HwStartIO = StartIo;
  data.HwGetPowerState = GetPowerState;
  data.HwSetPowerState = SetPowerState;
  data.HwGetVideoChildDescriptor = GetChildDescriptor;
  data.HwDeviceExtensionSize = sizeof(ULONG);
  data.AdapterInterfaceType = PCIBus;
  return VideoPortInitialize(driver_object, registry_path, &data, NULL);
}
