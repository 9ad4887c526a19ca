#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs the build twice, into another prefix and into a staging directory (DESTDIR), and
# builds and runs two outside programs against each, using the installed files unmodified.
# usage: run.sh BUILD_DIR PREFIX LIBDIR SANDBOX DATA_DIR
set -eu
build=$1
prefix=$2
libdir=$3
sandbox=$4
data=$5
here=$(cd "$(dirname "$0")" && pwd)
work="$build/consumer"
rm -rf "$work"
mkdir -p "$work"

# Staged first: a prefix install writes nothing outside its prefix.
DESTDIR="$work/guard" cmake --install "$build" --prefix "$work/moved" >/dev/null
outside=$(cd "$work/guard" && find . ! -type d | grep -v "^\.$work/moved/" || true)
[ -z "$outside" ] || { echo "FAIL: a prefix install writes outside its prefix: $outside"; exit 1; }
echo "PASS: a prefix install stays inside its prefix"
cmake --install "$build" --prefix "$work/moved" >/dev/null
# The installed tool starts from a prefix outside the system folders by itself.
env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$work/moved/bin/vokimage" --version >/dev/null \
    || { echo "FAIL: the tool installed under $work/moved does not start"; exit 1; }
echo "PASS: the tool starts from a prefix install without LD_LIBRARY_PATH"
"$here/build-and-run.sh" "$work/moved" "$libdir" "$sandbox" "$data" "$work/moved-consumers"
echo "PASS: consumers built against a prefix install"

DESTDIR="$work/stage" cmake --install "$build" >/dev/null
"$here/build-and-run.sh" "$work/stage$prefix" "$libdir" "$sandbox" "$data" "$work/stage-consumers"
echo "PASS: consumers built against a DESTDIR install"
