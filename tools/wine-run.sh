#!/usr/bin/env bash
# Runs one Windows program under wine64 with the build folder's prefix; used by
# CTest as the cross-compiling emulator of the x86_64 Windows build.
#
# Wine starts helper processes (services, explorer) that outlive the program and
# inherit its standard handles, so the output goes through files: a caller that
# reads a pipe would otherwise wait for those helpers too.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
mkdir -p "$KMR_WINE_DIR"
kmr_wine_prepare
out=$(mktemp "$KMR_WINE_DIR/out.XXXXXX")
err=$(mktemp "$KMR_WINE_DIR/err.XXXXXX")
"$WINELOADER" "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
