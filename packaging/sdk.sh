# Sourced by scripts/package.sh: the SDK of idrovan.dll for each architecture.
#   sdk_build_targets                  the CMake targets the SDK needs beside the programs
#   sdk_stage_dll <arch> <build> <dir> the built DLL, checked and (when signing) signed, into dir
#   sdk_make <arch> <build> <dir>      build/dist's idrovan-sdk-<version>-<arch>.zip, with dir's DLL
# They use package.sh's version, stamp, pe_format, signing, sign, fail, dist and root.

sdk_build_targets() { echo idrovan_dll; }

sdk_stage_dll() {
  local arch=$1 build=$2 dir=$3 built format built_version
  built=$build/api/idrovan.dll
  [[ -f $built ]] || fail "$built is missing: build it (target idrovan_dll)"
  [[ -f $built.debug ]] || fail "$built.debug (its symbols) is missing: build idrovan_dll again"
  format=$(objdump -f "$built" | sed -n 's/.*file format \(.*\)$/\1/p')
  [[ $format == "${pe_format[$arch]}" ]] || fail "$built is $format, not ${pe_format[$arch]}"
  built_version=$(python3 packaging/file_version.py "$built") || fail "$built has no version resource"
  [[ $built_version == "$version" ]] ||
    fail "$built is version $built_version, the package $version: build it again (without --no-build)"
  mkdir -p "$dir"
  cp "$built" "$dir/idrovan.dll"
  if $signing; then sign "$dir/idrovan.dll"; fi
}

sdk_make() {
  local arch=$1 build=$2 dir=$3 notices=$4
  python3 packaging/make_sdk.py --arch "$arch" --version "$version" --stamp "$stamp" \
    --out "$dist/idrovan-sdk-$version-$arch.zip" --dll "$dir/idrovan.dll" \
    --debug "$build/api/idrovan.dll.debug" --guide docs/library.md \
    --implib "$build/api/libidrovan.dll.a" --def api/idrovan.def --header include/idrovan.h \
    --license LICENSE --notices "$notices" || fail "could not make the $arch SDK"
}
