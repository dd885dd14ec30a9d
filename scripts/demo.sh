#!/usr/bin/env bash
# Opens Uninstall.exe on a demo machine: installs what is missing, builds the
# shipped i686 preset (with the 64-bit Uninstall.exe it hands over to), makes a
# private Wine prefix in build/demo, puts a few printers and x64 drivers into
# its spooler as the 64-bit setup leaves a 64-bit PC (Chinese and English
# names, a shared driver, a printer named like its driver, a driver without
# printer, each driver with its driver-store package) and opens the packaged
# uninstaller there: the 32-bit Uninstall.exe, which starts x64\Uninstall.exe.
#   With a DISPLAY: the window appears; the script ends when it is closed.
#   Without one: it runs under Xvfb, a picture of the dialog is saved to
#   build/demo/uninstall.png and the program is closed again.
# Nothing outside build/ is touched; the user's own Wine prefix is not used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
mkdir -p build
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686 -j "$(nproc)" >build/mingw-i686.build.log 2>&1 ||
  { cat build/mingw-i686.build.log; echo "demo: the build failed" >&2; exit 1; }

bin="$root/build/mingw-i686/bin"
demo="$root/build/demo"
session="$root/tests/support/wine-session.sh"
# The package as a user unpacks it: Uninstall.exe and x64/Uninstall.exe.
package="$demo/package"
mkdir -p "$package/x64"
cp "$bin/Uninstall.exe" "$package/Uninstall.exe"
cp "$bin/native64/Uninstall.exe" "$package/x64/Uninstall.exe"
export SEEDER="$bin/native64/demo_machine.exe" UNINSTALL="$package/Uninstall.exe"
probes="$bin"
# Only a machine that runs no 32-bit programs even under qemu (install-deps.sh
# said why) opens the 64-bit program that the 32-bit one would start, and
# drives it with the 64-bit probe.
if ! "$session" runs-32-bit; then
  echo "demo: this machine runs no 32-bit programs; opening x64\Uninstall.exe directly" >&2
  UNINSTALL="$package/x64/Uninstall.exe"
  probes="$bin/native64"
fi
had_display=${DISPLAY:-}
"$session" start "$demo"
trap '"$session" stop "$demo"' EXIT

if [ -n "$had_display" ]; then
  # shellcheck disable=SC1091
  . "$demo/wine/env"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  wine "$SEEDER" seed
  echo "demo: Uninstall.exe is open on $DISPLAY; close it (or press 取消) to end the demo"
  wine "$UNINSTALL"
  # The 32-bit program has handed over to the 64-bit one: wait for that too.
  while pgrep -f 'x64.Uninstall\.exe' >/dev/null; do sleep 1; done
else
  BIN="$probes" bash tests/support/dialog-screenshot.sh "$demo" "$demo/uninstall.png"
  echo "demo: no display here, so Uninstall.exe ran under Xvfb; its dialog is in $demo/uninstall.png"
fi
