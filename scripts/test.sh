#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the x64 and the i686
# (shipped) builds, and runs the whole suite (unit, machine, gui) on both, each
# in a fresh private Wine prefix under build/. Extra arguments go to ctest.
#
# The two builds' suites run at the same time, and within each the three labels
# (unit, machine, gui) run side by side, each label with its own prefix,
# wineserver and Xvfb: most of their time is Wine's service waits, not work.
# Each build's output is printed whole once both have ended; a failing entry's
# output names every failed test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
# x64 first: the i686 build packages and tests with 64-bit programs that it
# builds in the x64 build's folder, which is then already up to date. The
# benchmark programs are built too (not run), so that a change that breaks
# them fails here.
for preset in mingw-x64 mingw-i686; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target all benchmarks >"build/$preset.build.log" 2>&1 ||
    { cat "build/$preset.build.log"; echo "build of $preset failed" >&2; exit 1; }
done

pids=()
for preset in mingw-i686 mingw-x64; do
  ctest --preset "$preset" -j 3 "$@" </dev/null >"build/$preset.test.log" 2>&1 &
  pids+=($!)
done
status=0
for i in 0 1; do
  wait "${pids[$i]}" || status=1
done
for preset in mingw-i686 mingw-x64; do
  echo "== ctest --preset $preset"
  cat "build/$preset.test.log"
done
exit $status
