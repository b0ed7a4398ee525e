# The Wine environment of every script and of ctest's wrapper, sourced (POSIX sh) with $repo set
# to the checkout. The prefix is <build root>/wineprefix unless WINEPREFIX says otherwise.
: "${WINEPREFIX:=${QUARNEL_BUILD_ROOT:-$repo/build}/wineprefix}"
: "${WINEDEBUG:=-all}"
# No .NET or Gecko installer prompts on a fresh prefix.
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# Present once scripts/wine-prefix.sh has prepared the prefix; named after what the prefix holds,
# so that older prefixes get the newer settings.
quarnel_prefix_marker=$WINEPREFIX/.quarnel-prefix-2
