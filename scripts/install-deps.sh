#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine: the
# MinGW-w64 cross compilers, 32- and 64-bit Wine with its own fonts (the
# caption buttons are drawn with Marlett), Xvfb, the GoogleTest sources, CMake
# and Ninja, a CJK font, the Chinese locale, Python (it draws the icon at build
# time), the header-only nlohmann JSON library (UninstallCli's reports) and
# procps.
# A second run only checks.
set -euo pipefail

packages=(
  cmake ninja-build googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  fonts-wqy-microhei locales python3 procps nlohmann-json3-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  install_missing() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "$@" "${missing[@]}" >/dev/null
  }
  # A mirror caught mid-sync fails an index or two ("File has unexpected
  # size"); such an update is tried again, and an install that still cannot
  # resolve (the i386 twin of a package the security suite updated is missing)
  # is retried against the main suites alone, whose two architectures agree.
  for attempt in 1 2 3; do
    as_root apt-get update -qq && break
    echo "install-deps: apt-get update failed (attempt $attempt)" >&2
    sleep 20
  done
  if ! install_missing; then
    echo "install-deps: retrying without the security suite" >&2
    alternative=$(mktemp -d)
    printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' \
      'Suites: bookworm bookworm-updates' 'Components: main' \
      'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' >"$alternative/debian.sources"
    install_missing -o Dir::Etc::SourceParts="$alternative" -o Dir::Etc::SourceList=/dev/null
    rm -rf "$alternative"
  fi
fi

# Wine falls back to code page 1252 unless the Chinese locale exists.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  echo "install-deps: generating zh_CN.UTF-8"
  as_root localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
