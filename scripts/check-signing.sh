#!/usr/bin/env bash
# Checks a release's signing on a built tree: makes a throwaway self-signed
# code-signing certificate, builds the package signed with it (the package
# step of the build, through cpack, as a release does), verifies the
# signature of every program in the ZIP, and starts the signed
# UninstallCli.exe --version in the build's own Wine session, which must
# print the project's version.
#
#   scripts/check-signing.sh [BUILD]
#
# BUILD is a configured and built build folder; by default the shipped
# build/mingw-i686, or build/mingw-x64 where this machine runs no 32-bit
# programs. The certificate is trusted for the verification only (its chain
# leads nowhere else); the signatures themselves must verify. To show that
# the verification can fail, an unsigned program and a signed one with one
# byte changed must both be refused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${1:-}
if [ -z "$build" ]; then
  build=build/mingw-x64
  ! tests/support/wine-session.sh runs-32-bit || build=build/mingw-i686
fi
build=$(cd "$build" && pwd)
fail() { echo "check-signing: $*" >&2; exit 1; }
[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build folder"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

# The key and its password stay in a private folder outside the build.
keys=$(mktemp -d)
chmod 700 "$keys"
work="$build/signing"
stop_session() { WINE_SESSION=signing tests/support/wine-session.sh stop "$build" || true; }
trap 'rm -rf "$keys"; stop_session' EXIT
rm -rf "$work"
mkdir -p "$work/package"

openssl rand -hex 16 >"$keys/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KAVRO signing check" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
  -keyout "$keys/key.pem" -out "$keys/certificate.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/certificate.pem" \
  -out "$keys/certificate.p12" -passout "file:$keys/password"

# The password goes the way of a CI secret: in the environment.
SIGNING_CERTIFICATE="$keys/certificate.p12" SIGNING_PASSWORD="$(cat "$keys/password")" \
  cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "the signed package could not be built"; }
! grep -qF "$(cat "$keys/password")" "$work/cpack.log" || fail "the package step printed the password"
zips=("$work"/out/KAVROPrinterDriver-"$version"-*.zip)
[ -f "${zips[0]}" ] || fail "no package named after version $version in $work/out"
(cd "$work/package" && cmake -E tar xf "${zips[0]}")

verifies() { osslsigncode verify -CAfile "$keys/certificate.pem" -in "$1" >"$work/verify.log" 2>&1; }
mapfile -t programs < <(find "$work/package" -name '*.exe' | sort)
# Installer, Uninstall and UninstallCli, and in a 32-bit build their 64-bit copies.
[ ${#programs[@]} -ge 3 ] || fail "only ${#programs[@]} programs in the package"
for program in "${programs[@]}"; do
  verifies "$program" || { cat "$work/verify.log"; fail "the signature of ${program#"$work/"} does not verify"; }
done

# The check itself: an unsigned program, and a signed one changed after it
# was signed, are refused.
! verifies "$build/bin/UninstallCli.exe" || fail "an unsigned program passed the verification"
cp "${programs[0]}" "$work/tampered.exe"
offset=8192
byte=$(od -An -tu1 -j $offset -N1 "$work/tampered.exe" | tr -d ' ')
printf "\\x$(printf %02x $((255 - byte)))" | dd of="$work/tampered.exe" bs=1 seek=$offset conv=notrunc 2>/dev/null
! verifies "$work/tampered.exe" || fail "a program changed after signing passed the verification"

# Signing left the programs runnable: the signed console program (in a
# 32-bit build handing over to its signed 64-bit copy) says its version.
said=$(WINE_SESSION=signing tests/support/wine-run.sh "$work/package/UninstallCli.exe" --version </dev/null | tr -d '\r')
[ "$said" = "$version" ] || fail "the signed UninstallCli.exe --version said \"$said\", not \"$version\""

echo "check-signing: ${#programs[@]} programs of $(basename "${zips[0]}") signed and verified; the signed UninstallCli.exe says $version"
