#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Proves that what a command writes inside the sandbox never reaches the host.
set -eu
sandbox=$1
tag="vok-sandbox-probe-$$-$(date +%s%N)"
set +e
"$sandbox" -- sh -c "
    set -e
    mkdir -p /tmp/cache /usr/share/wallpapers /etc/X11/vok-dm
    echo probe > /tmp/cache/$tag
    echo probe > /usr/share/wallpapers/$tag
    echo probe > /etc/X11/vok-dm/$tag
    echo probe > \$HOME/$tag
    test -f /tmp/cache/$tag && test -f /usr/share/wallpapers/$tag
    test \"\$QT_QPA_PLATFORM\" = offscreen
    test \"\$HOME\" != \"$HOME\"
"
rc=$?
set -e
[ $rc -eq 77 ] && { echo "skipped: no namespace"; exit 77; }
[ $rc -eq 0 ] || { echo "FAIL: the command inside the sandbox failed ($rc)"; exit 1; }
for f in /tmp/cache/$tag /usr/share/wallpapers/$tag /etc/X11/vok-dm/$tag "$HOME/$tag"; do
    if [ -e "$f" ]; then
        echo "FAIL: $f leaked to the host"
        rm -f "$f"
        exit 1
    fi
done
echo "PASS: nothing written inside the sandbox reached the host"
