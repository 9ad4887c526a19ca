#!/bin/sh
# SPDX-FileCopyrightText: 2026 The libvokimage developers
# SPDX-License-Identifier: LGPL-2.1-or-later
# A login storm, inside the sandbox as root: N users of the sandbox whose sessions start at once
# with one system photo (6000x4000) for 2560x1440 screens, cold and then warm; the same for N
# sessions of one user, and for N users who start while root renders the picture. Prints renders,
# hits and wall times, then the targets with met or NOT MET.
#
#   storm.sh TOOL PHOTO [N]
set -eu
tool=$1
photo=$2
count=${3:-24}
screen=2560x1440
cp "$photo" /usr/share/wallpapers/storm.jpg
chmod 0644 /usr/share/wallpapers/storm.jpg
mkdir -p /tmp/storm
chmod 0755 /tmp/storm

i=1
while [ "$i" -le "$count" ]; do
    home=/tmp/storm/u$i
    if ! id "storm$i" >/dev/null 2>&1; then
        useradd --uid $((6000 + i)) --user-group --no-create-home --home-dir "$home" \
            --shell /usr/sbin/nologin "storm$i"
    fi
    mkdir -p "$home/.vok/theme" "$home/runtime"
    echo "WallPaper=/usr/share/wallpapers/storm.jpg" >"$home/.vok/theme/current.themerc"
    chown -R "storm$i:storm$i" "$home"
    chmod 0700 "$home" "$home/runtime"
    i=$((i + 1))
done
mkdir -p "$HOME/.vok/theme"
echo "WallPaper=/usr/share/wallpapers/storm.jpg" >"$HOME/.vok/theme/current.themerc"

now() { date +%s%N; }
ms() { echo $((($2 - $1) / 1000000)); }

# The caches as after a boot: the shared directory root's, no private caches.
clear_caches() {
    rm -rf /tmp/cache /tmp/storm/u*/.cache "$HOME/.cache"
    mkdir /tmp/cache
    chmod 01777 /tmp/cache
}

# The folder a session of USER writes its picture to.
home_of() {
    if [ "$1" = root ]; then echo "$HOME"; else echo "/tmp/storm/u${1#storm}"; fi
}

# session USER N: one session's background, as USER (root for "root"), into N.png in its home.
session() {
    home=$(home_of "$1")
    if [ "$1" = root ]; then
        "$tool" background --screen $screen -o "$home/$2.png"
    else
        env -i PATH=/usr/bin:/bin HOME="$home" USER="$1" LOGNAME="$1" QT_QPA_PLATFORM=offscreen \
            XDG_RUNTIME_DIR="$home/runtime" setpriv --reuid "$1" --regid "$1" --init-groups -- \
            "$tool" background --screen $screen -o "$home/$2.png"
    fi
}

# storm NAME USERS...: the sessions started at once; prints renders, hits and the wall time until
# the last is done, and sets $wall.
storm() {
    name=$1
    shift
    rm -f /tmp/storm/*.out /tmp/storm/u*/*.png
    start=$(now)
    n=0
    for user in "$@"; do
        n=$((n + 1))
        session "$user" "$n" >"/tmp/storm/$n.out" 2>/dev/null &
    done
    wait
    wall=$(ms "$start" "$(now)")
    renders=$(cat /tmp/storm/*.out | grep -c ' rendered ' || true)
    hits=$(cat /tmp/storm/*.out | grep -c ' from ' || true)
    same=yes
    n=0
    for user in "$@"; do
        n=$((n + 1))
        cmp -s "$(home_of "$user")/$n.png" "$(home_of "$1")/1.png" || same=no
    done
    printf '%-44s %4d renders %4d hits %6d ms   pictures equal: %s\n' "$name" "$renders" "$hits" \
        "$wall" "$same"
}

# Every user once, and the first user as often.
users=""
one=""
i=1
while [ "$i" -le "$count" ]; do
    users="$users storm$i"
    one="$one storm1"
    i=$((i + 1))
done

echo "== login storm: $count sessions, $screen, a 6000x4000 system photo"
best=""
for run in 1 2 3; do
    clear_caches
    storm "one session alone, cold" storm1
    [ -z "$best" ] || [ "$wall" -lt "$best" ] && best=$wall
done
alone=$best
clear_caches
storm "$count users at once, cold" $users
cold=$wall
cold_renders=$renders
storm "$count users at once, warm" $users
warm=$wall
clear_caches
storm "$count sessions of one user at once, cold" $one
one_renders=$renders
one_cold=$wall
clear_caches
session root root >/dev/null 2>&1 &
sleep 0.05
storm "$count users while root renders, cold" $users
wait
root_renders=$renders

verdict() { if [ "$1" = yes ]; then echo met; else echo NOT MET; fi; }
limit=$(((warm + alone) * 3 / 2))
echo "targets:"
echo "  users at once, cold $cold ms <= 1.5 x (warm $warm + alone $alone) = $limit ms: $(verdict "$([ "$cold" -le "$limit" ] && echo yes)")"
echo "  users at once, cold: $cold_renders renders <= 2: $(verdict "$([ "$cold_renders" -le 2 ] && echo yes)")"
echo "  sessions of one user, cold: $one_renders render (<= 1), $one_cold ms: $(verdict "$([ "$one_renders" -le 1 ] && echo yes)")"
echo "  users while root renders: $root_renders renders (0: all read root's): $(verdict "$([ "$root_renders" -eq 0 ] && echo yes)")"
echo "  (another user's stored picture is never read, so users of their own render apart)"
