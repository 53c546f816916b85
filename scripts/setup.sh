#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; does nothing when all is present.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev clang-format valgrind
  googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb x11-utils xauth imagemagick python3
  # Release packages: MSIs (wixl, msibuild), Authenticode signatures, and the zips' checks.
  wixl msitools osslsigncode unzip openssl
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
