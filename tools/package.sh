#!/usr/bin/env bash
# Assembles the Windows distribution from the i686 build (build/win32): a
# folder and a zip with the programs, the driver package and a read-me, and
# checks every program image in it (32-bit x86, the subsystem it needs).
# Programs not built yet are built first (tools/build.sh win32); a package
# that would still miss one is not made, and the run fails saying which.
#   tools/package.sh [OUT_DIR]   (build/package by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KMR_WIN32_BUILD:-$root/build/win32}
out=${1:-$root/build/package}
name=norvane-screen-recorder
dir=$out/$name
rm -rf "$dir" "$out/$name.zip"
mkdir -p "$dir"

# file in the build tree, its subsystem (2 GUI, 3 console, 1 native)
items=(
  "bin/kelvo.exe 2"
  "bin/morvin.exe 2"
  "bin/tessup.exe 2"
  "driver/quarn.dll 1"
  "driver/quarn.sys 1"
  "tools/kmrtool/kmrtool.exe 3"
  "bin/kmrv.dll 3"
)
missing_files() {
  local item file subsystem
  for item in "${items[@]}"; do
    read -r file subsystem <<<"$item"
    [ -f "$build/$file" ] || echo "$(basename "$file")"
  done
}
missing=$(missing_files | tr '\n' ' ')
if [ -n "$missing" ] && [ -z "${KMR_WIN32_BUILD:-}" ]; then
  echo "package: not built yet: $missing- building the i686 tree"
  bash "$root/tools/build.sh" win32 || { echo "package: the i686 build failed" >&2; exit 1; }
  missing=$(missing_files | tr '\n' ' ')
fi
if [ -n "$missing" ]; then
  echo "package: not built: $missing(build them with: bash tools/build.sh win32)" >&2
  exit 1
fi
for item in "${items[@]}"; do
  read -r file subsystem <<<"$item"
  dump=$(i686-w64-mingw32-objdump -p "$build/$file")
  grep -qE 'Magic[[:space:]]+010b' <<<"$dump" || { echo "package: $file is not a 32-bit image" >&2; exit 1; }
  grep -qE "Subsystem[[:space:]]+0000000$subsystem" <<<"$dump" ||
    { echo "package: $file does not have subsystem $subsystem" >&2; exit 1; }
  grep -qE 'architecture: i386' < <(i686-w64-mingw32-objdump -f "$build/$file") ||
    { echo "package: $file is not for i386" >&2; exit 1; }
  cp "$build/$file" "$dir/"
  # Programs go without their debugging information.
  case $file in *.exe | */kmrv.dll) i686-w64-mingw32-strip "$dir/$(basename "$file")" ;; esac
done
cp "$root/driver/quarn.inf" "$dir/"
cp "$root/recorder/codecs/module/win/kmrv.inf" "$dir/"

cat >"$dir/README.txt" <<'TXT'
Norvane Screen Recorder for Windows 2000 and XP
================================================

kelvo.exe    the recorder
morvin.exe   the player (a self-playing recording is a copy of it with the recording appended)
kmrtool.exe  checks, exports and repairs recordings from the command line

The screen capture driver
-------------------------
The recorder sees what is drawn on the screen through a mirror display driver. Install it once,
as an administrator, from this folder:

    tessup -i quarn "Norvane Screen Capture Driver"

(tessup -u quarn "Norvane Screen Capture Driver" removes it.) The driver is quarn.dll with its
video miniport quarn.sys; quarn.inf describes them to the system.

The codec for other programs
----------------------------
kmrv.dll lets other Windows players and editors play AVI files recorded with the own codecs
(the lossy one where xvidcore.dll is installed). Install it once, as an administrator: on 32-bit
Windows right-click kmrv.inf in this folder and choose Install, or run from this folder

    rundll32 setupapi.dll,InstallHinfSection DefaultInstall 132 .\kmrv.inf

On 64-bit Windows run the 32-bit installer instead, so that the 32-bit programs find the codec:

    %SystemRoot%\SysWOW64\rundll32 setupapi.dll,InstallHinfSection DefaultInstall 132 .\kmrv.inf

It copies kmrv.dll into the system folder and registers it as the "vidc.KMRV" and "vidc.kmrv"
codecs (HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Drivers32).
To remove it, the same command with DefaultUninstall in place of DefaultInstall.

Sound and the lossy codec
-------------------------
Recording sound needs the MP3 encoder library lame_enc.dll beside kelvo.exe.
The lossy screen codec needs xvidcore.dll in the system folder; without it only the lossless
codec is offered, and lossy recordings do not play.
TXT
# Windows line ends for Notepad.
sed -i 's/$/\r/' "$dir/README.txt"

python3 - "$out" "$name" <<'PY'
import os, sys, zipfile
out, name = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(os.path.join(out, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as z:
    for f in sorted(os.listdir(os.path.join(out, name))):
        z.write(os.path.join(out, name, f), os.path.join(name, f))
PY
echo "package: $out/$name.zip"
(cd "$dir" && ls -l)
