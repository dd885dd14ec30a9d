#!/usr/bin/env bash
# dialog-screenshot.sh BUILD OUT.png [--remove-seeds]
# Seeds the demo printers and drivers into BUILD's Wine session, opens
# Uninstall.exe, answers its opening warning, saves a picture of the dialog
# (cropped from the screen) to OUT.png and closes the program again. With
# --remove-seeds the demo printers and drivers are taken out afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build folder}" && pwd)
out=${2:?output png}
remove=${3:-}
bin=${BIN:-$build/bin}

"$here/wine-session.sh" ensure "$build"
# shellcheck disable=SC1091
. "$build/wine/env"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$(dirname "$out")"

wine "$bin/demo_machine.exe" seed
# The program runs in the background with no stdio of ours, so that nobody
# waiting for our output waits for it too.
wine "$bin/Uninstall.exe" </dev/null >/dev/null 2>&1 8>&- 9>&- &
program=$!

status=0
if rect=$(wine "$bin/dialog_probe.exe" ready | tr -d '\r'); then
  read -r x y w h <<<"$rect"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
  echo "dialog-screenshot: saved $out"
else
  echo "dialog-screenshot: the dialog or its warning did not appear" >&2
  import -display "$DISPLAY" -window root "$out" || true
  status=1
fi

wine "$bin/dialog_probe.exe" close || true
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
  wine "$bin/demo_machine.exe" remove || status=1
fi
exit $status
