#!/usr/bin/env bash
# Reads the built driver images' headers.
#   check-driver.sh quarn.dll [quarn.sys]
# quarn.dll: a native-subsystem image that imports only win32k.sys and
# exports only DrvEnableDriver. quarn.sys: a native-subsystem image whose
# entry point is DriverEntry, importing only from videoprt.sys and
# ntoskrnl.exe, none of the kernel calls that fail by raising an exception,
# and exporting nothing.
set -euo pipefail
dll=${1:?usage: check-driver.sh quarn.dll [quarn.sys]}
sys=${2:-}
fail() { echo "driver check: $*" >&2; exit 1; }
imports_of() { grep -E '^[[:space:]]*DLL Name:' <<<"$1" | awk '{print tolower($3)}' | sort -u | tr '\n' ' ' || true; }
exports_of() {
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$1" | grep -E '^[[:space:]]*\[[[:space:]]*[0-9]+\] ' |
    awk '{print $NF}' | sort -u | tr '\n' ' ' || true
}

dump=$(i686-w64-mingw32-objdump -p "$dll")
grep -qE 'Subsystem[[:space:]]+00000001' <<<"$dump" || fail "quarn.dll: subsystem is not native"
imports=$(imports_of "$dump")
[ "$imports" = "win32k.sys " ] || fail "quarn.dll: imports are '$imports', not only win32k.sys"
exports=$(exports_of "$dump")
[ "$exports" = "DrvEnableDriver " ] || fail "quarn.dll: exports are '$exports', not only DrvEnableDriver"
echo "quarn.dll check: native subsystem, imports win32k.sys only, exports DrvEnableDriver only"

[ -n "$sys" ] || exit 0
dump=$(i686-w64-mingw32-objdump -p "$sys")
grep -qE 'Subsystem[[:space:]]+00000001' <<<"$dump" || fail "quarn.sys: subsystem is not native"
grep -qE 'Magic[[:space:]]+010b' <<<"$dump" || fail "quarn.sys: not a 32-bit image"
imports=$(imports_of "$dump")
case "$imports" in
  "ntoskrnl.exe videoprt.sys " | "videoprt.sys ") ;;
  *) fail "quarn.sys: imports are '$imports', not only videoprt.sys (and ntoskrnl.exe)" ;;
esac
exports=$(exports_of "$dump")
[ -z "$exports" ] || fail "quarn.sys: exports '$exports'"
# Kernel calls that report failure by raising an exception (this compiler
# has no structured exception handling) must not be imported.
raising=$(grep -oE '\b(MmMapLockedPages|MmMapLockedPagesSpecifyCache|MmProbeAndLockPages|ProbeForRead|ProbeForWrite)\b' <<<"$dump" | sort -u | tr '\n' ' ' || true)
[ -z "$raising" ] || fail "quarn.sys: imports $raising, which raise exceptions on failure"
entry=$(awk '/AddressOfEntryPoint/ {print $2}' <<<"$dump")
base=$(awk '/^ImageBase/ {print $2}' <<<"$dump")
symbol=$(i686-w64-mingw32-nm "$sys" 2>/dev/null | awk '/ _DriverEntry@8$/ {print $1}')
if [ -n "$symbol" ]; then
  [ "$((16#$base + 16#$entry))" -eq "$((16#$symbol))" ] || fail "quarn.sys: the entry point is not DriverEntry"
fi
echo "quarn.sys check: native 32-bit image, entry DriverEntry, imports $imports, no exports"
