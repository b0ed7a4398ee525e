#!/bin/bash
# Builds the Windows program and starts it under Wine on $DISPLAY, in a prefix prepared like
# the tests' one. Without a display it says so and points to the command-line tool.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUARNEL_BUILD_ROOT:-$repo/build}/windows
. "$repo/scripts/wine-env.sh"

# First run on a fresh machine: fetch the cross compiler, Wine and the fonts.
if ! command -v x86_64-w64-mingw32-g++-posix > /dev/null || ! command -v wine > /dev/null \
    || ! command -v cmake > /dev/null || ! command -v ninja > /dev/null; then
    "$repo/scripts/install-deps.sh"
fi

if [ -z "${DISPLAY:-}" ]; then
    # Build the command-line tool instead, so that the pointer below leads somewhere.
    linux_dir=${QUARNEL_BUILD_ROOT:-$repo/build}/linux
    { (cd "$repo" && cmake --preset linux -B "$linux_dir" > /dev/null) && cmake --build "$linux_dir" --target quarnel-cli > /dev/null; } \
        || echo "The command-line tool did not build either; see cmake --build $linux_dir" >&2
    echo "No display (DISPLAY is not set): the window cannot be shown here." >&2
    echo "Use the command-line tool instead: $linux_dir/cli/quarnel-cli list ARCHIVE" >&2
    exit 1
fi

(cd "$repo" && cmake --preset windows -B "$build_dir" > /dev/null)
cmake --build "$build_dir" --target quarnel
exe=$(find "$build_dir" -name quarnel.exe -print -quit)
"$repo/scripts/wine-prefix.sh"
exec wine "$exe" "$@"
