#!/bin/bash
# Proves the packages of a release build (cmake --workflow --preset release) as a user gets them:
# installs the .deb with apt-get and runs the installed quarnel-cli, unpacks the ZIP and runs its
# quarnel-cli.exe under Wine; both do --version and a create/add/list/extract round trip.
# Removes the .deb again unless quarnel-cli was installed before.
#   check-packages.sh PACKAGE_DIR
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"
packages=$(cd "$1" && pwd)
version=$(sed -n 's/^project(quarnel VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

passes=0 failures=0
check() {   # check WHAT COMMAND...: runs one check and counts it
    local what=$1; shift
    if "$@"; then
        echo "ok: $what"; passes=$((passes + 1))
    else
        echo "FAILED: $what"; failures=$((failures + 1))
    fi
}

deb=$packages/quarnel-cli_${version}_amd64.deb
zip=$packages/quarnel-${version}-win64.zip
for file in "$deb" "$zip"; do
    [ -f "$file" ] || { echo "FAILED: no package $file"; ls -l "$packages"; exit 1; }
done
ls -l "$deb" "$zip"
dpkg -I "$deb"
dpkg -c "$deb"
unzip -l "$zip"

work=$(mktemp -d)
installed_before=$(dpkg-query -W -f='${Status}' quarnel-cli 2> /dev/null | grep -c 'install ok installed')
cleanup() {
    [ "$installed_before" = 0 ] && as_root apt-get remove -y -qq quarnel-cli > /dev/null 2>&1 < /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# round_trip NAME RUNNER...: --version, then create, add, list and extract in $work/NAME.
round_trip() (
    local dir=$work/$1; shift
    mkdir -p "$dir/art/ui" && cd "$dir" || return 1
    seq 1 20000 > art/numbers.txt
    echo 'OK button' > art/ui/button.txt
    local out
    out=$("$@" --version) && [ "$(echo "$out" | tr -d '\r')" = "quarnel-cli $version" ] \
        || { echo "--version said: $out"; return 1; }
    "$@" create t.grf && "$@" add t.grf art --level 9 || return 1
    out=$("$@" list t.grf | tr -d '\r') || return 1
    echo "$out"
    echo "$out" | grep -q 'data\\numbers.txt$' && echo "$out" | grep -q 'data\\ui\\button.txt$' \
        || { echo "list lacks an entry"; return 1; }
    "$@" extract t.grf -C out && diff -r art out/data
)

export DEBIAN_FRONTEND=noninteractive
check "apt-get install ./$(basename "$deb")" as_root apt-get install -y -qq "$deb" < /dev/null
check "installed quarnel-cli round trip" round_trip deb /usr/bin/quarnel-cli
check "manual page installed" test -s /usr/share/man/man1/quarnel-cli.1.gz
check "bash completion installed" test -s /usr/share/bash-completion/completions/quarnel-cli

mkdir -p "$work/zip" && (cd "$work/zip" && unzip -q "$zip")
top=$work/zip/quarnel-${version}-win64
for file in quarnel.exe quarnel-cli.exe README.md LICENSE; do
    check "ZIP holds $file" test -s "$top/$file"
done
"$repo/scripts/wine-prefix.sh" || exit 1
check "packaged quarnel-cli.exe round trip under Wine" round_trip zip "$repo/cmake/wine-run.sh" "$top/quarnel-cli.exe"
check "quarnel.exe carries its version" \
    sh -c "x86_64-w64-mingw32-windres -i '$top/quarnel.exe' -O rc | grep -q 'VALUE \"ProductVersion\", \"$version\"'"
wineserver -k > /dev/null 2>&1

echo "packages: $passes passed, $failures failed"
[ "$failures" = 0 ]
