#!/usr/bin/env bash
# Installs what building and testing Quorvel needs, from Debian's packages.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake
  make
  g++-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix
  wine64
  xvfb
  xauth
  xdotool
  x11-utils
  imagemagick
  python3
  googletest
  clang
  libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
