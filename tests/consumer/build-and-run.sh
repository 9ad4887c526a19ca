#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds two outside programs against the installed files under ROOT, unmodified (pkg-config
# and find_package), and runs each in the sandbox, checking that it loads ROOT's library.
# usage: build-and-run.sh ROOT LIBDIR SANDBOX DATA_DIR WORK
set -eu
root=$1
libdir=$2
sandbox=$3
data=$4
work=$5
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
for f in "$libdir/libvokimage.so.1" "$libdir/libvokimage.so" include/vokimage/vokimage.h \
    include/vokimage/version.h "$libdir/pkgconfig/vokimage.pc" \
    "$libdir/cmake/VokImage/VokImageConfig.cmake" bin/vokimage share/man/man1/vokimage.1* \
    share/wallpapers/vok-default-light.jpg share/wallpapers/16:9/vok-default.svg.in; do
    # shellcheck disable=SC2086
    [ -e "$root/"$f ] || { echo "FAIL: $f is not installed under $root"; exit 1; }
done

# The installed .pc file as it is. A /usr install names its prefix plainly, so pkg-config
# leaves out its system folders; the unpacked root stands where /usr would be. Any other
# install finds its prefix from where the .pc file lies.
export PKG_CONFIG_PATH="$root/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs vokimage)
if grep -qx 'prefix=/usr' "$root/$libdir/pkgconfig/vokimage.pc"; then
    case "$flags" in
    *"/../"* | *"-I/usr/include "* | *"-L/usr/lib"*) echo "FAIL: vokimage.pc for /usr gives: $flags"; exit 1 ;;
    esac
    flags="-I$root/include -L$root/$libdir $flags"
elif ! [ "$(pkg-config --variable=includedir vokimage)" -ef "$root/include" ]; then
    echo "FAIL: vokimage.pc does not point into $root"
    exit 1
fi
# shellcheck disable=SC2086
c++ -std=c++17 -fPIC "$here/consumer.cpp" -o "$work/pkgconfig-consumer" $flags

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/cmake" >/dev/null

for program in "$work/pkgconfig-consumer" "$work/cmake/cmake-consumer"; do
    "$sandbox" --data "$data" --keep "$root" --keep "$work" --keep "$data" -- \
        env LD_LIBRARY_PATH="$root/$libdir" "$program"
    LD_LIBRARY_PATH="$root/$libdir" ldd "$program" | grep -q "$root/$libdir/libvokimage.so.1" ||
        { echo "FAIL: $program does not load the installed library"; exit 1; }
done
