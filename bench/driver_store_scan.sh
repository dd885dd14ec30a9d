#!/usr/bin/env bash
# Times the driver package scan that a removal runs, against reading every
# candidate file once and against grep.
#
#   bash bench/driver_store_scan.sh [BUILD]      (BUILD: see bench_build in bench-session.sh)
#
# In a private Wine prefix of its own (build/bench-scan), bench_driver_store seeds C:\kbench\windows as
# a Windows 10 x64 PC has it: 1,000 driver-store packages, nine in ten of them
# Windows' own (published in the inf folder under their own INF names, two of
# them listing the removed driver), the others published as oemN.inf with
# their PNFs: three naming the removed driver (its package, an older version
# of it, and a fax model's package that an installed driver still uses), 22
# other printer packages (among them the largest INF, 8 MiB), and 75 of other
# device classes (display and audio INFs of megabytes among them), and Windows
# Update's newer version of one of Windows' own INFs, published as an oem INF
# and naming the removed driver (its store folder is named after Windows' own
# INF); every package with its catalog, PNF and payload, some with an amd64\
# folder; and folders of counter files in the inf folder. Windows' own INFs
# are UTF-16 LE, and so are about half of the third-party ones (the removed
# driver's package, the fax model's, and the largest among them). The store and the inf folder
# lie where the engine's own lookups find them.
#
# Then, in one Wine process, it times
#  - the scan as PlanRemoval runs it: ScanDriverPackages with the removed
#    driver and 20 installed drivers that stay;
#  - reading every candidate once: the walk of the store's INFs and the inf
#    folder's oem files, each file read whole (the walk alone is shown too);
# and from Linux `grep -rlaP` for NAME in ANSI or UTF-16 LE over the same two
# trees. It does so in
# REPEATS rounds (default 5), each a fresh bench process and then grep, so
# that a change in the machine's load falls on all three alike; each time is
# the best of its rounds, on a warm page cache, and the ratios compare those.
# Memory comes from GetProcessMemoryInfo in the bench process:
# PeakWorkingSetSize after its first scan minus WorkingSetSize before it, the
# largest of the rounds.
#
# The bench fails (exit 3) when the scan finds other matches than the seeded
# ones (each difference is named), passes over another number of Windows' own
# packages, or when the reading of every candidate or grep finds another
# number of files than seeded. Goals: scan <= 0.5 x reading every candidate
# once; scan <= grep; memory growth <= largest INF + 16 MiB. The session's
# prefix, with the seeded folder, is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck disable=SC1091
. "$root/bench/bench-session.sh"
build=$(bench_build "${1:-}")
repeats=${REPEATS:-5}
name="KBench LaserJet 7788 PCL6"
# The name as ANSI (ASCII) or as UTF-16 LE, for grep -P.
utf16=$(sed 's/./&\\x00/g' <<<"$name")
pattern="$name|$utf16"
bench="$build/bin/bench_driver_store.exe"

cmake --build "$build" --target bench_driver_store >/dev/null
start_bench_session "$root/build/bench-scan"

seeded="$WINEPREFIX/drive_c/kbench"
seed=$(wine "$bench" seed 'C:\kbench' "$name" | tr -d '\r')
value() { sed -n "s/^$1=//p" <<<"$2"; }

# The Linux path of a C:\ path in the prefix (the seeder created every folder
# with the case it names it with).
linux_path() { sed -e 's|^C:\\|'"$WINEPREFIX"'/drive_c/|' -e 's|\\|/|g' <<<"$1"; }
repository=$(linux_path "$(value repository "$seed")")
inf=$(linux_path "$(value inf "$seed")")

# Seconds that grep takes over both trees; fails when it does not find the
# seeded files.
time_grep() {
  local start end found
  start=$(date +%s%N)
  found=$(grep -rlaP "$pattern" "$repository" "$inf" | wc -l)
  end=$(date +%s%N)
  if [ "$found" != "$(value grep_matches "$seed")" ]; then
    echo "driver_store_scan: grep found $found files, $(value grep_matches "$seed") seeded" >&2
    return 3
  fi
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }'
}

# REPEATS rounds, each a bench process (its scan, reading every candidate
# and the walk) followed by grep, so that a change in the machine's load
# falls on all of them alike; each figure is the best of its rounds, the
# memory growth the largest.
best() { tr ' ' '\n' | sed '/^$/d' | sort -g | head -1; }
scans="" alls="" walks="" greps="" growth=0
for _ in $(seq "$repeats"); do
  out=$(wine "$bench" scan 'C:\kbench' "$name" 1 | tr -d '\r')
  scans+=" $(value scan_seconds "$out")"
  alls+=" $(value read_all_seconds "$out")"
  walks+=" $(value walk_seconds "$out")"
  greps+=" $(time_grep)"
  round=$(($(value peak_working_set_after "$out") - $(value working_set_before "$out")))
  [ "$round" -gt "$growth" ] && growth=$round
done

awk -v scan="$(best <<<"$scans")" -v scan_runs="${scans# }" \
  -v all="$(best <<<"$alls")" -v all_runs="${alls# }" -v grep_runs="${greps# }" \
  -v walk="$(best <<<"$walks")" -v grep_s="$(best <<<"$greps")" -v growth="$growth" \
  -v files="$(value candidate_files "$out")" -v bytes="$(value candidate_bytes "$out")" \
  -v opened="$(value scan_files_opened "$out")" -v read="$(value scan_bytes_read "$out")" \
  -v largest="$(value largest_inf_bytes "$out")" -v matches="$(value matches "$out")" \
  -v windows="$(value windows_packages "$out")" '
  function mb(b) { return b / 1048576 }
  function verdict(ok) { return ok ? "met" : "NOT met" }
  BEGIN {
    printf "candidates: %d files, %.1f MiB (every store INF, every oem file), largest %.1f MiB\n",
      files, mb(bytes), mb(largest)
    printf "scan: %d matches as seeded, %d of Windows'"'"' own packages passed over unread;\n", matches, windows
    printf "      opened %d files and read %.1f MiB of them\n", opened, mb(read)
    printf "%-46s %9s %9s\n", "pass", "seconds", "scan/it"
    printf "%-46s %9.4f\n", "ScanDriverPackages (20 remaining drivers)", scan
    printf "%-46s %9.4f %9.2f\n", "reading every candidate once (walk + read)", all, scan / all
    printf "%-46s %9.4f %9.2f\n", "  of which the walk alone", walk, scan / walk
    printf "%-46s %9.4f %9.2f\n", "grep -rlaP, ANSI or UTF-16 (Linux)", grep_s, scan / grep_s
    printf "rounds (s): scan %s; reading every candidate %s; grep %s\n", scan_runs, all_runs, grep_runs
    budget = largest + 16 * 1048576
    printf "goal scan <= 0.5 x reading every candidate once: %.2f, %s\n", scan / all, verdict(scan <= 0.5 * all)
    printf "goal scan <= grep:                               %.2f, %s\n", scan / grep_s, verdict(scan <= grep_s)
    printf "goal memory growth <= largest INF + 16 MiB = %.1f MiB: %+.1f MiB, %s\n",
      mb(budget), mb(growth), verdict(growth <= budget)
  }'
