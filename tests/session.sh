#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# The files that start the tool with the session: the XDG autostart entry passes
# desktop-file-validate and the systemd user unit passes systemd-analyze verify, without a
# single remark; both run "vokimage apply --daemon" and the unit belongs to the graphical
# session.
# usage: session.sh SESSION_DIR TOOL   (SESSION_DIR holds the configured files)
set -eu
dir=$1
tool=$2
for program in desktop-file-validate systemd-analyze; do
    command -v "$program" >/dev/null || { echo "FAIL: $program is missing (scripts/setup --test installs it)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 0700 "$work"

remarks=$(desktop-file-validate "$dir/vokimage.desktop" 2>&1) || { echo "FAIL: $remarks"; exit 1; }
[ -z "$remarks" ] || { echo "FAIL: desktop-file-validate: $remarks"; exit 1; }
grep -qx 'Exec=.*/vokimage apply --daemon' "$dir/vokimage.desktop" || { echo "FAIL: the autostart entry does not run apply --daemon"; exit 1; }

# The unit names the installed tool; verified here against the built one.
grep -qx 'PartOf=graphical-session.target' "$dir/vokimage.service" || { echo "FAIL: the unit is not PartOf=graphical-session.target"; exit 1; }
grep -qx 'ExecStart=.*/vokimage apply --daemon' "$dir/vokimage.service" || { echo "FAIL: the unit does not run apply --daemon"; exit 1; }
sed "s|^ExecStart=[^ ]*|ExecStart=$tool|" "$dir/vokimage.service" > "$work/vokimage.service"
remarks=$(XDG_RUNTIME_DIR=$work systemd-analyze --user --man=no verify "$work/vokimage.service" 2>&1) || { echo "FAIL: $remarks"; exit 1; }
[ -z "$remarks" ] || { echo "FAIL: systemd-analyze verify: $remarks"; exit 1; }
# Where systemd runs the session the unit starts apply, and the entry must not start a second:
# gnome-session hides it under systemd, and systemd's own autostart generator makes no unit of it.
grep -qx 'X-GNOME-HiddenUnderSystemd=true' "$dir/vokimage.desktop" || { echo "FAIL: the autostart entry is not hidden from gnome-session under systemd"; exit 1; }
generator=/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator
if [ -x "$generator" ]; then
    mkdir -p "$work/xdg/autostart" "$work/units"
    sed "s|^TryExec=.*|TryExec=/bin/sh|" "$dir/vokimage.desktop" > "$work/xdg/autostart/vokimage.desktop"
    XDG_CONFIG_DIRS=$work/xdg XDG_CONFIG_HOME=$work/home "$generator" "$work/units" 2>/dev/null
    if find "$work/units" -name '*vokimage*' | grep -q .; then
        echo "FAIL: systemd's autostart generator starts the entry beside the unit"; exit 1
    fi
fi
echo "PASS: the autostart entry and the user unit validate, and never both start apply"
