#!/bin/bash
# Installs what building and testing need on Debian 12 (no questions asked). As a user it runs
# itself again through sudo.
set -euo pipefail
[ "$(id -u)" = 0 ] || exec sudo "$0" "$@"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq < /dev/null
apt-get install -y -qq --no-install-recommends < /dev/null > /dev/null \
    ca-certificates g++ cmake ninja-build make pkg-config zlib1g-dev \
    libgtest-dev googletest libbenchmark-dev \
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev \
    wine wine64 fonts-wine fonts-wqy-microhei xvfb xauth imagemagick \
    libxrender1 libxrandr2 libxcursor1 libxi6 libxinerama1 libxcomposite1 \
    locales clang libclang-rt-14-dev libdeflate-dev zip unzip \
    pigz 7zip bc help2man dpkg-dev file msitools wixl

# Wine takes its code page from the locale, and without the glibc locale it cannot make files
# with non-ASCII names; tests that run under these locales need them generated.
for loc in zh_CN ko_KR; do
    locale -a 2> /dev/null | grep -qi "^$loc\.utf-\?8$" || localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done

# libdeflate for the Windows build comes from Debian's own source package, so apt needs the
# source entries of the Debian archives this machine already uses: made from its deb entries.
deb_src_list=/etc/apt/sources.list.d/quarnel-deb-src
debian_uri='/debian(-security)?/?$'
enable_deb_src() {
    local file
    rm -f "$deb_src_list.sources" "$deb_src_list.list"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        # One stanza per paragraph; keep the enabled Debian "deb" ones, as "deb-src".
        awk -v RS= -v ORS='\n\n' -v uri="$debian_uri" '
            /(^|\n)Types:[^\n]*(^|[ \t])deb([ \t]|\n|$)/ && !/(^|\n)Enabled: *no/ {
                n = split($0, lines, "\n"); keep = 0; out = ""
                for (i = 1; i <= n; i++) {
                    if (lines[i] ~ /^Types:/) lines[i] = "Types: deb-src"
                    if (lines[i] ~ /^URIs:/ && lines[i] ~ uri) keep = 1
                    if (lines[i] !~ /^#/) out = out lines[i] "\n"
                }
                if (keep) printf "%s\n", out
            }' "$file"
    done > "$deb_src_list.sources"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk -v uri="$debian_uri" '$1 == "deb" {
                for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) break
                if ($i ~ uri) { $1 = "deb-src"; print }
            }' "$file"
    done > "$deb_src_list.list"
    [ -s "$deb_src_list.sources" ] || rm -f "$deb_src_list.sources"
    [ -s "$deb_src_list.list" ] || rm -f "$deb_src_list.list"
}

# Unpacks Debian's source package of libdeflate, the version this machine's libdeflate-dev
# comes from, below /usr/src/libdeflate, where the Windows build looks for it (as it looks for
# GoogleTest's sources in /usr/src/googletest).
fetch_libdeflate_source() {
    local version dir=/usr/src/libdeflate attempt work
    version=$(dpkg-query -W -f='${source:Version}' libdeflate-dev)
    [ -f "$dir/.version" ] && [ "$(cat "$dir/.version")" = "$version" ] && return 0
    if ! apt-cache showsrc libdeflate 2> /dev/null | grep -q '^Package: libdeflate$'; then
        enable_deb_src
        apt-get update -qq < /dev/null
    fi
    work=$(mktemp -d)
    for attempt in 1 2 3; do
        if (cd "$work" && apt-get source -qq "libdeflate=$version" < /dev/null > fetch.log 2>&1); then
            rm -rf "$dir" && mkdir -p "$dir" && mv "$work"/libdeflate-*/ "$dir/" \
                && echo "$version" > "$dir/.version" && rm -rf "$work" && return 0
        fi
        sleep $((attempt * 10))
    done
    echo "install-deps: could not fetch Debian's source package of libdeflate $version:" >&2
    cat "$work/fetch.log" >&2
    rm -rf "$work"
    return 1
}
fetch_libdeflate_source
