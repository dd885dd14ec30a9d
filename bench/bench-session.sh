# Sourced by the benchmark scripts: `start_bench_session FOLDER` starts a Wine
# session of the benchmark's own in FOLDER (a fresh copy of the template
# prefix, under Xvfb when there is no display), takes its environment, and
# ends it with the script, also when the script fails or is interrupted:
# its wineserver and X server do not outlive it, no other session is
# touched, and the prefix (over 1 GB) is removed; the rest of FOLDER stays.
# Needs `root`, the repository's root.
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
