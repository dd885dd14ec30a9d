#!/usr/bin/env bash
# dialog-screenshot.sh BUILD OUT.png [--remove-seeds] [--running RUNNING.png]
# Seeds the demo printers and drivers into BUILD's Wine session, opens
# Uninstall.exe, answers its opening warning, saves a picture of the dialog
# (cropped from the screen) to OUT.png and closes the program again. With
# --remove-seeds the demo printers and drivers are taken out afterwards.
# With --running, the demo printer "Front Desk Printer" (its driver is shared)
# is then selected and "卸载" pressed, and a second picture, of the dialog
# while the command runs, goes to RUNNING.png. Closing the program then ends
# it in the middle of the command, as "取消" does (usually still in the
# spooler restart at the start of the run, before anything is removed), or,
# on a machine slow enough for the command to reach its result first, once
# the probe has answered the result box.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build folder}" && pwd)
out=${2:?output png}
shift 2
remove=
running=
while [ $# -gt 0 ]; do
  case "$1" in
    --remove-seeds) remove=--remove-seeds ;;
    --running) running=${2:?running png}; shift ;;
    *) echo "dialog-screenshot: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
bin=${BIN:-$build/bin}
# The seeder and the program to open: by default those of BUILD; the demo
# seeds with the 64-bit seeder and opens the packaged program.
seeder=${SEEDER:-$bin/demo_machine.exe}
program_exe=${UNINSTALL:-$bin/Uninstall.exe}

"$here/wine-session.sh" ensure "$build"
# shellcheck disable=SC1091
. "$build/wine${WINE_SESSION:+-$WINE_SESSION}/env"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$(dirname "$out")"

wine "$seeder" seed
# The program runs in the background with no stdio of ours, so that nobody
# waiting for our output waits for it too.
wine "$program_exe" </dev/null >/dev/null 2>&1 8>&- 9>&- &
program=$!

# shot PROBE-COMMAND... : runs dialog_probe, which prints the dialog's
# rectangle once it is ready, and saves that part of the screen to $picture.
shot() {
  local rect x y w h
  if rect=$(wine "$bin/dialog_probe.exe" "$@" | tr -d '\r'); then
    read -r x y w h <<<"$rect"
    import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$picture"
    echo "dialog-screenshot: saved $picture"
  else
    echo "dialog-screenshot: dialog_probe $* did not find what it waits for" >&2
    import -display "$DISPLAY" -window root "$picture" || true
    return 1
  fi
}

status=0
picture=$out
shot ready || status=1
if [ -n "$running" ] && [ $status = 0 ]; then
  mkdir -p "$(dirname "$running")"
  picture=$running
  shot press "Front Desk Printer" || status=1
fi

wine "$bin/dialog_probe.exe" close || true
# (The packaged 32-bit program has ended long before: right after starting
# its 64-bit copy, whose dialog the probe closed.)
for _ in $(seq 150); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$program" 2>/dev/null; then
  echo "dialog-screenshot: Uninstall.exe did not end" >&2
  kill "$program" 2>/dev/null || true
  status=1
fi

if [ "$remove" = --remove-seeds ]; then
  wine "$seeder" remove || status=1
fi
exit $status
