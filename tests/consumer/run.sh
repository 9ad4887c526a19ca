#!/bin/sh
# Installs the build into a staging directory, then builds two outside programs against it
# (pkg-config and find_package) and runs each in the sandbox.
# usage: run.sh BUILD_DIR PREFIX SANDBOX DATA_DIR
set -eu
build=$1
prefix=$2
sandbox=$3
data=$4
here=$(cd "$(dirname "$0")" && pwd)
work="$build/consumer"
stage="$work/stage"
rm -rf "$work"
mkdir -p "$work"

DESTDIR="$stage" cmake --install "$build" >/dev/null
root="$stage$prefix"
for f in lib/libvokimage.so.1 lib/libvokimage.so include/vokimage/vokimage.h \
    lib/pkgconfig/vokimage.pc lib/cmake/VokImage/VokImageConfig.cmake bin/vokimage; do
    [ -e "$root/$f" ] || { echo "FAIL: $prefix/$f is not installed"; exit 1; }
done
[ -e "$stage/usr/share/wallpapers/vok-default-light.jpg" ] || { echo "FAIL: artwork not installed"; exit 1; }
[ -e "$stage/usr/share/wallpapers/16:9/vok-default.svg.in" ] || { echo "FAIL: templates not installed"; exit 1; }

# The staged copy of the .pc file, its prefix moved to the staging directory.
mkdir -p "$work/pkgconfig"
sed "s|^prefix=.*|prefix=$root|" "$root/lib/pkgconfig/vokimage.pc" >"$work/pkgconfig/vokimage.pc"
flags=$(PKG_CONFIG_PATH="$work/pkgconfig" pkg-config --cflags --libs vokimage)
# shellcheck disable=SC2086
c++ -std=c++17 -fPIC "$here/consumer.cpp" -o "$work/pkgconfig-consumer" $flags

cmake -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root" >/dev/null
cmake --build "$work/cmake" >/dev/null

for program in "$work/pkgconfig-consumer" "$work/cmake/cmake-consumer"; do
    "$sandbox" --data "$data" --keep "$build" --keep "$data" -- env LD_LIBRARY_PATH="$root/lib" "$program"
    # The program must have used the staged library.
    LD_LIBRARY_PATH="$root/lib" ldd "$program" | grep -q "$root/lib/libvokimage.so.1" ||
        { echo "FAIL: $program does not load the installed library"; exit 1; }
done
echo "PASS: both consumers built against the installed library and rendered a background"
