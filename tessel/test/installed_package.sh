#!/bin/sh
# Installs the built library into a scratch prefix and builds programs
# outside the tree against it: with find_package, with pkg-config, and with
# their own support layer and libtessel.a alone.
set -eu
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$src/test/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/uses_package" 2>/dev/null
"$work/consumer/own_support"
"$work/consumer/decodes_pmbus"
PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" \
  c++ -o "$work/pc_program" "$src/test/consumer/uses_package.cpp" $(PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig" pkg-config --cflags --libs tessel)
"$work/pc_program" 2>/dev/null
echo "installed package: find_package (the transfers and the PMBus formats), pkg-config and own support layer all link and run"
