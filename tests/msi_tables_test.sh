#!/bin/bash
# Reads the Windows installer's tables with msiinfo: what it installs where, the file type, the
# Start menu entry and the upgrade rules, so a package that lost one of them fails here, without
# Windows or Wine.
#   msi_tables_test.sh REPO [PACKAGE.msi]
# Without a package it builds one from placeholder files, twice as this version and once as the
# next, and also checks that the product code follows the version.
set -uo pipefail
repo=$1
msi=${2:-}
command -v msiinfo > /dev/null && command -v wixl > /dev/null || { echo "msiinfo or wixl missing: skipped"; exit 77; }
version=$(sed -n 's/^project(quarnel VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
upgrade_code='{7B1E5A52-3C1D-4E27-9C5B-2F0E8D6A4C31}'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

build_msi() {   # build_msi VERSION OUTPUT
    cmake -DMSI_VERSION="$1" -DMSI_SOURCE="$work/files" -DMSI_OUTPUT="$2" -P "$repo/cmake/msi_package.cmake" \
        > "$work/build.log" 2>&1 || { cat "$work/build.log"; return 1; }
}
# A table as text; msiinfo writes the rows with Windows line ends.
table() { msiinfo export "$1" "$2" | tr -d '\r'; }
product_code() { table "$1" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }

if [ -z "$msi" ]; then
    mkdir -p "$work/files"
    for file in quarnel.exe quarnel-cli.exe README.md LICENSE; do echo placeholder > "$work/files/$file"; done
    # The shortcut's and the installed programs list's icon come from the program's icon.
    cp "$repo/resources/main.ico" "$work/files/quarnel.exe"
    msi=$work/quarnel.msi
    build_msi "$version" "$msi" || exit 1
    build_msi "$version" "$work/again.msi" && build_msi "${version%.*}.$((${version##*.} + 1))" "$work/next.msi" \
        || exit 1
    [ "$(product_code "$msi")" = "$(product_code "$work/again.msi")" ] || fail "same version, another product code"
    [ "$(product_code "$msi")" != "$(product_code "$work/next.msi")" ] || fail "next version, same product code"
fi

# has TABLE COLUMN=VALUE...: some row of TABLE holds every one of these column values exactly.
has() {
    local table=$1; shift
    table "$msi" "$table" > "$work/table" 2> /dev/null && [ -s "$work/table" ] || { fail "no table $table"; return 1; }
    awk -F'\t' -v wanted="$(printf '%s\n' "$@")" '
        NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; n = split(wanted, pairs, "\n"); next }
        NR <= 3 { next }
        {
            for (k = 1; k <= n; k++) {
                eq = index(pairs[k], "="); name = substr(pairs[k], 1, eq - 1)
                if (!(name in column) || $(column[name]) != substr(pairs[k], eq + 1)) next
            }
            found = 1
        }
        END { exit found ? 0 : 1 }' "$work/table" || { fail "$table has no row with $*"; return 1; }
}

# Per user, no administrator rights: no ALLUSERS, and the summary's word count says so (bit 8).
table "$msi" Property | grep -q '^ALLUSERS' && fail "ALLUSERS is set: a per-machine install"
word_count=$(msiinfo suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
(( word_count & 8 )) || fail "the package asks for administrator rights (word count $word_count)"
msiinfo suminfo "$msi" | grep -q '^Template: x64;' || fail "not an x64 package"
has Property Property=UpgradeCode "Value=$upgrade_code"
has Property Property=Manufacturer "Value=The Quarnel authors"
has Property Property=ProductName Value=Quarnel
has Property Property=ARPPRODUCTICON

# %LOCALAPPDATA%\Programs\Quarnel, the four files of the ZIP in it.
has Directory Directory=UserProgramsFolder Directory_Parent=LocalAppDataFolder DefaultDir=Programs
has Directory Directory=INSTALLDIR Directory_Parent=UserProgramsFolder DefaultDir=Quarnel
for file in quarnel.exe quarnel-cli.exe README.md LICENSE; do
    component=$(table "$msi" File | awk -F'\t' -v name="$file" 'NR > 3 && $3 == name { print $2 }')
    [ -n "$component" ] && has Component "Component=$component" Directory_=INSTALLDIR || fail "$file not installed"
done

# Everything in the registry is the user's own (root 1, HKCU).
table "$msi" Registry | awk -F'\t' 'NR > 3 && $2 != 1 { bad = 1 } END { exit bad }' \
    || fail "a registry value outside HKCU"
classes='Software\Classes'
progid=Quarnel.Archive
has Registry "Key=$classes\\$progid\\shell\\open\\command" Name= "Value=\"[INSTALLDIR]quarnel.exe\" \"%1\""
has Registry "Key=$classes\\$progid\\DefaultIcon" Name= "Value=\"[INSTALLDIR]quarnel.exe\",0"
has Registry "Key=$classes\\$progid\\shell\\open" Name=FriendlyAppName Value=Quarnel
for extension in grf gpf; do
    user=${extension^^}_USER_HOLDER machine=${extension^^}_MACHINE_HOLDER
    has Registry "Key=$classes\\.$extension\\OpenWithProgids" "Name=$progid" Value=
    # The default only where nobody else holds the extension, for the user (root 1) or the machine (2).
    has Registry "Key=$classes\\.$extension" Name= "Value=$progid"
    component=$(table "$msi" Registry |
        key="$classes\\.$extension" awk -F'\t' 'NR > 3 && $3 == ENVIRON["key"] && $4 == "" { print $6 }')
    has Component "Component=$component" \
        "Condition=$user = \"$progid\" OR (NOT $user AND NOT $machine)"
    for search in "$user 1" "$machine 2"; do
        set -- $search
        has AppSearch "Property=$1"
        signature=$(table "$msi" AppSearch | awk -F'\t' -v p="$1" 'NR > 3 && $1 == p { print $2 }')
        has RegLocator "Signature_=$signature" "Root=$2" "Key=$classes\\.$extension" Name= Type=2
    done
done

has Shortcut Directory_=ProgramMenuFolder Name=Quarnel "Target=[INSTALLDIR]quarnel.exe"
# Folders we made go again on uninstall (each only when empty).
has RemoveFile DirProperty=INSTALLDIR InstallMode=2
has RemoveFile DirProperty=UserProgramsFolder InstallMode=2

# An older version with this upgrade code is found and removed before this one goes in.
has Upgrade "UpgradeCode=$upgrade_code" VersionMax="$version" ActionProperty=WIX_UPGRADE_DETECTED
has InstallExecuteSequence Action=RemoveExistingProducts
has InstallExecuteSequence Action=AppSearch

[ "$failures" = 0 ] && echo "msi tables: all checks passed"
[ "$failures" = 0 ]
