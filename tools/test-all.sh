#!/usr/bin/env bash
# Installs what is needed, builds every configuration and runs every test:
# the host tests, the host tests again under AddressSanitizer, the x86_64
# Windows tests under wine64, and the fuzzers for a short while. The i686 Windows build is built and linked only
# (this machine cannot execute 32-bit code).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-deps.sh || exit 1

for config in host host-asan win64 win64-tests win32 fuzz; do
  echo "== build $config"
  bash tools/build.sh "$config" || { echo "build $config failed"; exit 1; }
done

passed=0
failed=0
run_ctest() {  # name dir
  local log="$root/build/ctest-$1.log"
  echo "== test $1"
  (cd "$2" && ctest -j"$(nproc)" --output-on-failure --timeout 600) 2>&1 | tee "$log" | tail -n 25
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  local total bad
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

run_ctest host build/host
ASAN_OPTIONS=detect_leaks=1 run_ctest host-asan build/host-asan

# One wineserver for all Windows test programs, stopped by its PID at the end.
source tools/wine-env.sh
mkdir -p "$KMR_WINE_DIR"
kmr_wine_prepare
/usr/lib/wine/wineserver -f -p &
wineserver_pid=$!
# The Windows programs draw on a virtual X display of their own.
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null)
xvfb_pid=$!
read -r xvfb_number <&3 || true
saved_display=${DISPLAY:-}
export DISPLAY=:${xvfb_number:-0}
run_ctest win64 build/win64-tests
if [ -n "$saved_display" ]; then export DISPLAY=$saved_display; else unset DISPLAY; fi
kill "$xvfb_pid" 2>/dev/null
kill "$wineserver_pid" 2>/dev/null
wait "$wineserver_pid" 2>/dev/null

# The shipped Windows programs start on Windows XP: system DLLs only, nothing
# newer than XP imported; and the check itself refuses a bad image.
echo "== check Windows imports"
for check in "--self-test" "build/win64/bin/kelvo.exe build/win64/bin/morvin.exe build/win64/bin/tessup.exe build/win64/tools/kmrtool/kmrtool.exe build/win64/bin/kmrv.dll build/win32/bin/kelvo.exe build/win32/bin/morvin.exe build/win32/bin/tessup.exe build/win32/tools/kmrtool/kmrtool.exe build/win32/bin/kmrv.dll"; do
  # shellcheck disable=SC2086
  if bash tools/check-windows-imports.sh $check; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done

# The kernel-mode images: subsystem, imports, exports and entry point.
echo "== check quarn.dll and quarn.sys"
if bash tools/check-driver.sh build/win32/driver/quarn.dll build/win32/driver/quarn.sys; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# The Windows distribution: the i686 programs and the driver package, each
# image checked, in a folder and a zip.
echo "== package"
if bash tools/package.sh build/package; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

# The parsers of untrusted input under libFuzzer, briefly, from the corpus kept in
# the repository (copied, so the run adds nothing to the checkout).
fuzz_seconds=${KMR_FUZZ_SECONDS:-45}
for fuzzer in player/container_file_fuzzer:player/fuzz_corpus/container \
              player/codecs/lossless_decoder_fuzzer:player/codecs/fuzz_corpus/lossless \
              player/codecs/lossy_decoder_fuzzer:player/codecs/fuzz_corpus/lossy \
              recorder/codecs/module/kmrv_decompress_fuzzer:recorder/codecs/module/fuzz_corpus \
              tools/kmrtool/media_repair_fuzzer:tools/kmrtool/fuzz_corpus/media; do
  target=${fuzzer%%:*}
  corpus=${fuzzer#*:}
  work=$(mktemp -d)
  cp "$corpus"/* "$work"/
  echo "== fuzz $target for ${fuzz_seconds}s"
  if "build/fuzz/$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
      -artifact_prefix="$root/build/fuzz/" "$work" >"$root/build/fuzz/$(basename "$target").log" 2>&1; then
    passed=$((passed + 1))
    tail -n 1 "$root/build/fuzz/$(basename "$target").log"
  else
    failed=$((failed + 1))
    tail -n 40 "$root/build/fuzz/$(basename "$target").log"
  fi
  rm -rf "$work"
done

echo
echo "total: $passed passed, $failed failed"
# What each failed test printed (its last lines), so that a run on another
# machine says why without its logs.
for log in "$root"/build/ctest-*.log; do
  [ -f "$log" ] || continue
  awk -v name="$(basename "$log" .log)" '
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / {
      if (n > 0) { for (i = (n > 60 ? n - 60 : 0); i < n; i++) print buf[i]; n = 0 }
      on = ($0 ~ /\*\*\*|Failed|Timeout|Exception|aborted/) && ($0 !~ / Passed /)
      if (on) print "== " name ": " $0
      next
    }
    /^ *Start +[0-9]+: / || /tests passed, / {
      if (n > 0) { for (i = (n > 60 ? n - 60 : 0); i < n; i++) print buf[i]; n = 0 }
      on = 0
      next
    }
    on { buf[n++] = $0 }
    END { if (n > 0) for (i = (n > 60 ? n - 60 : 0); i < n; i++) print buf[i] }
  ' "$log"
done
[ "$failed" -eq 0 ]
