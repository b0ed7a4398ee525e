#!/bin/bash
# Proves the packages of a release build (cmake --workflow --preset release) as a user gets them:
# installs the .deb with apt-get and runs the installed quarnel-cli, unpacks the ZIP and runs its
# quarnel-cli.exe under Wine; both do --version and a create/add/list/extract round trip. Then the
# installer under Wine (in an Xvfb display of its own): installs it quietly, opens an archive in a
# Korean-named folder through the file type at 144 DPI (the list sized for it), installs the next
# version over it and uninstalls.
# Removes the .deb again unless quarnel-cli was installed before.
#   check-packages.sh PACKAGE_DIR [WINDOWS_BUILD_DIR]
# WINDOWS_BUILD_DIR (default PACKAGE_DIR/../windows) has tests/ui_drive.exe, which reads the window.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"
packages=$(cd "$1" && pwd)
windows_build=${2:-$packages/../windows}
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
msi=$packages/quarnel-${version}-win64.msi
for file in "$deb" "$zip" "$msi"; do
    [ -f "$file" ] || { echo "FAILED: no package $file"; ls -l "$packages"; exit 1; }
done
ls -l "$deb" "$zip" "$msi"
dpkg -I "$deb"
dpkg -c "$deb"
unzip -l "$zip"

work=$(mktemp -d)
installed_before=$(dpkg-query -W -f='${Status}' quarnel-cli 2> /dev/null | grep -c 'install ok installed')
msi_installed= other_gpf_planted= mirrored= dpi_changed=
xvfb_pid=
cleanup() {
    [ "$installed_before" = 0 ] && as_root apt-get remove -y -qq quarnel-cli > /dev/null 2>&1 < /dev/null
    # A check that stopped half-way leaves the prefix as it found it.
    [ -n "$msi_installed" ] && wine msiexec /x "$(winpath "$msi_installed")" /qn > /dev/null 2>&1 < /dev/null
    [ -n "$other_gpf_planted" ] && wine reg delete "$classes\\.gpf" /f > /dev/null 2>&1
    for key in $mirrored; do wine reg delete "$machine_classes\\$key" /f > /dev/null 2>&1; done
    [ -n "$dpi_changed" ] && wine reg delete "$dpi_key" /v LogPixels /f > /dev/null 2>&1
    wineserver -k > /dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
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
# The window needs a display, and the first Wine process of a session fixes the display driver:
# the display comes first. A UTF-8 locale lets Wine make and find files with Korean names.
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5> "$work/display" > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAILED: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")" LC_ALL=C.UTF-8
# No menu entries or file types of the Linux desktop for what Wine installs.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
restart_session() {
    wineserver -k > /dev/null 2>&1
    wineserver -p > /dev/null 2>&1 < /dev/null
    wine cmd /c exit > /dev/null 2>&1 < /dev/null
}
# set_dpi DPI: the display's DPI for the programs of the next session (96 is the prefix's own).
dpi_key='HKCU\Control Panel\Desktop'
set_dpi() {
    if [ "$1" = 96 ]; then
        wine reg delete "$dpi_key" /v LogPixels /f
    else
        wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$1" /f
    fi > /dev/null 2>&1
    restart_session
}
restart_session

check "packaged quarnel-cli.exe round trip under Wine" round_trip zip "$repo/cmake/wine-run.sh" "$top/quarnel-cli.exe"
check "quarnel.exe carries its version" \
    sh -c "x86_64-w64-mingw32-windres -i '$top/quarnel.exe' -O rc | grep -q 'VALUE \"ProductVersion\", \"$version\"'"

# Test hooks stay in the test programs: no shipped program names one.
no_test_hooks() { ! strings -el "$@" | grep -q QUARNEL_TEST && ! strings "$@" | grep -q QUARNEL_TEST; }
check "no test hooks in the shipped programs" \
    no_test_hooks /usr/bin/quarnel-cli "$top/quarnel-cli.exe" "$top/quarnel.exe"

# --- The installer ---------------------------------------------------------------------------
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# reg_value KEY [NAME]: the value's data, or nothing (and failure) when it is not there.
reg_value() {
    local out
    if [ -n "${2:-}" ]; then out=$(wine reg query "$1" /v "$2" 2> /dev/null); else out=$(wine reg query "$1" /ve 2> /dev/null); fi || return 1
    echo "$out" | tr -d '\r' | awk -F'    ' 'NF >= 4 && $2 != "" { print $4; found = 1 } END { exit !found }'
}
key_missing() { ! wine reg query "$1" > /dev/null 2>&1; }
# Our entries in the installed programs list, "version|publisher" each (Wine keeps them in HKLM).
uninstall_entries() {
    local hive
    for hive in HKLM HKCU; do
        wine reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2> /dev/null
    done | tr -d '\r' | awk -F'    ' '
        /^HKEY_/ { if (name == "Quarnel") print version "|" publisher; name = version = publisher = ""; next }
        $2 == "DisplayName" { name = $4 } $2 == "DisplayVersion" { version = $4 } $2 == "Publisher" { publisher = $4 }
        END { if (name == "Quarnel") print version "|" publisher }'
}
classes='HKCU\Software\Classes'
progid=Quarnel.Archive
command_of() { reg_value "$classes\\$progid\\shell\\open\\command"; }
is_equal() { [ "$1" = "$2" ] || { echo "expected \"$2\", found \"$1\""; return 1; }; }

check "installer tables" bash "$repo/tests/msi_tables_test.sh" "$repo" "$msi"
# Another program already holds .gpf: the installer must leave it its default.
other_gpf_planted=1
wine reg add "$classes\\.gpf" /ve /d Other.Archive /f > /dev/null 2>&1
msi_installed=$msi
check "msiexec /i $(basename "$msi") /qn" wine msiexec /i "$(winpath "$msi")" /qn
install_dir=$(reg_value 'HKCU\Software\Quarnel' InstallDir)
install_unix=$(winepath -u "$install_dir" 2> /dev/null)
installed_where_expected() {
    [[ ${install_dir,,} == *'\appdata\local\programs\quarnel\' ]] && [ -s "$install_unix/quarnel.exe" ] \
        || { echo "installed into \"$install_dir\""; return 1; }
}
check "installed below the user's programs folder" installed_where_expected
check "Start menu shortcut" test -n "$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Quarnel.lnk')"
check "file type opens quarnel.exe" is_equal "$(command_of)" "\"${install_dir}quarnel.exe\" \"%1\""
check "file type shows the program's icon" is_equal "$(reg_value "$classes\\$progid\\DefaultIcon")" "\"${install_dir}quarnel.exe\",0"
for extension in grf gpf; do
    check ".$extension lists the file type under OpenWithProgids" reg_value "$classes\\.$extension\\OpenWithProgids" $progid
done
check ".grf, held by nobody, opens with Quarnel" is_equal "$(reg_value "$classes\\.grf")" $progid
check ".gpf, held by another program, keeps it" is_equal "$(reg_value "$classes\\.gpf")" Other.Archive
check "one entry in the installed programs list" is_equal "$(uninstall_entries)" "$version|The Quarnel authors"

# Through the file type, as a double-click in Explorer: the archive in a folder with a Korean name.
mkdir -p "$work/한글" "$work/art/sub" && echo one > "$work/art/a.txt" && echo two > "$work/art/sub/b.txt"
archive=$(winpath "$work/한글/a.grf")
(cd "$work" && wine "$install_unix/quarnel-cli.exe" create "$archive" > /dev/null &&
    wine "$install_unix/quarnel-cli.exe" add "$archive" art > /dev/null)
check "archive made in the Korean folder" test -s "$work/한글/a.grf"
# Windows reads HKCR as the user's classes over the machine's; Wine reads only the machine's. So
# for the shell to find the user's file type, as Windows would, our two keys are copied to the
# machine's classes for this start, and removed again right after.
machine_classes='HKLM\Software\Classes'
mirrored=".grf $progid"
for key in $mirrored; do
    wine reg copy "$classes\\$key" "$machine_classes\\$key" /s /f > /dev/null 2>&1
done
# At 150 % scaling: the list's columns and row pictures must follow the window's DPI.
if [ -f "$windows_build/tests/ui_drive.exe" ]; then
    dpi_changed=1
    set_dpi 144
    wine cmd /c start '""' "$archive" > /dev/null 2>&1 < /dev/null
    check "start \"\" a.grf at 144 DPI: window titled with its path, its rows, the list sized for the DPI" \
        wine "$windows_build/tests/ui_drive.exe" --opened "Quarnel v2 - $archive" 2
    set_dpi 96
    dpi_changed=
else
    check "ui_drive.exe built in $windows_build/tests" false
fi
for key in $mirrored; do
    wine reg delete "$machine_classes\\$key" /f > /dev/null 2>&1
done
mirrored=

next=${version%.*}.$((${version##*.} + 1))
next_msi=$work/quarnel-$next-win64.msi
check "next version's installer built" \
    cmake -DMSI_VERSION="$next" -DMSI_SOURCE="$top" -DMSI_OUTPUT="$next_msi" -P "$repo/cmake/msi_package.cmake"
msi_installed=$next_msi
check "msiexec /i $(basename "$next_msi") over it" wine msiexec /i "$(winpath "$next_msi")" /qn
check "still one entry, now the next version" is_equal "$(uninstall_entries)" "$next|The Quarnel authors"
check ".grf still opens with Quarnel" is_equal "$(reg_value "$classes\\.grf")" $progid
check "quarnel.exe still installed" test -s "$install_unix/quarnel.exe"
check "file type still opens it" is_equal "$(command_of)" "\"${install_dir}quarnel.exe\" \"%1\""

check "msiexec /x /qn" wine msiexec /x "$(winpath "$next_msi")" /qn
msi_installed=
check "no entry in the installed programs list" is_equal "$(uninstall_entries)" ""
# Temp holds what the other tests leave on failure, nothing of the installer's.
check "no file or shortcut left" \
    is_equal "$(find "$WINEPREFIX/drive_c/users" -path '*/Temp' -prune -o -iname '*quarnel*' -print)" ""
check "the user's programs folder, empty, removed" test ! -e "$(dirname "$install_unix")"
for key in 'HKCU\Software\Quarnel' "$classes\\$progid" "$classes\\.grf" "$classes\\.gpf\\OpenWithProgids"; do
    check "no key $key" key_missing "$key"
done
check ".gpf keeps the other program's default" is_equal "$(reg_value "$classes\\.gpf")" Other.Archive
wine reg delete "$classes\\.gpf" /f > /dev/null 2>&1
other_gpf_planted=

echo "packages: $passes passed, $failures failed"
[ "$failures" = 0 ]
