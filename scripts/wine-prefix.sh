#!/bin/bash
# Prepares the Wine prefix the Windows tests and the program run in: creates it, makes the
# Chinese texts render (font replacements and links, Wine's own fonts) and turns off window
# management, which stalls every hide and destroy without a window manager. Safe to run again.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/wine-env.sh"
[ -f "$quarnel_prefix_marker" ] && exit 0

mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # The "wine32 is missing" and "no driver could be loaded" lines that come here are harmless.
    # Judged by the registry it leaves: its exit status is not reliable on a fresh prefix.
    wineboot -i > "$WINEPREFIX/wineboot.log" 2>&1 || true
    wineserver -w || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-prefix: wineboot made no prefix in $WINEPREFIX:" >&2
        cat "$WINEPREFIX/wineboot.log" >&2
        exit 1
    fi
fi

face="WenQuanYi Micro Hei"
link="wqy-microhei.ttc,WenQuanYi Micro Hei"
# REG_MULTI_SZ as the hex list a .reg file wants.
multi_sz() { printf '%s\0\0' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'; }

# A UTF-16LE .reg file is the one way that reliably brings Chinese value names into the registry.
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for f in 宋体 SimSun 新宋体 NSimSun 微软雅黑 "Microsoft YaHei"; do
        printf '"%s"="%s"\r\n' "$f" "$face"
    done
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n"Managed"="N"\r\n'
    # A crashing test prints its backtrace and ends, instead of waiting in a crash dialog
    # until ctest's time-out.
    printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n'
    printf '\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"FontSmoothing"="2"\r\n'
    printf '"FontSmoothingType"=dword:00000001\r\n"FontSmoothingGamma"=dword:00000578\r\n'
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    hex=$(multi_sz "$link")
    for f in Tahoma "Tahoma Bold" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" "DejaVu Sans"; do
        printf '"%s"=hex(7):%s\r\n' "$f" "$hex"
    done
    printf '\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
# Once more after the server has settled: right after wineboot the first import can fail.
import_settings() { wine reg import "$reg" > "$WINEPREFIX/reg-import.log" 2>&1; }
if ! import_settings && ! { wineserver -w; sleep 1; import_settings; }; then
    echo "wine-prefix: the settings could not be imported:" >&2
    cat "$WINEPREFIX/reg-import.log" >&2
    exit 1
fi

# Debian's Wine looks for its own fonts in the wrong place; without these the caption
# buttons show letters instead of glyphs.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "/usr/share/wine/fonts/$f" ] && ln -sf "/usr/share/wine/fonts/$f" "$fonts/$f"
done
wineserver -w
touch "$quarnel_prefix_marker"
