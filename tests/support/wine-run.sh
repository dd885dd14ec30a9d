#!/usr/bin/env bash
# CMAKE_CROSSCOMPILING_EMULATOR: runs a Windows executable of this build inside
# the build folder's private Wine session, starting that session if needed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?executable}

build=$(cd "$(dirname "$exe")" && pwd)
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
[ -f "$build/CMakeCache.txt" ] || { echo "wine-run: no build folder above $exe" >&2; exit 2; }

"$here/wine-session.sh" ensure "$build"
# shellcheck disable=SC1091
. "$build/wine${WINE_SESSION:+-$WINE_SESSION}/env"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=${LANG:-C.UTF-8}
status=0
wine "$@" || status=$?

# A test that crashed leaves the programs it started running (the dialog, the
# seeder), and they hold ctest's output pipe, so ctest would wait for them until
# its time-out. End every process of this prefix but Wine's own services.
for pid in $(pgrep -f '\.exe' || true); do
  case "$(readlink "/proc/$pid/exe" 2>/dev/null)" in *wine*) ;; *) continue ;; esac
  tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
  case "$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")" in
    *'\windows\system32\'*) ;;
    *) kill "$pid" 2>/dev/null || true ;;
  esac
done
exit $status
