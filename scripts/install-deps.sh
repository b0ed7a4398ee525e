#!/bin/bash
# Installs what building and testing need on Debian 12 (run as root; no questions asked).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq < /dev/null
apt-get install -y -qq --no-install-recommends < /dev/null > /dev/null \
    ca-certificates g++ cmake ninja-build make pkg-config zlib1g-dev \
    libgtest-dev googletest libbenchmark-dev \
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev \
    wine wine64 fonts-wine fonts-wqy-microhei xvfb xauth imagemagick \
    libxrender1 libxrandr2 libxcursor1 libxi6 libxinerama1 libxcomposite1 \
    locales clang libclang-rt-14-dev libdeflate-dev zip unzip \
    pigz 7zip bc

# Wine takes its code page from the locale, and without the glibc locale it cannot make files
# with non-ASCII names; tests that run under these locales need them generated.
for loc in zh_CN ko_KR; do
    locale -a 2> /dev/null | grep -qi "^$loc\.utf-\?8$" || localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done
