#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command in a private Wine session: a fresh WINEPREFIX, an X server (Xvfb) with a
# window manager (openbox), and the variables the Windows tests read. Everything goes away
# with the session. Wine poses as the Windows version in WINE_WINDOWS, win10 (the default)
# or win11, and with WINE_DARK=1 the user has chosen the dark mode for programs.
#   tests/wine/session.sh COMMAND [ARG ...]
set -euo pipefail

# As root, the session has a mount namespace of its own: a test may mount a file system
# there that Wine's server, which opens the files, sees too, and it vanishes with the session.
if [ -z "${QUILLORA_IN_NAMESPACE:-}" ] && [ "$(id -u)" = 0 ] &&
    unshare --mount --propagation private true 2>/dev/null; then
    QUILLORA_IN_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi

export WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
export WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko prompts, and no crash dialog that would wait for an answer.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

session=$(mktemp -d "${TMPDIR:-/tmp}/quillora-wine.XXXXXX")
export WINEPREFIX=$session/prefix QUILLORA_WINE_SESSION=$session
xvfb_pid= wm_pid=
finish() {
    "$WINESERVER" -k 2>/dev/null || true
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$session"
}
trap finish EXIT

mkfifo "$session/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session/displayfd" \
    2>"$session/xvfb.log" &
xvfb_pid=$!
read -r -t 20 number <"$session/displayfd" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$number
openbox >"$session/openbox.log" 2>&1 &
wm_pid=$!

echo "Wine session: $("$WINE" --version), prefix $WINEPREFIX, display $DISPLAY"
start=$SECONDS
timeout 300 "$WINE" wineboot --init >"$session/wineboot.log" 2>&1 ||
    { cat "$session/wineboot.log" >&2; exit 1; }
timeout 120 "$WINESERVER" -w || { echo "Wine did not settle after wineboot" >&2; exit 1; }
windows=${WINE_WINDOWS:-win10}
"$WINE" winecfg /v "$windows"
[ -z "${WINE_DARK:-}" ] || "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' \
    /v AppsUseLightTheme /t REG_DWORD /d 0 /f >/dev/null
timeout 120 "$WINESERVER" -w || { echo "Wine did not settle after winecfg" >&2; exit 1; }
# Windows 11 is Windows 10.0 from build 22000 on.
version=$("$WINE" cmd /c ver | tr -d '\r' | grep -o '10\.0\.[0-9]*' || true)
build=${version##*.}
case $windows in
win10) [ -n "$build" ] && [ "$build" -lt 22000 ] ;;
win11) [ -n "$build" ] && [ "$build" -ge 22000 ] ;;
esac || { echo "Wine poses as Windows ${version:-unknown}, not as $windows" >&2; exit 1; }
echo "Wine prefix ready in $((SECONDS - start)) s, as Windows $version ($windows)${WINE_DARK:+, dark mode}"

"$@"
