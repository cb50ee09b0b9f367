#!/usr/bin/env bash
# Builds what dravik ships into ./dist (installs the tools first when they are
# missing):
#   dist/dravik                   fully static x86-64 binary, stripped, Release;
#                                 two builds of one commit are byte-identical
#   dist/dravik_<version>_amd64.deb
#   dist/SHA256SUMS
# The build directory is ./build-package.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

missing=()
for pkg in cmake g++ make libc6-dev binutils help2man gzip dpkg-dev lintian; do
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

build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDRAVIK_STATIC=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DDRAVIK_BUILD_TESTS=OFF -DDRAVIK_BUILD_PERF=OFF >/dev/null
log=$build/link.log
if ! cmake --build "$build" -j"$(nproc)" >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
# A static glibc warns when the program calls something that loads shared
# objects at run time (NSS: getpwnam, getaddrinfo; dlopen; iconv); such a call
# would fail on a box without the matching libraries, so none may be there.
if grep -E 'statically linked applications' "$log"; then
  echo "package: the static build warns (above)" >&2
  exit 1
fi

binary=$build/dravik
if readelf -lW "$binary" | grep -q INTERP || readelf -dW "$binary" | grep -q NEEDED; then
  echo "package: $binary is not fully static" >&2
  exit 1
fi

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/cpack/dravik_*_amd64.deb)

mkdir -p dist
rm -f dist/dravik dist/dravik_*_amd64.deb dist/SHA256SUMS
cp "$binary" dist/dravik
cp "$deb" dist/
lintian --fail-on error "dist/$(basename "$deb")"
(cd dist && sha256sum dravik "$(basename "$deb")" >SHA256SUMS)
echo "package: built into dist/"
cat dist/SHA256SUMS
