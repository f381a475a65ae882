# SPDX-License-Identifier: GPL-3.0-or-later
# Shared set-up of the end-to-end tests: a private X server with a window manager, a
# private working directory and settings, and helpers to drive the real program.
# Usage: . lib.sh PROGRAM NOTESGEN
set -euo pipefail

QUILLORA=$(realpath "$1")
NOTESGEN=$(realpath "${2:-/dev/null}")
SANDBOX=$(mktemp -d "${TMPDIR:-/tmp}/quillora-e2e.XXXXXX")

# A build for another processor ($QUILLORA_EMULATOR, such as qemu-aarch64) runs under QEMU's
# user-mode emulation: both programs are called through scripts that exec the emulator, so
# a background job's pid is the emulated program's own. The emulated program draws
# without OpenGL (on X and on Wayland), so that no GPU driver is emulated. PROGRAM_EXE is
# what /proc/<pid>/exe of the running program names. Waits for a window or an exit, and
# the pauses for input, are three times as long.
EMULATOR=${QUILLORA_EMULATOR:-}
PROGRAM_EXE=$QUILLORA
SLOWER=1
if [ -n "$EMULATOR" ]; then
    PROGRAM_EXE=$(realpath "$(command -v "$EMULATOR")") || { echo "FAIL: no $EMULATOR" >&2; exit 1; }
    mkdir "$SANDBOX/bin"
    for tool in quillora notesgen; do
        target=$QUILLORA
        [ $tool = quillora ] || target=$NOTESGEN
        printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$PROGRAM_EXE" "$target" >"$SANDBOX/bin/$tool"
    done
    chmod +x "$SANDBOX/bin/quillora" "$SANDBOX/bin/notesgen"
    QUILLORA=$SANDBOX/bin/quillora NOTESGEN=$SANDBOX/bin/notesgen
    export QT_XCB_GL_INTEGRATION=none QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=none
    SLOWER=3
fi

# Nothing of the caller's environment reaches the programs started here but what is
# allowed below; the rest stays readable by the script itself. A caller's session bus,
# accessibility bus, input method or platform theme would make the program talk to the
# caller's desktop, or wait for it. Inside a Wine session its own variables pass too.
allowed='^(PATH|LANG|TMPDIR|[AL]SAN_OPTIONS|UBSAN_OPTIONS|QT_XCB_GL_INTEGRATION|QT_WAYLAND_CLIENT_BUFFER_INTEGRATION)$'
[ -z "${QUILLORA_WINE_SESSION:-}" ] ||
    allowed='^(PATH|LANG|TMPDIR|DISPLAY|WINE[A-Z]*|QUILLORA_WINE_SESSION)$'
for variable in $(compgen -e); do
    [[ $variable =~ $allowed ]] || export -n "$variable"
done
export HOME=$SANDBOX/home XDG_CONFIG_HOME=$SANDBOX/config XDG_DATA_HOME=$SANDBOX/data \
    XDG_RUNTIME_DIR=$SANDBOX/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$SANDBOX/work" && mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$SANDBOX/work"

# A session bus of the test's own that activates nothing, no accessibility bus and no
# settings service, so that the program asking for one is told "no such service" at once.
# Where no dbus-daemon is installed (a system made for the Windows build) the address
# leads nowhere, which is as quick an answer.
DBUS_PID=
if command -v dbus-daemon >/dev/null; then
    cat >"$SANDBOX/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    mkfifo "$SANDBOX/busaddress"
    # Not forked: a daemon that forks away escapes the clean-up.
    dbus-daemon --config-file="$SANDBOX/bus.conf" --nofork --nopidfile --print-address=3 \
        3>"$SANDBOX/busaddress" 2>"$SANDBOX/dbus.log" &
    DBUS_PID=$!
    read -r -t 20 DBUS_SESSION_BUS_ADDRESS <"$SANDBOX/busaddress" ||
        { echo "FAIL: no session bus: $(cat "$SANDBOX/dbus.log")" >&2; exit 1; }
else
    DBUS_SESSION_BUS_ADDRESS=unix:path=$SANDBOX/no-bus
fi
export DBUS_SESSION_BUS_ADDRESS

XVFB_PID= WM_PID=
cleanup() {
    # A program still running after a failure must not hold the test's output open.
    local running
    running=$(jobs -p)
    # The program may run under a tracer or a wrapper that outlives it otherwise.
    for job in $running; do pkill -KILL -P "$job" 2>/dev/null || true; done
    [ -z "$running" ] || kill $running 2>/dev/null || true
    [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    [ -n "$DBUS_PID" ] && kill "$DBUS_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$SANDBOX"
}
trap cleanup EXIT
# No command fails without saying where.
trap 'echo "FAIL: ${BASH_SOURCE[0]##*/} line $LINENO: \"$BASH_COMMAND\" exited with $?" >&2' ERR

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts Xvfb on a free display number and openbox on it.
start_x() {
    local fifo=$SANDBOX/displayfd
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>"$SANDBOX/xvfb.log" &
    XVFB_PID=$!
    local number
    read -r -t 20 number <"$fifo" || fail "Xvfb did not start"
    export DISPLAY=:$number
    # While another test's server ends (ctest -j), a new one on the same number can turn
    # its first clients away; a window manager that gave up for that is started again, a
    # moment later.
    for _ in 1 2 3 4 5; do
        openbox >"$SANDBOX/openbox.log" 2>&1 &
        WM_PID=$!
        wait_for 10 wm_settled $WM_PID && wmctrl -m >/dev/null 2>&1 && return
        sleep 0.5
    done
    fail "no window manager on $DISPLAY: $(cat "$SANDBOX/openbox.log")"
}

# The window manager answers, or has ended.
wm_settled() {
    wmctrl -m || ! kill -0 "$1"
}

# wait_for SECONDS COMMAND...: retries the command until it succeeds.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

# The X window id of the top-level window with exactly this title.
window_id() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

# Mapped, and managed by the window manager, so that wmctrl can reach it.
has_window() {
    [ -n "$(window_id "$1")" ] && wmctrl -l | grep -q " $1\$"
}

# Asks the window manager to close the window, as its close button would.
close_window() {
    wait_for 10 wmctrl -c "$1" || fail "could not ask '$1' to close"
}

# Activates the window and waits until it has the focus: on a busy machine the window
# manager may hand the focus back to another window just after a box has gone.
focus_window() {
    wait_for $((5 * SLOWER)) bash -c 'xdotool windowactivate --sync "$0" >/dev/null 2>&1 || :
        sleep 0.2; [ "$(xdotool getactivewindow)" = "$0" ]' "$1"
}

wait_window() {
    wait_for $((${2:-20} * SLOWER)) has_window "$1" || fail "no window titled '$1'"
    window_id "$1"
}

# Waits until the process has installed its handler for SIGTERM. Under emulation QEMU's own
# handlers show at once, so there the program's window is waited for instead, or without
# an X server (Wayland), the program is given the time that it takes there to start.
catches_sigterm() {
    local mask
    mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$1/status" 2>/dev/null) || return 1
    [ -n "$mask" ] && (((0x$mask >> 14) & 1))
}

wait_handler() {
    if [ -n "$EMULATOR" ] && [ -z "$XVFB_PID" ]; then
        sleep 6
        return
    elif [ -n "$EMULATOR" ]; then
        wait_for $((20 * SLOWER)) has_window Quillora || fail "process $1 never showed its window"
        return
    fi
    wait_for 20 catches_sigterm "$1" || fail "process $1 never caught SIGTERM"
}

# Waits for a background process of this shell, at most SECONDS, and sets EXIT_CODE.
wait_exit() {
    local pid=$1 seconds=$((${2:-20} * SLOWER))
    # The watchdog ends by itself soon after the process is gone, so it never outlives
    # the test holding its output open.
    (
        for ((tick = 0; tick < seconds * 10; tick++)); do
            kill -0 "$pid" 2>/dev/null || exit 0
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
    ) &
    local watchdog=$!
    EXIT_CODE=0
    wait "$pid" || EXIT_CODE=$?
    wait "$watchdog" 2>/dev/null || true
}

# Opens the "Notes" menu of the main window and picks an entry with the arrow keys, for
# example "Down" for the first entry and "Up" for the last.
notes_menu() {
    xdotool mousemove --window "$1" 24 10 click 1
    sleep_ms $((500 * SLOWER))
    # shellcheck disable=SC2086
    xdotool key --clearmodifiers $2 Return
}

# Opens "New Note" from the main window and types a title and a text of two lines,
# leaving the cursor in the text. Prints the dialog's window id.
type_new_note() {
    local main=$1 title=$2 first=$3 second=$4
    xdotool windowactivate --sync "$main" >/dev/null 2>&1 || true
    notes_menu "$main" Down
    local dialog
    dialog=$(wait_window "New Note")
    xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || true
    sleep_ms $((300 * SLOWER))
    xdotool type --delay 20 "$title"
    # Under Wine, xdotool's modifier keys do not reach the program, so the text field could
    # not be left again by keys: there only the title is typed.
    if [[ $QUILLORA != *.exe ]]; then
        xdotool key Tab
        xdotool type --delay 20 "$first"
        xdotool key Return
        xdotool type --delay 20 "$second"
    fi
    echo "$dialog"
}

# Adds a note with real input: "New Note", the title and a text of two lines, then "Add".
add_new_note() {
    type_new_note "$@" >/dev/null
    # Back to the title line, where Return presses the default button, "Add".
    [[ $QUILLORA == *.exe ]] || xdotool key shift+Tab
    xdotool key Return
    wait_for $((10 * SLOWER)) bash -c "! xdotool search --onlyvisible --name '^New Note\$'" ||
        fail "the dialog stayed open"
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }
sleep_ms() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }
