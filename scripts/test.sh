#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the i686 (shipped) and x64
# builds, and runs the whole suite (unit, machine, gui) on both, each in a
# fresh private Wine prefix under build/. Extra arguments go to ctest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
status=0
for preset in mingw-i686 mingw-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" >"build/$preset.build.log" 2>&1 ||
    { cat "build/$preset.build.log"; echo "build of $preset failed" >&2; exit 1; }
done

# One preset after the other: each has its own prefix and wineserver.
ctest --preset mingw-i686 "$@" || status=1
ctest --preset mingw-x64 "$@" || status=1
exit $status
