#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# The manual page is clean for a man page linter and names every command and option the tool
# knows.
set -eu
tool=$1
page=$2
status=0
mandoc -T lint -W warning "$page" || status=1
commands=$("$tool" --help | sed -n 's/^  \([a-z-]*\) .*/\1/p')
for command in $commands; do
    grep -q "^\.B $(printf '%s' "$command" | sed 's/-/\\\\-/g')\( \|$\)" "$page" \
        || { echo "FAIL: command $command is not in the manual page"; status=1; }
    for option in $("$tool" "$command" --help | sed -n 's/^ *\(-[a-z], \)\{0,1\}--\([a-z-]*\).*/\2/p'); do
        grep -q -- "\\\\-\\\\-$(printf '%s' "$option" | sed 's/-/\\\\-/g')" "$page" \
            || { echo "FAIL: $command --$option is not in the manual page"; status=1; }
    done
done
exit $status
