#!/usr/bin/env bash
# What the Windows mirrors cost a frame at 1920 × 1080 (bench/mirror_bench.cpp),
# under wine64 on a virtual X display of that size: the polling mirror's
# whole-screen copy and block compare against the duplication mirror's work
# for office work. bench/duplication.md puts the figures beside a real
# system's read-back.
# Usage: bench/mirrors.sh [FRAMES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-90}
[ -x "$root/build/win64/bench/mirror_bench.exe" ] || bash "$root/tools/build.sh" win64
exec 3< <(Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null)
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
read -r display <&3
DISPLAY=:$display bash "$root/tools/wine-run.sh" "$root/build/win64/bench/mirror_bench.exe" "$frames"
