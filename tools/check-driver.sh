#!/usr/bin/env bash
# Reads the built quarn.dll's headers: it must be a native-subsystem image
# that imports only win32k.sys and exports only DrvEnableDriver.
set -euo pipefail
dll=${1:?usage: check-driver.sh quarn.dll}
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { echo "quarn.dll check: $*" >&2; exit 1; }
grep -qE 'Subsystem[[:space:]]+00000001' <<<"$dump" || fail "subsystem is not native"
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$dump" | awk '{print tolower($3)}' | sort -u | tr '\n' ' ')
[ "$imports" = "win32k.sys " ] || fail "imports are '$imports', not only win32k.sys"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^[[:space:]]*\[[[:space:]]*[0-9]+\] ' | awk '{print $NF}' | sort -u | tr '\n' ' ')
[ "$exports" = "DrvEnableDriver " ] || fail "exports are '$exports', not only DrvEnableDriver"
echo "quarn.dll check: native subsystem, imports win32k.sys only, exports DrvEnableDriver only"
