#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window appears titled "Quillora", 500 by 350, and a close request from the window
# manager ends the program with exit code 0 after one save, which is on disk when the
# program ends: traced, the new notes.dat is synced, renamed into place, synced again under
# its name, then its folder synced; nothing else is written, not even the session journal. Called from a desktop whose session bus accepts and never answers, with stale
# session files in its home, the program gets the test's own bus and home and starts at
# once.
if [ -z "${QUILLORA_CALLER:-}" ]; then
    caller=$(mktemp -d "${TMPDIR:-/tmp}/quillora-caller.XXXXXX")
    perl -MIO::Socket::UNIX -e '
        my $bus = IO::Socket::UNIX->new(Local => $ARGV[0], Listen => 64) or die "$!\n";
        my @held;
        while (my $client = $bus->accept) { push @held, $client }' "$caller/bus" &
    listener=$!
    mkdir -p "$caller/home/.dbus/session-bus"
    machine=$(cat /etc/machine-id /var/lib/dbus/machine-id 2>/dev/null | head -n 1 || true)
    for display in $(seq 0 99); do
        printf "DBUS_SESSION_BUS_ADDRESS='unix:path=%s'\nDBUS_SESSION_BUS_PID=%s\n" \
            "$caller/bus" $listener >"$caller/home/.dbus/session-bus/$machine-$display"
    done
    status=0
    QUILLORA_CALLER=$caller HOME=$caller/home DBUS_SESSION_BUS_ADDRESS=unix:path=$caller/bus \
        AT_SPI_BUS_ADDRESS=unix:path=$caller/bus QT_IM_MODULE=ibus QT_QPA_PLATFORMTHEME=gtk3 \
        bash "$0" "$@" || status=$?
    kill $listener
    rm -rf "$caller"
    exit $status
fi

. "$(dirname "$0")/lib.sh" "$@"
start_x

printf '\0\0\0\0' >notes.dat
# LeakSanitizer cannot work under ptrace: a sanitizer build leaves leaks to the other tests.
strace -f -qq -y -e trace=fsync,rename,renameat,renameat2,open,openat -o "$SANDBOX/calls" \
    env ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" "$QUILLORA" -someoption --another &
pid=$!
asked=$(now_ms)
id=$(wait_window Quillora)
shown=$(($(now_ms) - asked))
environment=$(tr '\0' '\n' <"/proc/$(xdotool getwindowpid "$id")/environ")
grep -qx "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" <<<"$environment" &&
    grep -qx "HOME=$HOME" <<<"$environment" || fail "the program's environment: $environment"
! grep -E "$QUILLORA_CALLER|^(QT_IM_MODULE|QT_QPA_PLATFORMTHEME|AT_SPI_BUS_ADDRESS)=" <<<"$environment" ||
    fail "the caller's environment reached the program"
eval "$(xdotool getwindowgeometry --shell "$id")"
[ "$WIDTH" = 500 ] && [ "$HEIGHT" = 350 ] || fail "window is ${WIDTH}x$HEIGHT"
close_window Quillora
wait_exit $pid
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
[ "$(od -An -tx1 notes.dat | tr -d ' \n')" = 00000000 ] || fail "notes.dat is not the empty list"
grep -q '^pos=' "$XDG_CONFIG_HOME/Tolvane/Quillora.conf" || fail "position not stored"
calls=$(sed -nE -e "s|.*fsync\([0-9]+<$SANDBOX/work>\).*|folder|p" \
    -e "s|.*fsync\([0-9]+<$SANDBOX/work/.*|file|p" \
    -e 's|.*rename.*"notes\.dat"\).*|rename|p' "$SANDBOX/calls" | tr '\n' ' ')
[ "$calls" = "file rename file folder " ] || fail "the save's calls: $calls"
# Nothing changed, so nothing but the exit save was written: no session journal either.
! grep journal "$SANDBOX/calls" || fail "a session journal was opened"
[ "$(ls -A)" = notes.dat ] && [ ! -e "$XDG_DATA_HOME" ] ||
    fail "written beside notes.dat: $(ls -A), or in the data folder: $(ls -R "$XDG_DATA_HOME")"
echo "PASS: window 500x350 after $shown ms, on the test's own bus and home; closed with exit code 0"
