/* quarn.sys: the mirror driver's video miniport for 32-bit Windows, over
 * the video port driver. There is no hardware behind it: the adapter is
 * found whenever the system asks, and the display driver's four requests
 * are the shared miniport code over the kernel's memory services.
 *
 * Each block is a section of committed memory, mapped once into system
 * space (where the display driver and the graphics engine work on it) and
 * into each process that asks. Every mapping call reports failure by its
 * status, never by an exception. A process's view keeps the section alive
 * by itself: a block released while another process still maps it stays
 * valid memory for that process until it unmaps or ends, and the kernel
 * removes a view with the address space of a process that ends. Nothing
 * here ever unmaps outside the calling process. */
#include <ntdef.h>
#include <miniport.h>
#include <video.h>
#include <ntddvdeo.h>

#include "driver/miniport/quarn_miniport.h"

/* What sections and process objects take from the kernel. */
__declspec(dllimport) LONG __stdcall ZwCreateSection(PHANDLE section, ULONG access, POBJECT_ATTRIBUTES attributes,
                                                     PLARGE_INTEGER size, ULONG protection, ULONG allocation,
                                                     HANDLE file);
__declspec(dllimport) LONG __stdcall ZwMapViewOfSection(HANDLE section, HANDLE process, PVOID* base, ULONG_PTR zero_bits,
                                                        SIZE_T commit, PLARGE_INTEGER offset, PSIZE_T size,
                                                        int inherit, ULONG allocation, ULONG protection);
__declspec(dllimport) LONG __stdcall ZwUnmapViewOfSection(HANDLE process, PVOID base);
__declspec(dllimport) LONG __stdcall ZwClose(HANDLE handle);
__declspec(dllimport) LONG __stdcall ObReferenceObjectByHandle(HANDLE handle, ULONG access, PVOID type, CCHAR mode,
                                                               PVOID* object, PVOID information);
__declspec(dllimport) LONG_PTR __fastcall ObfReferenceObject(PVOID object);
__declspec(dllimport) LONG_PTR __fastcall ObfDereferenceObject(PVOID object);
__declspec(dllimport) LONG __stdcall MmMapViewInSystemSpace(PVOID section, PVOID* base, PSIZE_T size);
__declspec(dllimport) LONG __stdcall MmUnmapViewInSystemSpace(PVOID base);
__declspec(dllimport) PVOID __stdcall IoGetCurrentProcess(void);
__declspec(dllimport) LONG __stdcall KeWaitForSingleObject(PVOID object, int reason, CCHAR mode, BOOLEAN alertable,
                                                           PLARGE_INTEGER timeout);

#define QUARN_TAG 0x6E617571u /* 'quan' */
#ifndef NO_ERROR
#define NO_ERROR 0
#endif
#ifndef ERROR_NO_MORE_DEVICES
#define ERROR_NO_MORE_DEVICES 1248L
#endif
#define KERNEL_MODE 0
#define EXECUTIVE 0
#define SECTION_ACCESS 0x000F001Fu /* SECTION_ALL_ACCESS */
#define SEC_COMMIT_ 0x08000000u
#define PAGE_READWRITE_ 0x04u
#define VIEW_UNMAP 2 /* not inherited by child processes */
#define CURRENT_PROCESS ((HANDLE)(LONG_PTR)-1)
#define STATUS_SUCCESS_ 0

typedef struct QuarnSection {
  HANDLE handle; /* a kernel handle */
  PVOID object;
  PVOID base; /* the system-space view: the block the shared code works on */
} QuarnSection;

typedef struct QuarnView {
  PVOID process; /* referenced while the view is known here */
  PVOID base;
  HANDLE section;
} QuarnView;

static PVOID g_extension;
static QuarnMiniport g_miniport;
static QuarnSection g_sections[QUARN_MINIPORT_BLOCKS];

static QuarnSection* SectionOf(void* block) {
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS; ++i) {
    if (g_sections[i].base != NULL && g_sections[i].base == block) return &g_sections[i];
  }
  return NULL;
}

static QuarnWord Allocate(void* context, QuarnWord size, void** block) {
  (void)context;
  QuarnSection* s = NULL;
  for (int i = 0; i < QUARN_MINIPORT_BLOCKS && s == NULL; ++i) {
    if (g_sections[i].base == NULL) s = &g_sections[i];
  }
  if (s == NULL) return 0;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
  LARGE_INTEGER bytes;
  bytes.QuadPart = size;
  HANDLE handle = NULL;
  if (ZwCreateSection(&handle, SECTION_ACCESS, &attributes, &bytes, PAGE_READWRITE_, SEC_COMMIT_, NULL) !=
      STATUS_SUCCESS_) {
    return 0;
  }
  PVOID object = NULL;
  if (ObReferenceObjectByHandle(handle, SECTION_ACCESS, NULL, KERNEL_MODE, &object, NULL) != STATUS_SUCCESS_) {
    ZwClose(handle);
    return 0;
  }
  PVOID base = NULL;
  SIZE_T view = 0; /* the whole section; committed pages start zeroed */
  if (MmMapViewInSystemSpace(object, &base, &view) != STATUS_SUCCESS_ || base == NULL) {
    ObfDereferenceObject(object);
    ZwClose(handle);
    return 0;
  }
  s->handle = handle;
  s->object = object;
  s->base = base;
  *block = base;
  return (QuarnWord)(ULONG_PTR)base;
}

static void Release(void* context, void* block) {
  (void)context;
  QuarnSection* s = SectionOf(block);
  if (s == NULL) return;
  MmUnmapViewInSystemSpace(s->base);
  ObfDereferenceObject(s->object);
  ZwClose(s->handle);
  s->handle = NULL;
  s->object = NULL;
  s->base = NULL;
}

static void* CurrentProcess(void* context) {
  (void)context;
  return IoGetCurrentProcess();
}

static QuarnWord MapIntoProcess(void* context, void* block, QuarnWord size, void** view) {
  (void)context;
  QuarnSection* s = SectionOf(block);
  if (s == NULL) return 0;
  QuarnView* v = (QuarnView*)VideoPortAllocatePool(g_extension, VpNonPagedPool, sizeof(QuarnView), QUARN_TAG);
  if (v == NULL) return 0;
  PVOID base = NULL;
  SIZE_T bytes = size;
  if (ZwMapViewOfSection(s->handle, CURRENT_PROCESS, &base, 0, 0, NULL, &bytes, VIEW_UNMAP, 0, PAGE_READWRITE_) !=
          STATUS_SUCCESS_ ||
      base == NULL) {
    VideoPortFreePool(g_extension, v);
    return 0;
  }
  v->process = IoGetCurrentProcess();
  ObfReferenceObject(v->process);
  v->base = base;
  v->section = s->handle;
  *view = v;
  return (QuarnWord)(ULONG_PTR)base;
}

static void Forget(void* context, void* view) {
  (void)context;
  QuarnView* v = (QuarnView*)view;
  ObfDereferenceObject(v->process);
  VideoPortFreePool(g_extension, v);
}

/* Only ever called in the view's own process (the shared code checks). */
static void UnmapFromProcess(void* context, void* view) {
  QuarnView* v = (QuarnView*)view;
  if (IoGetCurrentProcess() == v->process) ZwUnmapViewOfSection(CURRENT_PROCESS, v->base);
  Forget(context, view);
}

/* A process object is signalled once the process has ended. */
static int ProcessEnded(void* context, void* view) {
  (void)context;
  LARGE_INTEGER now;
  now.QuadPart = 0;
  return KeWaitForSingleObject(((QuarnView*)view)->process, EXECUTIVE, KERNEL_MODE, FALSE, &now) == STATUS_SUCCESS_;
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
  const QuarnMemoryServices services = {0,         Allocate,         Release,      CurrentProcess, MapIntoProcess,
                                        UnmapFromProcess, ProcessEnded, Forget,     Increment};
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
