#!/usr/bin/env bash
# Checks that Windows programs start on Windows XP: every DLL they import is
# part of the system itself (the libraries loaded by name at run time are never
# imports), and no imported function is one that came after XP.
#   tools/check-windows-imports.sh IMAGE...    exit 1 when any image fails
#   tools/check-windows-imports.sh --self-test builds an image that imports
#                                              GetTickCount64 and expects a refusal
set -uo pipefail

# DLLs that Windows XP has (lower case).
allowed_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comctl32.dll comdlg32.dll ole32.dll
 oleaut32.dll shlwapi.dll version.dll winmm.dll msacm32.dll msvfw32.dll avifil32.dll ddraw.dll setupapi.dll
 newdev.dll msvcrt.dll imm32.dll rpcrt4.dll ws2_32.dll wsock32.dll uxtheme.dll winspool.drv psapi.dll "

# Functions added after Windows XP (and a few of XP's successors' C library).
banned_functions="
GetTickCount64
InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
TryAcquireSRWLockExclusive TryAcquireSRWLockShared
InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable
WakeAllConditionVariable
InitOnceInitialize InitOnceExecuteOnce InitOnceBeginInitialize InitOnceComplete
FlsAlloc FlsFree FlsGetValue FlsSetValue
CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW CreateSemaphoreExA CreateSemaphoreExW
CreateWaitableTimerExA CreateWaitableTimerExW InitializeCriticalSectionEx
GetFileInformationByHandleEx SetFileInformationByHandle GetFinalPathNameByHandleA GetFinalPathNameByHandleW
QueryFullProcessImageNameA QueryFullProcessImageNameW CancelIoEx CancelSynchronousIo
GetSystemTimePreciseAsFileTime GetCurrentProcessorNumber GetCurrentProcessorNumberEx
LCIDToLocaleName LocaleNameToLCID GetLocaleInfoEx GetUserDefaultLocaleName GetSystemDefaultLocaleName
CompareStringEx LCMapStringEx GetDateFormatEx GetTimeFormatEx GetNumberFormatEx EnumSystemLocalesEx
ResolveLocaleName IsValidLocaleName
CreateSymbolicLinkA CreateSymbolicLinkW GetThreadId GetProcessIdOfThread SetThreadStackGuarantee
GetErrorMode SetThreadErrorMode GetThreadErrorMode RaiseFailFastException InterlockedCompareExchange64
CreateThreadpoolWork SubmitThreadpoolWork CloseThreadpoolWork WaitForThreadpoolWorkCallbacks
CreateThreadpoolTimer SetThreadpoolTimer CloseThreadpoolTimer
GetTickCount64 QueryUnbiasedInterruptTime SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory
GetLogicalProcessorInformationEx GetActiveProcessorCount WerRegisterRuntimeExceptionModule
_chsize_s _fseeki64 _ftelli64 _get_errno _set_errno _create_locale _free_locale _get_current_locale
strerror_s _wcserror_s memcpy_s memmove_s sprintf_s _vsnprintf_s vsprintf_s strcpy_s strcat_s wcscpy_s
wcscat_s fopen_s _wfopen_s _itoa_s _ultoa_s _i64toa_s _ui64toa_s _localtime64_s _gmtime64_s _wcsdup_dbg
"

objdump_for() {  # image -> the objdump that reads it
  if x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null | grep -q 'pei-x86-64'; then
    echo x86_64-w64-mingw32-objdump
  else
    echo i686-w64-mingw32-objdump
  fi
}

check_image() {
  local image=$1 bad=0 dll fn
  if [ ! -f "$image" ]; then
    echo "$image: missing"
    return 1
  fi
  local od
  od=$(objdump_for "$image")
  # "DLL Name: X" opens each import table; its functions follow as hint and name.
  while read -r dll fn; do
    local lower=${dll,,}
    if [[ " $(echo $allowed_dlls) " != *" $lower "* ]]; then
      echo "$image: imports $dll, which is not part of Windows XP"
      bad=1
    fi
    if [ -n "$fn" ] && grep -qw -- "$fn" <<<"$banned_functions"; then
      echo "$image: imports $fn from $dll, which came after Windows XP"
      bad=1
    fi
  done < <("$od" -p "$image" | awk '/DLL Name:/ { dll = $3; print dll; next }
                                      dll != "" && /^\t[ 0-9a-f]+\t +[0-9]+ +[A-Za-z_?@]/ { print dll, $3 }
                                      /^$/ { }' | sort -u)
  if [ $bad -eq 0 ]; then echo "$image: imports only what Windows XP has"; fi
  return $bad
}

if [ "${1:-}" = "--self-test" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  printf '#include <windows.h>\nint main(void) { return (int)GetTickCount64(); }\n' >"$work/bad.c"
  if ! x86_64-w64-mingw32-gcc-win32 -D_WIN32_WINNT=0x0600 -o "$work/bad.exe" "$work/bad.c"; then
    echo "self-test: cannot build the bad image"
    exit 1
  fi
  printf '#include <windows.h>\nint main(void) { return (int)GetTickCount(); }\n' >"$work/good.c"
  x86_64-w64-mingw32-gcc-win32 -o "$work/good.exe" "$work/good.c" || exit 1
  if check_image "$work/bad.exe" >/dev/null; then
    echo "self-test: an image importing GetTickCount64 passed the check"
    exit 1
  fi
  if ! check_image "$work/good.exe" >/dev/null; then
    echo "self-test: an XP-era image failed the check"
    exit 1
  fi
  echo "self-test: the check refuses GetTickCount64 and passes an XP-era image"
  exit 0
fi

[ $# -gt 0 ] || { echo "usage: $0 IMAGE... | --self-test" >&2; exit 2; }
status=0
for image in "$@"; do check_image "$image" || status=1; done
exit $status
