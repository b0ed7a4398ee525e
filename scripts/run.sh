#!/bin/bash
# Builds the Windows program and starts it under Wine on $DISPLAY, in a prefix prepared like
# the tests' one. Without a display it says so and points to the command-line tool.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${QUARNEL_BUILD_ROOT:-$repo/build}/windows
export WINEPREFIX=${WINEPREFIX:-${QUARNEL_BUILD_ROOT:-$repo/build}/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

(cd "$repo" && cmake --preset windows -B "$build_dir" > /dev/null)
if ! cmake --build "$build_dir" --target help | grep -q '^quarnel.exe:\|^quarnel:'; then
    echo "The Windows program (quarnel.exe) is not part of the build yet." >&2
    echo "Use the command-line tool meanwhile: cmake --preset linux && cmake --build --preset linux" >&2
    echo "then build/linux/cli/quarnel-cli list ARCHIVE" >&2
    exit 1
fi
cmake --build "$build_dir" --target quarnel
exe=$(find "$build_dir" -name quarnel.exe -print -quit)

if [ -z "${DISPLAY:-}" ]; then
    echo "No display (DISPLAY is not set): the window cannot be shown here." >&2
    echo "Built: $exe" >&2
    echo "Without a display use the command-line tool: build/linux/cli/quarnel-cli list ARCHIVE" >&2
    exit 1
fi
"$repo/scripts/wine-prefix.sh"
exec wine "$exe" "$@"
