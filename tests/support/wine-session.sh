#!/usr/bin/env bash
# Manages the private Wine session of one build folder:
#   wine-session.sh start BUILD   fresh prefix copied from the template, Xvfb when
#                                 there is no display, wineserver and wineboot running
#   wine-session.sh ensure BUILD  start only when no session exists yet
#   wine-session.sh stop BUILD    ends the wineserver and our Xvfb
#   wine-session.sh template BUILD  only makes the template prefix, if it is
#                                 missing or out of date (scripts/test.sh does
#                                 it while the programs are being built)
#   wine-session.sh runs-32-bit   exit 0 when this machine runs 32-bit Windows
#                                 programs under Wine (see use_64_bit_loader)
#   wine-session.sh loader-mode   prints how 32-bit programs run here: native,
#                                 emulated (qemu through binfmt_misc, see
#                                 scripts/install-deps.sh) or none
# The prefix lives in BUILD/wine/prefix, never in ~/.wine. Its Documents and the
# other user folders are real folders, not links into the Linux home. With
# WINE_SESSION=NAME in the environment the session is BUILD/wine-NAME instead:
# ctest gives each label a session of its own, so that they run side by side.
set -euo pipefail

action=${1:?action}

# Debian's `wine` starts every program through Wine's 32-bit loader, which
# hands 64-bit programs on to the 64-bit one. A machine whose kernel runs no
# 32-bit programs (its 32-bit emulation switched off) fails there with "Exec
# format error", although it runs 64-bit Windows programs well. There `wine`
# is a shim that starts the 64-bit loader directly, and Wine starts its own
# processes with that loader too (WINELOADER); 32-bit Windows programs cannot
# run at all. The shim's folder and WINELOADER go into the session's env.
wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64
# Asked once: under the emulator each ask is a process start of its own.
if "$wine32_loader" --version >/dev/null 2>&1; then
  if grep -qsx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    loader_mode=emulated
  else
    loader_mode=native
  fi
else
  loader_mode=none
fi
runs_32_bit() { [ "$loader_mode" != none ]; }
case "$action" in
  runs-32-bit) runs_32_bit && exit 0; exit 1 ;;
  loader-mode) echo "$loader_mode"; exit 0 ;;
esac

build=$(cd "${2:?build folder}" && pwd)
loader_env=""
use_64_bit_loader() {
  runs_32_bit && return 0
  local shim
  shim="$(dirname "$build")/wine-loader"
  mkdir -p "$shim"
  # wineboot and the other tools start `wine-stable`, the rest `wine`.
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec %s "$@"\n' "$wine64_loader" >"$shim/$name.tmp.$$"
    chmod +x "$shim/$name.tmp.$$"
    mv "$shim/$name.tmp.$$" "$shim/$name"
  done
  export PATH="$shim:$PATH" WINELOADER="$wine64_loader"
  loader_env="export PATH='$shim':\"\$PATH\"; export WINELOADER='$wine64_loader'"
}
use_64_bit_loader
session="$build/wine${WINE_SESSION:+-$WINE_SESSION}"
prefix="$session/prefix"
template="$(dirname "$build")/wine-template"

# Bumped whenever make_template changes, so that older templates are rebuilt.
# The loader mode is part of it: a prefix made while only the 64-bit loader
# ran has no 32-bit half, and 32-bit wineboot then fails ("could not load
# kernel32.dll").
template_version="4 $loader_mode"

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Every helper process gets no stdin/stdout of ours: ctest waits for whoever
# holds its output pipe, and wineserver and services.exe live on.
detached() { "$@" </dev/null >/dev/null 2>&1 8>&- 9>&-; }

replace_user_links() {
  local users="$1/drive_c/users"
  find "$users" -mindepth 2 -maxdepth 2 -type l 2>/dev/null | while read -r link; do
    rm -f "$link" && mkdir -p "$link"
  done
}

make_template() {
  exec 9>"$template.lock"
  flock 9
  [ "$(cat "$template/.ready" 2>/dev/null)" = "$template_version" ] && return 0
  local tmp="$template.tmp.$$" home
  home=$(mktemp -d)
  rm -rf "$tmp"
  echo "wine-session: creating the template prefix (about 20 s)" >&2
  detached env HOME="$home" WINEPREFIX="$tmp" wineboot -i
  local reg=(env HOME="$home" WINEPREFIX="$tmp" wine reg add)
  detached "${reg[@]}" 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  detached "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f
  # The sessions' own Xvfb has no window manager. Wine treats a window with a
  # caption (every message box) as managed, and before it withdraws one it
  # waits up to 2 s for the window manager to report the window's state: 2 s
  # after every box, which no Windows program spends. Unmanaged windows are
  # withdrawn at once. A session on a real display turns this off again.
  detached "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    detached "${reg[@]}" 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f
  done
  detached env WINEPREFIX="$tmp" wineserver -w
  # Wine draws the caption buttons with Marlett, which new prefixes lack here
  # (letters appear instead). Only Marlett: Wine's own Tahoma would displace
  # the font link that gives the captions their Chinese glyphs.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] && cp "$marlett" "$tmp/drive_c/windows/Fonts/"
  replace_user_links "$tmp"
  rm -rf "$home" "$template"
  echo "$template_version" >"$tmp/.ready"
  mv "$tmp" "$template"
}

start_display() {
  if [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" >"$session/display"
    return
  fi
  local fdfile="$session/displayfd"
  rm -f "$fdfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" </dev/null >/dev/null 2>&1 8>&- 9>&- &
  echo $! >"$session/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  echo ":$(head -n1 "$fdfile")" >"$session/display"
}

stop() {
  [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  if [ -f "$session/xvfb.pid" ]; then
    kill "$(cat "$session/xvfb.pid")" 2>/dev/null || true
    rm -f "$session/xvfb.pid"
  fi
  rm -f "$session/env"
}

start() {
  make_template
  mkdir -p "$session"
  stop
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  start_display
  {
    echo "export WINEPREFIX='$prefix'"
    echo "export DISPLAY='$(cat "$session/display")'"
    [ -z "$loader_env" ] || echo "$loader_env"
  } >"$session/env.tmp"
  # shellcheck disable=SC1091
  . "$session/env.tmp"
  detached wineserver -p
  detached wine wineboot
  # A real display has its window manager: Wine's default again.
  if [ ! -f "$session/xvfb.pid" ]; then
    detached wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f
  fi
  mv "$session/env.tmp" "$session/env"
}

case "$action" in
  start) start ;;
  ensure)
    mkdir -p "$session"
    exec 8>"$session/lock"
    flock 8
    [ -f "$session/env" ] || start
    ;;
  stop) stop ;;
  template) make_template ;;
  *) echo "usage: $0 start|ensure|stop|template BUILD | runs-32-bit | loader-mode" >&2; exit 2 ;;
esac
