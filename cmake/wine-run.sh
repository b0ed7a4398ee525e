#!/bin/bash
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

# Now and then Wine fails to start a process on a busy machine: it ends at once, non-zero, before
# the program wrote a byte (every test program writes its banner first). That is the emulator's
# fault, not the program's, so such a start is tried once more, and said so. Any other ending,
# and a second silent failure, stands.
output=$(mktemp) errors=$(mktemp)
trap 'rm -f "$output" "$errors"' EXIT
for attempt in 1 2; do
    exec {to_errors}> >(tee "$errors" >&2)
    tee_pid=$!
    wine "$@" 2>&"$to_errors" {to_errors}>&- | tee "$output"
    status=${PIPESTATUS[0]}
    exec {to_errors}>&-
    wait "$tee_pid"
    if [ "$status" -eq 0 ] || [ -s "$output" ] || [ -s "$errors" ] || [ "$attempt" -eq 2 ]; then
        exit "$status"
    fi
    echo "wine-run: Wine ended with status $status before the program wrote anything; starting it again" >&2
done
