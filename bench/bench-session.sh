# Sourced by the benchmark scripts: `start_bench_session FOLDER` starts a Wine
# session of the benchmark's own in FOLDER (a fresh copy of the template
# prefix, under Xvfb when there is no display), takes its environment, and
# ends it with the script, also when the script fails or is interrupted:
# its wineserver and X server do not outlive it, no other session is
# touched, and the prefix (over 1 GB) is removed; the rest of FOLDER stays.
# Needs `root`, the repository's root.
#
# `bench_build [BUILD]` prints the build folder to measure and says on stderr
# which build it is and how 32-bit programs run here. By default that is the
# shipped i686 build where the machine runs 32-bit programs itself, and the
# x64 build (the one that does the work on 64-bit Windows) where they run
# under qemu's emulator or not at all: emulated figures measure the emulator.
bench_build() {
  local mode build
  mode=$("$root/tests/support/wine-session.sh" loader-mode)
  if [ -n "${1:-}" ]; then
    build=$1
  elif [ "$mode" = native ]; then
    build=$root/build/mingw-i686
  else
    build=$root/build/mingw-x64
  fi
  build=$(cd "$build" && pwd)
  echo "bench: measuring $(basename "$build"); 32-bit programs here: $mode" >&2
  echo "$build"
}

start_bench_session() {
  bench_session=$1
  mkdir -p "$bench_session"
  "$root/tests/support/wine-session.sh" start "$bench_session"
  trap '"$root/tests/support/wine-session.sh" stop "$bench_session"; rm -rf "$bench_session/wine/prefix"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  # shellcheck disable=SC1091
  . "$bench_session/wine/env"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}
