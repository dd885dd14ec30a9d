#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine: the
# MinGW-w64 cross compilers, 32- and 64-bit Wine with its own fonts (the
# caption buttons are drawn with Marlett), Xvfb, the GoogleTest sources, CMake
# and Ninja, a CJK font, the Chinese locale, librsvg and ImageMagick (they draw
# the icons at build time), osslsigncode and
# OpenSSL (they sign a release's programs, and check signing with a throwaway
# certificate), the
# header-only nlohmann JSON library (UninstallCli's reports) and procps.
#
# The package's Uninstall.exe is a 32-bit program, and so is half of Wine. A
# machine whose kernel runs no 32-bit programs (its 32-bit emulation switched
# off: "Exec format error") gets them run by qemu's i386 user-mode emulator:
# qemu-user-static from the backports suite of the machine's own Debian
# sources, registered for i386 ELF programs through binfmt_misc. A machine
# that runs them itself is left alone.
# A second run only checks.
set -euo pipefail

packages=(
  cmake ninja-build googletest
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick librsvg2-bin osslsigncode openssl
  fonts-wqy-microhei locales procps nlohmann-json3-dev
)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi; }
can_be_root() { [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; }
apt_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

# A mirror caught mid-sync fails an index or two ("File has unexpected size"):
# such an update is tried again.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    as_root apt-get update -qq && return 0
    echo "install-deps: apt-get update failed (attempt $attempt)" >&2
    sleep 20
  done
  return 1
}

# Prints the machine's apt sources in deb822 form, one stanza each, leaving
# out the stanzas (and one-line entries) whose suites match the pattern $1
# (none when it is empty).
sources_without() {
  local drop=$1 file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk -v drop="$drop" 'BEGIN { RS = ""; ORS = "\n\n" }
      { skip = 0; n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) if (drop != "" && lines[i] ~ /^Suites:/ && lines[i] ~ drop) skip = 1
        if (!skip) print }' "$file"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    grep -E '^deb ' "$file" | { if [ -n "$drop" ]; then grep -vE "$drop"; else cat; fi; } | while read -r _ rest; do
      # deb [options] URI suite components... becomes a stanza.
      local options="" uri suite components
      if [[ $rest == \[* ]]; then options=${rest%%]*}; rest=${rest#*] }; fi
      read -r uri suite components <<<"$rest"
      printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: %s\n' "$uri" "$suite" "$components"
      [[ $options == *signed-by=* ]] && printf 'Signed-By: %s\n' "$(sed 's/.*signed-by=\([^ ]*\).*/\1/' <<<"$options")"
      echo
    done
  done
}

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  apt_update
  apt_install "${missing[@]}" && return 0
  # An install that cannot resolve (the i386 twin of a package that the
  # security suite updated is missing) is retried against the machine's other
  # suites alone, whose two architectures agree.
  echo "install-deps: retrying without the security suite" >&2
  local alternative
  alternative=$(mktemp -d)
  sources_without -security >"$alternative/without-security.sources"
  apt_install -o Dir::Etc::SourceParts="$alternative" -o Dir::Etc::SourceList=/dev/null "${missing[@]}"
  rm -rf "$alternative"
}

# Wine falls back to code page 1252 unless the Chinese locale exists.
generate_locale() {
  locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$' && return 0
  echo "install-deps: generating zh_CN.UTF-8"
  as_root localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
}

# --- 32-bit programs on a kernel without 32-bit emulation -------------------
wine32_loader=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
# What the registration was made with: binfmt_misc's F flag keeps the binary
# opened at registration, so an upgraded qemu needs the registration again.
registered_stamp=/run/qemu-i386-binfmt.version
# qemu 7.2 (Debian 12's own) spends about 50 s in every 32-bit Wine process
# start searching for guest address space; 8.0 and later do not.
qemu_minimum=1:8.0

runs_32_bit() { timeout 120 "$wine32_loader" --version >/dev/null 2>&1; }
qemu_version() { dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true; }
qemu_is_recent() { local v; v=$(qemu_version); [ -n "$v" ] && dpkg --compare-versions "$v" ge "$qemu_minimum"; }

# Gives up, saying why, where emulation cannot be set up; the tests then run
# the 64-bit suite alone and say so.
no_emulation() {
  echo "install-deps: this machine runs no 32-bit programs and $1; Wine runs only 64-bit programs here" >&2
  return 0
}

install_recent_qemu() {
  qemu_is_recent && return 0
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  if ! sources_without '' | grep -qE "^Suites:.*\b$codename-backports\b"; then
    # The backports suite, from the same archive as the machine's own suite.
    sources_without -security | awk -v suite="$codename" -v bp="$codename-backports" \
      'BEGIN { RS = ""; ORS = "\n\n" }
       $0 ~ "Suites:[^\n]*(^| )" suite "( |\n|$)" && !done {
         sub("Suites:[^\n]*", "Suites: " bp); print; done = 1 }' \
      | as_root tee "/etc/apt/sources.list.d/$codename-backports.sources" >/dev/null
    [ -s "/etc/apt/sources.list.d/$codename-backports.sources" ] || return 1
    apt_update || return 1
  fi
  apt_install -t "$codename-backports" qemu-user-static && qemu_is_recent
}

registration_is_current() {
  [ -f "$binfmt/qemu-i386" ] &&
    grep -qx enabled "$binfmt/qemu-i386" &&
    grep -q "^interpreter $qemu\$" "$binfmt/qemu-i386" &&
    grep -q '^flags:.*F' "$binfmt/qemu-i386" &&
    [ "$(cat "$registered_stamp" 2>/dev/null)" = "$(qemu_version)" ]
}

register_qemu_i386() {
  [ -f "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 1
  [ ! -f "$binfmt/qemu-i386" ] || echo -1 | as_root tee "$binfmt/qemu-i386" >/dev/null
  # The i386 ELF magic and mask of qemu's own binfmt configuration.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" | as_root tee "$binfmt/register" >/dev/null || return 1
  qemu_version | as_root tee "$registered_stamp" >/dev/null
}

enable_32_bit_programs() {
  [ -x "$wine32_loader" ] || return 0
  if [ ! -f "$binfmt/qemu-i386" ] && runs_32_bit; then
    return 0 # the kernel runs them itself
  fi
  registration_is_current && runs_32_bit && return 0
  can_be_root || { no_emulation "this user cannot become root to set up qemu"; return 0; }
  install_recent_qemu || { no_emulation "qemu-user-static $qemu_minimum or later could not be installed from the backports suite"; return 0; }
  register_qemu_i386 || { no_emulation "i386 programs cannot be registered with binfmt_misc"; return 0; }
  runs_32_bit || { no_emulation "Wine's 32-bit loader fails even under qemu"; return 0; }
  echo "install-deps: the kernel runs no 32-bit programs, so i386 ELF programs now run under qemu-i386-static $(qemu_version) (registered with binfmt_misc, flag F)"
}

install_packages
generate_locale
enable_32_bit_programs
