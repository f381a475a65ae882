#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The cost of a command as a user meets it: the real program in Xvfb with openbox, with
# accessibility on (an AT-SPI bus of its own), driven by real input. For each size, an Add
# (Return in New Note) and a Delete Note (from the Notes menu) are each given 8 times, and
# the CPU time the program spends from the key until it is idle again is printed, median
# and range, in milliseconds. Then a 12-character query is typed into the find field at
# 10 keys a second, 3 times (bench/find_typing.py): the longest time the window's event loop
# was held, beside the longest with the window idle, and the time from the last key to the
# first match shown, of which the pause that ends typing is 120 ms.
# Usage: bench/window_commands.sh PROGRAM NOTESGEN [SIZES...]   (default 100 100000 300000)
# Several programs can be compared in one run: PROGRAM may be a list separated by colons.
set -euo pipefail
programs=$1
notesgen=$2
shift 2
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100 100000 300000)
IFS=: read -r -a programs <<<"$programs"
for i in "${!programs[@]}"; do programs[i]=$(realpath "${programs[i]}"); done
first=${programs[0]}
typing=$(realpath "$(dirname "$0")/find_typing.py")
. "$(dirname "$0")/../tests/e2e/lib.sh" "$first" "$notesgen"
start_x

# An accessibility bus, as a desktop with a screen reader has, and a program that uses it.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$SANDBOX/atspi.log" 2>&1 &
wait_for 20 dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
    org.a11y.Bus.GetAddress || fail "no accessibility bus: $(cat "$SANDBOX/atspi.log")"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1

# Nanoseconds of CPU the process has used, all of its threads.
cpu_ns() {
    local total=0 run _
    for stat in /proc/"$1"/task/*/schedstat; do
        read -r run _ <"$stat" 2>/dev/null || continue
        total=$((total + run))
    done
    echo $total
}

# Waits until the process has used no CPU for 300 ms; prints its CPU time then.
settle() {
    local before after quiet=0
    before=$(cpu_ns "$1")
    while [ $quiet -lt 6 ]; do
        sleep 0.05
        after=$(cpu_ns "$1")
        if [ $((after - before)) -lt 200000 ]; then quiet=$((quiet + 1)); else quiet=0; fi
        before=$after
    done
    echo "$after"
}

# Median and range of milliseconds, given as microseconds.
summary() {
    sort -n | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%8.1f ms  (%.1f to %.1f)", m / 1000, v[1] / 1000, v[NR] / 1000 }'
}

# measure PID: sends Return once the program is idle, prints the CPU time until it is
# idle again, in microseconds.
measure() {
    local start end
    start=$(settle "$1")
    xdotool key Return
    end=$(settle "$1")
    echo $(((end - start) / 1000))
}

for i in "${!programs[@]}"; do echo "program $((i + 1)): ${programs[i]}"; done
printf '%-8s %8s %-32s %-32s %-24s %-24s\n' program notes "Add" "Delete Note" \
    "typing: held (idle)" "last key to first match"
for size in "${sizes[@]}"; do
    "$NOTESGEN" write "$SANDBOX/notes-$size.dat" "$size" 7 >/dev/null
    for i in "${!programs[@]}"; do
        program=${programs[i]}
        rm -f notes.dat* .notes.dat* && cp "$SANDBOX/notes-$size.dat" notes.dat
        rm -rf "$XDG_CONFIG_HOME"/* "$XDG_DATA_HOME"
        "$program" 2>"$SANDBOX/program.log" &
        pid=$!
        main=$(wait_window Quillora 120) || fail "$(cat "$SANDBOX/program.log")"
        settle $pid >/dev/null
        adds=() deletes=()
        for round in 1 2 3 4 5 6 7 8; do
            type_new_note "$main" "Round $round" "typed" "in the window" >/dev/null
            # Back to the title line, where Return is "Add".
            xdotool key shift+Tab
            adds+=("$(measure $pid)")
            wait_for 10 bash -c "! xdotool search --onlyvisible --name '^New Note\$'" ||
                fail "New Note stayed open"
        done
        for round in 1 2 3 4 5 6 7 8; do
            xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
            # The list's first row, below the menu, the tool bar and the find bar, is the
            # current one.
            xdotool mousemove --window "$main" 200 120 click 1
            xdotool mousemove --window "$main" 24 10 click 1
            sleep 0.3
            xdotool key Down Down Down
            deletes+=("$(measure $pid)")
        done
        holds=() idles=() firsts=()
        for round in 1 2 3; do
            xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
            read -r idle held first < <(/usr/bin/python3 "$typing" $pid \
                "remember cal") || fail "typing into the find field failed"
            idles+=("$idle") holds+=("$held") firsts+=("$first")
        done
        # Eight added, eight deleted: what is saved holds as many notes as it did.
        close_window Quillora
        wait_exit $pid 120
        rows=$("$NOTESGEN" dump notes.dat | sed -n 1p)
        [ "$rows" = "rows $size whole" ] || fail "$program left $rows, not $size"
        printf '%-8s %8d %-32s %-32s %-24s %-24s\n' "$((i + 1))" "$size" \
            "$(printf '%s\n' "${adds[@]}" | summary)" "$(printf '%s\n' "${deletes[@]}" | summary)" \
            "$(printf '%s\n' "${holds[@]}" | sort -n | tail -1) ms ($(printf '%s\n' "${idles[@]}" | sort -n | tail -1) ms)" \
            "$(printf '%s\n' "${firsts[@]}" | sort -n | sed -n 2p) ms"
    done
done
