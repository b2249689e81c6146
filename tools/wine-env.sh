# Sourced by the scripts that run Windows programs under wine64. Everything Wine
# keeps lives inside the build folder: a fresh prefix and a home of its own.
KMR_ROOT=${KMR_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export KMR_WINE_DIR=${KMR_WINE_DIR:-$KMR_ROOT/build/wine}
export WINEPREFIX=$KMR_WINE_DIR/prefix
export WINELOADER=/usr/lib/wine/wine64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export HOME=$KMR_WINE_DIR/home
export WINEARCH=win64

kmr_wine_prepare() {
  mkdir -p "$HOME"
  # Wave in/out need a null ALSA device on machines without a sound card.
  [ -f "$HOME/.asoundrc" ] || printf 'pcm.!default { type null }\nctl.!default { type null }\n' >"$HOME/.asoundrc"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kmr-ready-2" ]; then
      rm -rf "$WINEPREFIX"
      "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
      # The prefix reports Windows XP, the oldest system the programs promise,
      # so that their own version checks take their XP paths under test.
      "$WINELOADER" reg add 'HKCU\Software\Wine' /v Version /d winxp64 /f >/dev/null 2>&1 || true
      # DirectDraw through GDI: Wine's OpenGL presentation lays a surface of
      # its own over the whole client area, which hides the player's tool bar
      # and status bar updates (Windows itself clips them out).
      "$WINELOADER" reg add 'HKCU\Software\Wine\Direct3D' /v renderer /d gdi /f >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w || true
      touch "$WINEPREFIX/.kmr-ready-2"
    fi
  ) 9>"$KMR_WINE_DIR/.lock"
}
