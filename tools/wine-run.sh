#!/usr/bin/env bash
# Runs one Windows program under wine64 with the build folder's prefix; used by
# CTest as the cross-compiling emulator of the x86_64 Windows build.
#
# Wine starts helper processes (services, explorer) that outlive the program and
# inherit its standard handles, so the output goes through a file: a caller that
# reads a pipe would otherwise wait for those helpers too.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
mkdir -p "$KMR_WINE_DIR"
kmr_wine_prepare
out=$(mktemp "$KMR_WINE_DIR/run.XXXXXX")
"$WINELOADER" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
