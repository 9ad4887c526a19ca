#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# Includes point down the floors: vocabulary, the internal library and the codecs, render, cache, api, with
# config and utils beside (they may use the vocabulary). A file never includes a header of a
# floor above its own. The tool includes only public headers, the internal libraries (internal/
# and png/) and its own.
set -eu
root=$1
floor() { # the floor of a source file or header: 0 to 3, or 9 for config and utils
    case "$1" in
    */vocabulary/* | */internal/* | */png/* | */jpeg/* | */vocabulary.h | */image.h | */export.h | */version.h) echo 0 ;;
    */render/* | */render.h | */logo.h) echo 1 ;;
    */cache/* | */cache.h) echo 2 ;;
    */api/* | */api.h | */vokimage.h) echo 3 ;;
    */config/* | */config.h | */utils/* | */utils.h) echo 9 ;;
    *) echo 3 ;;
    esac
}
status=0
for file in "$root"/src/*/*.cpp "$root"/src/*/*.h "$root"/include/vokimage/*.h; do
    own=$(floor "$file")
    for header in $(sed -n -e 's/^#include <\(vokimage\/[a-z]*\.h\)>.*/\1/p' \
        -e 's/^#include "\([a-z_/]*\.h\)".*/\1/p' "$file"); do
        case "$header" in */*) ;; *) continue ;; esac # beside the file: its own floor
        other=$(floor "/$header")
        if [ "$other" != 9 ] && [ "$own" != 9 ] && [ "$other" -gt "$own" ]; then
            echo "FAIL: ${file#"$root"/} (floor $own) includes $header (floor $other)"
            status=1
        elif [ "$own" = 9 ] && [ "$other" != 9 ] && [ "$other" -gt 0 ]; then
            echo "FAIL: ${file#"$root"/} (beside the floors) includes $header (floor $other)"
            status=1
        fi
    done
done
for file in "$root"/tools/*.cpp "$root"/tools/*.h; do
    for header in $(sed -n 's/^#include "\([a-z_/]*\.h\)".*/\1/p' "$file"); do
        case "$header" in
        internal/* | png/* | */*/*) ;;
        */*)
            echo "FAIL: ${file#"$root"/} includes $header, inside the library"
            status=1
            ;;
        esac
    done
done
[ $status -eq 0 ] && echo "PASS: no include points up a floor; the tool keeps to the public and internal headers"
exit $status
