#!/usr/bin/env bash
# Installs what building and testing need on Debian 12; does nothing when all is present.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake make g++ clang libclang-rt-14-dev clang-format valgrind
  googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine64 fonts-wine xvfb x11-utils xauth imagemagick python3
  # The licence signer (tools/idrovan-licence) and its tests.
  python3-cryptography
  # Reading saved reports (header-only), and checking the JSON the tests see against its schemas.
  rapidjson-dev python3-jsonschema
  # Release packages: MSIs (wixl, msibuild), Authenticode signatures, and the zips' checks.
  wixl msitools osslsigncode unzip openssl
  # The winget manifests (YAML), written with the packages and checked against their schemas.
  python3-yaml
  # Signing from a PKCS#11 token (OpenSSL's PKCS#11 engine), and the software token the
  # package test signs from.
  libengine-pkcs11-openssl softhsm2
  # The SDK's MSVC-style import library (llvm-dlltool), and its MSVC-ABI consumer test (clang,
  # lld-link).
  llvm lld
)

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

installed() {
  [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true) == "install ok installed" ]]
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Whether the kernel runs 32-bit x86 Linux programs, which 32-bit Wine is. Asked of the kernel
# itself with the smallest such program (an ELF header, one program header and exit(42) through
# int 0x80), because some kernels are built without that support: there the wine32 package
# would make /usr/bin/wine choose a loader that cannot start, and every Wine run would fail.
kernel_runs_i386() {
  local probe status=0
  mkdir -p "$root/build"
  probe=$(mktemp "$root/build/i386-probe.XXXXXX")
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0' >"$probe"
  printf '\2\0\3\0\1\0\0\0\124\200\4\010\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >>"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\140\0\0\0\140\0\0\0\5\0\0\0\0\020\0\0' >>"$probe"
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  ((status == 42))
}

# 32-bit Wine, for testing the 32-bit program.
if ! installed wine32:i386; then
  if kernel_runs_i386; then
    echo "setup: installing wine32:i386"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends wine32:i386
  else
    echo "setup: this kernel cannot run 32-bit programs, so 32-bit Windows programs cannot run under Wine here; wine32 is not installed"
  fi
fi
