#!/usr/bin/env bash
# Builds what dravik ships into ./dist (installs the tools first when they are
# missing):
#   dist/dravik                   fully static x86-64 binary, stripped, Release;
#                                 two builds of one commit are byte-identical
#   dist/dravik_<version>_amd64.deb
#   dist/dravik-aarch64           the same for 64-bit ARM (cross-compiled with
#                                 Debian's g++-aarch64-linux-gnu)
#   dist/dravik_<version>_arm64.deb
#   dist/dravik-armhf             the same for 32-bit ARM, ARMv7 hard float
#                                 (Debian's g++-arm-linux-gnueabihf)
#   dist/dravik_<version>_armhf.deb
#   dist/SHA256SUMS               every file above
# The build directories are ./build-package, ./build-package-aarch64 and
# ./build-package-armhf. The ARM packages carry the man page of the x86-64 build: help2man reads it from
# the binary's --help and --version, which say the same on both processors,
# and the ARM binary does not run here without an emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

missing=()
for pkg in cmake g++ make libc6-dev binutils help2man gzip dpkg-dev lintian \
  g++-aarch64-linux-gnu libc6-dev-arm64-cross binutils-aarch64-linux-gnu \
  g++-arm-linux-gnueabihf libc6-dev-armhf-cross binutils-arm-linux-gnueabihf; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# Dates that reach the package (the man page's, the archive members') are the
# commit's, not the clock's.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || stat -c %Y CMakeLists.txt)
fi
export SOURCE_DATE_EPOCH

# Builds the static binary and the package in the build directory $1 (further
# arguments go to cmake); leaves the binary as $1/dravik.
build_static() {
  local build=$1
  shift
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDRAVIK_STATIC=ON -DCMAKE_INSTALL_PREFIX=/usr \
    -DDRAVIK_BUILD_TESTS=OFF -DDRAVIK_BUILD_PERF=OFF "$@" >/dev/null
  local log=$build/link.log
  if ! cmake --build "$build" -j"$(nproc)" >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  # A static glibc warns when the program calls something that loads shared
  # objects at run time (NSS: getpwnam, getaddrinfo; dlopen; iconv); such a
  # call would fail on a box without the matching libraries, so none may be
  # there.
  if grep -E 'statically linked applications' "$log"; then
    echo "package: the static build in $build warns (above)" >&2
    exit 1
  fi
  local binary=$build/dravik
  if readelf -lW "$binary" | grep -q INTERP || readelf -dW "$binary" | grep -q NEEDED; then
    echo "package: $binary is not fully static" >&2
    exit 1
  fi
  (cd "$build" && cpack -G DEB >/dev/null)
}

build=build-package
build_static "$build"
deb=$(ls "$build"/cpack/dravik_*_amd64.deb)

arm=build-package-aarch64
build_static "$arm" --toolchain cmake/aarch64-linux-gnu.cmake \
  -DDRAVIK_MAN_PAGE="$PWD/$build/dravik.1.gz"
arm_deb=$(ls "$arm"/cpack/dravik_*_arm64.deb)

armhf=build-package-armhf
build_static "$armhf" --toolchain cmake/arm-linux-gnueabihf.cmake \
  -DDRAVIK_MAN_PAGE="$PWD/$build/dravik.1.gz"
armhf_deb=$(ls "$armhf"/cpack/dravik_*_armhf.deb)

mkdir -p dist
rm -f dist/dravik dist/dravik-aarch64 dist/dravik-armhf dist/dravik_*_amd64.deb dist/dravik_*_arm64.deb \
  dist/dravik_*_armhf.deb dist/SHA256SUMS
cp "$build/dravik" dist/dravik
cp "$arm/dravik" dist/dravik-aarch64
cp "$armhf/dravik" dist/dravik-armhf
cp "$deb" "$arm_deb" "$armhf_deb" dist/
for package in "$deb" "$arm_deb" "$armhf_deb"; do
  lintian --fail-on error "dist/$(basename "$package")"
done
(cd dist && sha256sum dravik "$(basename "$deb")" dravik-aarch64 "$(basename "$arm_deb")" \
  dravik-armhf "$(basename "$armhf_deb")" >SHA256SUMS)
echo "package: built into dist/"
cat dist/SHA256SUMS
