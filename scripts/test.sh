#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the x64 and the i686
# (shipped) builds, and runs the whole suite (unit, machine, gui) on both, each
# in a fresh private Wine prefix under build/. Extra arguments go to ctest.
#
# The work overlaps where it can: the template prefix is made while x64 is
# being built, and the x64 suite runs while i686 is being built (the suites
# spend much of their time in the removal's own pauses). Within each suite the
# three labels (unit, machine, gui) run side by side, each label with its own
# prefix, wineserver and Xvfb. Each build's output is printed whole once both
# suites have ended; a failing entry's output names every failed test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
mkdir -p build/mingw-x64
rm -f build/mingw-*.test.log
tests/support/wine-session.sh template build/mingw-x64 </dev/null &
template=$!

# Builds a preset, and the targets given after it; prints the log only when
# the build fails.
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs" --target all "${@:2}" >"build/$1.build.log" 2>&1 ||
    { cat "build/$1.build.log"; echo "build of $1 failed" >&2; return 1; }
}

# Starts a preset's suite in the background; its pid goes to `pids`.
pids=()
run_suite() {
  ctest --preset "$1" -j 3 "${@:2}" </dev/null >"build/$1.test.log" 2>&1 &
  pids+=($!)
}

# x64 first: the i686 build packages and tests with 64-bit programs that it
# builds in the x64 build's folder, which is then already up to date. The
# benchmark programs are built with i686, the build they run against (built,
# not run, so that a change that breaks them fails here).
# Where the kernel runs no 32-bit programs, install-deps.sh has them run under
# qemu's emulator; only a machine where that could not be set up (it said
# why) runs no 32-bit Windows program under Wine: there the i686 build is
# still built whole, and its suite is left out, saying so.
status=0
skipped=""
if build mingw-x64; then
  run_suite mingw-x64 "$@"
  if tests/support/wine-session.sh runs-32-bit; then
    build mingw-i686 benchmarks && run_suite mingw-i686 "$@" || status=1
  else
    build mingw-i686 benchmarks || status=1
    skipped="the mingw-i686 suite was not run: this machine cannot run 32-bit programs (its kernel runs none, and install-deps.sh could not set up qemu's emulator: see its message above), so Wine cannot run the 32-bit build's tests here; the build itself succeeded"
    [ $status = 0 ] || skipped="the mingw-i686 build failed"
  fi
else
  status=1
fi
wait "$template" || status=1
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
for preset in mingw-i686 mingw-x64; do
  [ -f "build/$preset.test.log" ] || continue
  echo "== ctest --preset $preset"
  cat "build/$preset.test.log"
done
[ -z "$skipped" ] || echo "NOTE: $skipped" >&2
exit $status
