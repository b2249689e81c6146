#!/usr/bin/env bash
# Configures and builds one configuration: host | host-asan | win64 | win64-tests | win32 | fuzz.
# win64 and win32 are the Windows programs as they ship (win32 thread model, no
# tests); win64-tests builds the test programs (posix thread model) and runs
# them against the programs of build/win64, which it builds first.
# Usage: tools/build.sh CONFIG [extra cmake arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
config=${1:?usage: tools/build.sh host|host-asan|win64|win64-tests|win32|fuzz}
shift
case $config in
  host) args=() ;;
  host-asan) args=(-DKMR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  fuzz) args=(-DKMR_FUZZ=ON -DKMR_BUILD_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DKMR_BUILD_TESTS=OFF) ;;
  win64-tests)
    [ -x "$root/build/win64/bin/morvin.exe" ] || bash "$0" win64
    args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DKMR_MINGW_THREADS=posix
          -DKMR_SHIPPED_DIR="$root/build/win64") ;;
  win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DKMR_BUILD_TESTS=OFF) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$config" -G Ninja "${args[@]}" "$@" >/dev/null
cmake --build "$root/build/$config" -j"$(nproc)"
