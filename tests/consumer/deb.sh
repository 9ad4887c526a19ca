#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Unpacks the built Debian packages into a throw-away root, checks their dependencies, and
# builds and runs the outside consumers against what they install.
# usage: deb.sh DEB_DIR SANDBOX DATA_DIR
set -eu
debs=$1
sandbox=$2
data=$3
here=$(cd "$(dirname "$0")" && pwd)
work="$debs/consumer"
rm -rf "$work"
mkdir -p "$work/root"
for deb in "$debs"/libvokimage1_*.deb "$debs"/libvokimage-dev_*.deb "$debs"/vokimage_*.deb \
    "$debs"/vokimage-data_*.deb "$debs"/qml-module-vokimage_*.deb; do
    [ -e "$deb" ] || { echo "FAIL: $deb was not built"; exit 1; }
    dpkg-deb -x "$deb" "$work/root"
done
depends=$(dpkg-deb -f "$debs"/libvokimage1_*.deb Depends)
case "$depends" in *libqt5svg5*) ;; *) echo "FAIL: libvokimage1 does not depend on libqt5svg5: $depends"; exit 1 ;; esac
# The cache's checksums come from libdeflate.
case "$depends" in *libdeflate0*) ;; *) echo "FAIL: libvokimage1 does not depend on libdeflate0: $depends"; exit 1 ;; esac
# The built-in defaults draw nothing without the artwork.
case "$depends" in *vokimage-data*) ;; *) echo "FAIL: libvokimage1 does not depend on vokimage-data: $depends"; exit 1 ;; esac
case "$(dpkg-deb -f "$debs"/vokimage-data_*.deb Architecture)" in all) ;; *) echo "FAIL: vokimage-data is not Architecture: all"; exit 1 ;; esac
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# The QML module lies where Qt looks for QML modules.
qml=$(qmake -query QT_INSTALL_QML 2>/dev/null || /usr/lib/qt5/bin/qmake -query QT_INSTALL_QML)
for f in qmldir libvokimageplugin.so; do
    [ -e "$work/root$qml/VokImage/$f" ] || { echo "FAIL: qml-module-vokimage has no $qml/VokImage/$f"; exit 1; }
done
# The session files as packaged: the unit runs the packaged tool.
case "$(dpkg-deb -f "$debs"/vokimage_*.deb Recommends)" in *qtwayland5*layer-shell-qt*) ;; *) echo "FAIL: vokimage does not recommend Qt's Wayland platform and layer-shell"; exit 1 ;; esac
for f in etc/xdg/autostart/vokimage.desktop usr/lib/systemd/user/vokimage.service; do
    [ -e "$work/root/$f" ] || { echo "FAIL: vokimage has no /$f"; exit 1; }
done
grep -qx 'ExecStart=/usr/bin/vokimage apply --daemon' "$work/root/usr/lib/systemd/user/vokimage.service" || { echo "FAIL: the packaged unit does not run /usr/bin/vokimage"; exit 1; }
mkdir -p "$work/session"
cp "$work/root/etc/xdg/autostart/vokimage.desktop" "$work/root/usr/lib/systemd/user/vokimage.service" "$work/session/"
"$here/../session.sh" "$work/session" "$work/root/usr/bin/vokimage"
"$here/build-and-run.sh" "$work/root/usr" "lib/$multiarch" "$sandbox" "$data" "$work/consumers"
LD_LIBRARY_PATH="$work/root/usr/lib/$multiarch" "$work/root/usr/bin/vokimage" --version
echo "PASS: consumers built against the contents of the Debian packages"
