# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Sourced by the scripts after they set root (the tree's top): absolute build folders and the
# test sandbox with the shipped artwork.

# The folder $1 made absolute against the tree's top.
absolute() {
    case "$1" in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$root/$1" ;; esac
}

# in_sandbox BUILD COMMAND...: COMMAND in the sandbox (fresh /tmp, HOME and overlays over
# /usr/share and /etc, the artwork under /usr/share/wallpapers), with the tree and BUILD kept.
in_sandbox() {
    sandbox_build=$1
    shift
    "$root/tests/sandbox/vok-sandbox" --data "$root/data/wallpapers" --keep "$root" \
        --keep "$sandbox_build" -- "$@"
}
