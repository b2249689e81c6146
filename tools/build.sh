#!/usr/bin/env bash
# Configures and builds one configuration: host | win64 | win32 | host-asan.
# Usage: tools/build.sh CONFIG [extra cmake arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:?usage: tools/build.sh host|win64|win32|host-asan|fuzz}
shift
case $config in
  host) args=() ;;
  host-asan) args=(-DKMR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  fuzz) args=(-DKMR_FUZZ=ON -DKMR_BUILD_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake") ;;
  win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake") ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$config" -G Ninja "${args[@]}" "$@" >/dev/null
cmake --build "$root/build/$config" -j"$(nproc)"
