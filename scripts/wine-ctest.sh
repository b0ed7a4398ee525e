#!/bin/bash
# Runs the tests of a Windows build tree under Wine: prepares the prefix, starts an Xvfb display
# of its own (the dialog tests open windows; -displayfd picks a free display, so parallel runs
# do not collide), starts the Wine session on it, then ctest. Ends the session and the display.
#   wine-ctest.sh BUILD_DIR [ctest arguments...]
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"
dir=$1; shift

"$repo/scripts/wine-prefix.sh" || exit 1

work=$(mktemp -d)
xvfb_pid=
cleanup() {
    wineserver -k > /dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5> "$work/display" > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
    echo "wine-ctest: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(cat "$work/display")"

# The display must be set before the first Wine process of the session: it fixes the driver.
wineserver -k > /dev/null 2>&1 || true
wineserver -p > /dev/null 2>&1 < /dev/null
wine cmd /c exit > /dev/null 2>&1 < /dev/null

ctest --test-dir "$dir" --output-on-failure --timeout 300 "$@"
