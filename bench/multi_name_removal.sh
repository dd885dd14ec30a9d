#!/usr/bin/env bash
# Times the removal of several names in one run against one run per name,
# and the preview's package scan of ten names against that of one.
#
#   bash bench/multi_name_removal.sh [BUILD]   (BUILD defaults to build/mingw-x64)
#
# In a private Wine session of its own (build/bench-multi), the x64 seeder
# (demo_machine) adds a driver with NAMES printers (default 2) and one more
# printer that keeps the driver. In each of REPEATS rounds (default 3) it
# removes the NAMES printers with one `UninstallCli remove --printer` run
# each, seeds them again, and removes them all in one run
# (`remove --printer A --printer B ...`). Every run must exit 0 and take its
# printers, each single run must stop the spooler once, and the run of the
# set once in all; otherwise the bench fails (exit 3): it would not measure
# what it names. Each figure is the best of its rounds.
#
# Then bench_driver_store seeds its store shaped like Windows 10's (see
# bench/driver_store_scan.sh) and times the package scan as the preview of a
# set takes it: every candidate read in one pass for ten names, then each
# name's verdicts, against the same for one name (the bench program fails
# when either misses the seeded matches or one of the ten matches nothing).
# The preview reads each matched INF a second time, whole, only where the
# plan needs what it installs and registers (leftovers, or a vendor's monitor
# or print processor registered; the bench's prefix has none); that scan is
# timed too, for ten names against one, without a goal of its own.
#
# Goals: NAMES printers in one run <= 6.5 s for two names (a run's own
# pauses are 5 s); the ten names' scan <= 2 x the one name's.
# The session's prefix is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091
. "$root/bench/bench-session.sh"
# The x64 build unless told otherwise: the one that does the work on 64-bit
# Windows, and its seeder adds the x64 drivers that a 64-bit PC has.
build=$(bench_build "${1:-$root/build/mingw-x64}")
names=${NAMES:-2}
repeats=${REPEATS:-3}
bin="$build/bin"
driver="KBench Set Driver"
store_driver="KBench LaserJet 7788 PCL6"

cmake --build "$build" --target UninstallCli demo_machine bench_driver_store >/dev/null
start_bench_session "$root/build/bench-multi"

fail() {
  echo "multi_name_removal: $*" >&2
  exit 3
}

printers=()
for i in $(seq "$names"); do printers+=("KBench Set Printer $i"); done
seed_printers() {
  for printer in "${printers[@]}"; do
    wine "$bin/demo_machine.exe" add-printer "$printer" "$driver" >/dev/null ||
      fail "could not add $printer"
  done
}
wine "$bin/demo_machine.exe" add-driver "$driver" >/dev/null || fail "could not add $driver"
wine "$bin/demo_machine.exe" add-printer "KBench Set Keeper" "$driver" >/dev/null ||
  fail "could not add the printer that keeps the driver"

# Runs UninstallCli with the arguments and prints its wall time in seconds;
# fails unless it exits 0, stops the spooler exactly once and takes the
# printers it names.
timed_removal() {
  local start end out stops list
  start=$(date +%s%N)
  out=$(wine "$bin/UninstallCli.exe" remove --json "$@" | tr -d '\r') ||
    fail "UninstallCli remove $* failed: $out"
  end=$(date +%s%N)
  stops=$(grep -c '"step": "StopSpooler"' <<<"$out" || true)
  [ "$stops" = 1 ] || fail "UninstallCli remove $* stopped the spooler $stops times"
  list=$(wine "$bin/UninstallCli.exe" list --json | tr -d '\r')
  for arg in "$@"; do
    [ "$arg" = --printer ] && continue
    if grep -q "\"name\": \"$arg\"" <<<"$list"; then fail "$arg is still there"; fi
  done
  grep -q '"name": "KBench Set Keeper"' <<<"$list" || fail "the keeper printer went"
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}

best() { tr ' ' '\n' | sed '/^$/d' | sort -g | head -1; }
singles="" sets=""
for _ in $(seq "$repeats"); do
  seed_printers
  total=0
  for printer in "${printers[@]}"; do
    total=$(awk -v t="$total" -v s="$(timed_removal --printer "$printer")" 'BEGIN { print t + s }')
  done
  singles+=" $total"
  seed_printers
  set_args=()
  for printer in "${printers[@]}"; do set_args+=(--printer "$printer"); done
  sets+=" $(timed_removal "${set_args[@]}")"
done

wine "$bin/bench_driver_store.exe" seed 'C:\kbench' "$store_driver" >/dev/null
scan=$(wine "$bin/bench_driver_store.exe" scan-set 'C:\kbench' "$store_driver" 5 | tr -d '\r') ||
  fail "the set's scan did not find the seeded matches"
value() { sed -n "s/^$1=//p" <<<"$scan"; }

awk -v names="$names" -v single="$(best <<<"$singles")" -v set="$(best <<<"$sets")" \
  -v single_runs="${singles# }" -v set_runs="${sets# }" \
  -v one="$(value one_name_seconds)" -v ten="$(value ten_names_seconds)" \
  -v one_runs="$(value one_name_runs)" -v ten_runs="$(value ten_names_runs)" \
  -v matches="$(value set_matches)" -v read_here="$(value registrations_read)" \
  -v one_read="$(value one_name_registrations_seconds)" \
  -v ten_read="$(value ten_names_registrations_seconds)" '
  function verdict(ok) { return ok ? "met" : "NOT met" }
  BEGIN {
    printf "%-52s %9s %9s\n", "removal of " names " printers", "seconds", "ratio"
    printf "%-52s %9.3f\n", names " runs of one name (spooler stopped " names " times)", single
    printf "%-52s %9.3f %9.2f\n", "one run of the set (spooler stopped once)", set, set / single
    printf "rounds (s): single runs %s; the set %s\n", single_runs, set_runs
    printf "%-52s %9s %9s\n", "preview package scan (" matches " matches of 10 names)", "seconds", "ratio"
    here = read_here ? "matched INFs read again, whole" : "no vendor monitor registered"
    printf "%-52s %9.4f\n", "one name (" here ")", one
    printf "%-52s %9.4f %9.2f\n", "ten names", ten, ten / one
    printf "rounds (s): one name %s; ten names %s\n", one_runs, ten_runs
    printf "%-52s %9.4f\n", "one name, every matched INF read whole", one_read
    printf "%-52s %9.4f %9.2f\n", "  (as where a vendor monitor is registered) ten names", ten_read, ten_read / one_read
    if (names == 2)
      printf "goal two printers in one run <= 6.5 s: %.3f s, %s\n", set, verdict(set <= 6.5)
    printf "goal ten names scan <= 2 x one name: %.2f, %s\n", ten / one, verdict(ten <= 2 * one)
  }'
