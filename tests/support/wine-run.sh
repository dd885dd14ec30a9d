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
. "$build/wine/env"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=${LANG:-C.UTF-8}
exec wine "$@"
