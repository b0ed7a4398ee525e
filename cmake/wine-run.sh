#!/bin/sh
# Runs a cross-built program under Wine for ctest (the toolchain's crossing emulator).
repo=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$repo/build/wineprefix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

if [ ! -f "$WINEPREFIX/.quarnel-prefix-ready" ]; then
    mkdir -p "$WINEPREFIX"
    flock "$WINEPREFIX/.prepare.lock" "$repo/scripts/wine-prefix.sh" >/dev/null 2>&1 </dev/null
fi

# Wine's service processes start with the first program of a session and inherit its output;
# ctest would then wait for them after every test. Start the session detached from our pipes.
socket="/tmp/.wine-$(id -u)/server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")/socket"
if [ ! -S "$socket" ]; then
    wineserver -p30 >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 </dev/null
fi
exec wine "$@"
