#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# vokimage apply on Wayland against swaybg, inside the sandbox as root: a headless sway of a
# user of the sandbox with two outputs (1920x1080, and 2560x1440 at scale 2), one photo shown
# cropped by both. Prints the medians of the time from start to the last output's first
# picture handed to the compositor (cold: vokimage's caches emptied; warm: a cache hit), the
# resident memory 3 s after start, then the targets with met or NOT MET.
#
#   wayland.sh TOOL PHOTO [RUNS]
set -eu
tool=$1
photo=$2
runs=${3:-5}
for program in sway swaymsg swaybg; do
    command -v "$program" >/dev/null || { echo "wayland bench skipped: $program is missing"; exit 0; }
done

user=waybench
home=/tmp/waybench
id "$user" >/dev/null 2>&1 ||
    useradd --uid 6500 --user-group --no-create-home --home-dir "$home" --shell /usr/sbin/nologin "$user"
mkdir -p "$home/.vok/theme" "$home/runtime"
cp "$photo" "$home/photo.jpg"
printf 'WallPaper=%s\nWallPaperPos=Crop\n' "$home/photo.jpg" >"$home/.vok/theme/current.themerc"
printf 'output HEADLESS-1 resolution 1920x1080\n' >"$home/sway.conf"
chown -R "$user:$user" "$home"
chmod 0700 "$home" "$home/runtime"

# run_as [NAME=VALUE]... COMMAND...: COMMAND as the user, in a clean environment.
run_as() {
    env -i PATH=/usr/bin:/bin HOME="$home" USER=$user LOGNAME=$user XDG_RUNTIME_DIR="$home/runtime" \
        "$@"
}
drop="setpriv --reuid $user --regid $user --init-groups --"
# shellcheck disable=SC2086
run_as WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    $drop sway -c "$home/sway.conf" >"$home/sway.log" 2>&1 &
sway_pid=$!
trap 'kill $sway_pid 2>/dev/null || true' EXIT
i=0
while [ ! -S "$home/runtime/wayland-1" ] || ! ls "$home/runtime"/sway-ipc.* >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -lt 100 ] || { echo "wayland bench skipped: sway did not start"; exit 0; }
    sleep 0.1
done
# session [NAME=VALUE]... COMMAND...: COMMAND as a client of the user's sway.
session() {
    socket=$(ls "$home/runtime"/sway-ipc.* | head -n 1)
    first=""
    while [ $# -gt 0 ] && [ "${1#*=}" != "$1" ]; do
        first="$first $1"
        shift
    done
    # shellcheck disable=SC2086
    run_as WAYLAND_DISPLAY=wayland-1 XDG_SESSION_TYPE=wayland SWAYSOCK="$socket" $first $drop "$@"
}
session swaymsg create_output >/dev/null
session swaymsg output HEADLESS-2 resolution 2560x1440 scale 2 >/dev/null

# Microseconds as the Wayland debug log counts them (32 bits).
stamp() { echo $(($(date +%s%6N) & 0xFFFFFFFF)); }

# run NAME COLD COMMAND...: starts COMMAND with the Wayland debug log, waits until both surfaces
# have a buffer committed, reads the resident memory 3 s after start, stops it. Prints
# "milliseconds KiB", or "- KiB" when no picture came.
run() {
    name=$1
    cold=$2
    shift 2
    [ "$cold" = cold ] && rm -rf /tmp/cache "$home/.cache"
    log=$home/$name.log
    start=$(stamp)
    session WAYLAND_DEBUG=client "$@" >/dev/null 2>"$log" &
    started=$!
    sleep 3
    pid=$(pgrep -n -u $user -x "$(basename "$1")" || true)
    kib=$(ps -o rss= -p "${pid:-0}" 2>/dev/null | tr -d ' ')
    [ -z "$pid" ] || kill "$pid"
    wait $started 2>/dev/null || true
    # The commit after each surface's first attach of a buffer; the last of them.
    done_at=$(awk -v start="$start" '
        match($0, /^\[ *[0-9]+\.[0-9]+\]/) {
            t = substr($0, RSTART + 1, RLENGTH - 2); gsub(/ /, "", t); split(t, p, ".")
            us = p[1] * 1000 + p[2]
        }
        /-> wl_surface@[0-9]+\.attach\(wl_buffer@/ {
            s = $0; sub(/.*-> wl_surface@/, "", s); sub(/\..*/, "", s); attached[s] = 1
        }
        /-> wl_surface@[0-9]+\.commit\(\)/ {
            s = $0; sub(/.*-> wl_surface@/, "", s); sub(/\..*/, "", s)
            if (attached[s] == 1) { attached[s] = 2; shown++; last = us }
        }
        END { if (shown >= 2) printf "%.1f", (last - start) / 1000; else print "-" }' "$log")
    echo "$done_at ${kib:--}"
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print v[int((NR + 1) / 2)] }'; }

results=$home/results
: >"$results"
i=0
while [ $i -lt "$runs" ]; do
    echo "swaybg $(run swaybg warm swaybg -i "$home/photo.jpg" -m fill)" >>"$results"
    echo "cold $(run apply cold "$tool" apply --wayland)" >>"$results"
    echo "warm $(run apply warm "$tool" apply --wayland)" >>"$results"
    i=$((i + 1))
done
figure() { awk -v k="$1" -v f="$2" '$1 == k { print $f }' "$results" | grep -v '^-$' | median; }
swaybg_ms=$(figure swaybg 2)
cold_ms=$(figure cold 2)
warm_ms=$(figure warm 2)
swaybg_kib=$(figure swaybg 3)
apply_kib=$(figure warm 3)
echo "== Wayland: apply against swaybg, outputs 1920x1080 and 2560x1440 at scale 2, medians of $runs"
echo "start to both pictures, ms: swaybg $swaybg_ms, apply cold $cold_ms, apply warm $warm_ms"
echo "resident 3 s after start, MiB: swaybg $(awk -v k="$swaybg_kib" 'BEGIN { printf "%.1f", k / 1024 }'), apply $(awk -v k="$apply_kib" 'BEGIN { printf "%.1f", k / 1024 }')"
awk -v s="$swaybg_ms" -v c="$cold_ms" -v w="$warm_ms" -v sk="$swaybg_kib" -v ak="$apply_kib" 'BEGIN {
    verdict = "NOT MET"
    if (s > 0 && c > 0) { r = c / s; printf "  apply cold / swaybg, time              %.2f  target <= 0.66  %s\n", r, (r <= 0.66 ? "met" : verdict) }
    if (s > 0 && w > 0) { r = w / s; printf "  apply warm / swaybg, time              %.2f  target <= 0.24  %s\n", r, (r <= 0.24 ? "met" : verdict) }
    if (sk > 0 && ak > 0) { d = (ak - sk) / 1024; printf "  apply - swaybg, resident MiB           %.1f  target <= 20    %s (apply / swaybg %.2f)\n", d, (d <= 20 ? "met" : verdict), ak / sk }
}'
