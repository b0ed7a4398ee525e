#!/bin/sh
# Runs a cross-built program under Wine for ctest (the toolchain's crossing emulator).
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"

if [ ! -f "$quarnel_prefix_marker" ]; then
    mkdir -p "$WINEPREFIX"
    flock "$WINEPREFIX/.prepare.lock" "$repo/scripts/wine-prefix.sh" >/dev/null 2>&1 </dev/null
fi

# Wine's service processes start with the first program of a session and inherit its output;
# ctest would then wait for them after every test. Start the session detached from our pipes.
# Debian's Wine keeps the server socket in /tmp/wine-XXXXXX/server-<dev>-<inode>/ of the prefix.
server="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
running=
for socket in /tmp/.wine-"$(id -u)"/"$server"/socket /tmp/wine-*/"$server"/socket; do
    [ -S "$socket" ] && running=1 && break
done
if [ -z "$running" ]; then
    wineserver -p30 >/dev/null 2>&1 </dev/null
    wine cmd /c exit >/dev/null 2>&1 </dev/null
fi
exec wine "$@"
