#!/bin/sh
# The Debian packages of make package: names, architectures, Multi-Arch and
# contents for amd64 and armhf, no header directly in the include directory,
# and the out-of-tree consumer built against the unpacked amd64 development
# package.
#   packages.sh PACKAGE_DIR TESSEL_SOURCE WORK
set -eu
dir=$(cd "$1" && pwd) src=$(cd "$2" && pwd) work=$(mkdir -p "$3" && cd "$3" && pwd)
fail=0
field() { dpkg-deb --field "$2" "$1"; }
expect() {  # what, got, want
  if [ "$2" != "$3" ]; then echo "FAIL: $1: '$2', want '$3'"; fail=1; else echo "ok: $1: $2"; fi
}
for arch in amd64 armhf; do
  case $arch in amd64) triplet=x86_64-linux-gnu elf=X86-64 ;; armhf) triplet=arm-linux-gnueabihf elf=ARM ;; esac
  dev=$(ls "$dir"/libtessel-dev_*_$arch.deb) tools=$(ls "$dir"/tessel-tools_*_$arch.deb)
  expect "$arch dev architecture" "$(field Architecture "$dev")" $arch
  expect "$arch dev Multi-Arch" "$(field Multi-Arch "$dev")" same
  expect "$arch tools architecture" "$(field Architecture "$tools")" $arch
  expect "$arch tools Multi-Arch" "$(field Multi-Arch "$tools")" foreign
  files=$(dpkg-deb -c "$dev" | awk '{print $6}')
  for f in usr/include/tessel/i2c.h usr/include/tessel/Log.h usr/include/tessel/pmbus_format.h \
           usr/lib/$triplet/libtessel.a usr/lib/$triplet/libtessel_support.a usr/lib/$triplet/libtessel_pmbus.a \
           usr/lib/$triplet/cmake/tessel/tesselConfig.cmake \
           usr/lib/$triplet/pkgconfig/tessel.pc; do
    printf '%s\n' "$files" | grep -qx "./$f" || { echo "FAIL: $arch dev lacks $f"; fail=1; }
  done
  if printf '%s\n' "$files" | grep -E '^\./usr/include/[^/]+\.h$'; then
    echo "FAIL: $arch dev puts a header directly in usr/include"; fail=1
  fi
  rm -rf "$work/$arch" && mkdir -p "$work/$arch"
  dpkg-deb -x "$tools" "$work/$arch"
  readelf -h "$work/$arch/usr/bin/tessel-smbus" | grep -q "Machine:.*$elf" || { echo "FAIL: $arch tool is not $elf"; fail=1; }
done
# A program built against the unpacked amd64 development package, both ways.
root=$work/amd64-dev
rm -rf "$root" && dpkg-deb -x "$(ls "$dir"/libtessel-dev_*_amd64.deb)" "$root"
cmake -S "$src/test/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer" >/dev/null && echo "ok: consumer built with find_package(tessel) against the package" \
  || { echo "FAIL: consumer does not build against the package"; fail=1; }
"$work/amd64/usr/bin/tessel-smbus" --help | grep -q block-read && echo "ok: the packaged tessel-smbus --help runs" \
  || { echo "FAIL: packaged tessel-smbus --help"; fail=1; }
exit $fail
