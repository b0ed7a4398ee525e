#!/bin/bash
# quarnel-cli diff against the way it is done without it: extract both archives and `diff -rq`
# the two folders. The corpus (Korean names) is packed twice, the second time with one file in a
# hundred changed by one byte; every output goes to a freshly made file system. Figures are
# medians; each line names the command it timed and the load average when it ran.
#   bench/diff_bench.sh BUILD_DIR [files] [total MB] [repetitions] [ext4|tmpfs]
# Needs root (it mounts), bc, and a Linux build with -DQUARNEL_BENCH=ON (for corpus_gen).
set -euo pipefail

build=$(realpath "${1:?usage: diff_bench.sh BUILD_DIR [files] [MB] [repetitions] [ext4|tmpfs]}")
files=${2:-20000}
megabytes=${3:-300}
repetitions=${4:-3}
fstype=${5:-ext4}
cli=${QUARNEL_CLI:-$build/cli/quarnel-cli}
. "$(dirname "$0")/bench_common.sh"
seconds() { # seconds COMMAND...: wall time of one run; diff's status 1 ("different") is success here
    local start end status=0
    start=$(date +%s.%N)
    "$@" > /dev/null || status=$?
    end=$(date +%s.%N)
    [ "$status" -le 1 ] || { echo "failed ($status): $*" >&2; exit 1; }
    echo "$end - $start" | bc -l
}

echo "machine: $(nproc) cores; output on a fresh $fstype per run"
echo "reproduce: ${QUARNEL_CLI:+QUARNEL_CLI=$QUARNEL_CLI }$0 $build $files $megabytes $repetitions $fstype"

"$build/bench/corpus_gen" "$work/old" "$files" "$megabytes"
cp -a "$work/old" "$work/new"
# One file in a hundred gets one byte changed in its middle.
changed=0
while IFS= read -r -d '' file; do
    size=$(stat -c %s "$file")
    [ "$size" -gt 0 ] || continue
    printf '\x5a' | dd of="$file" bs=1 seek=$(( size / 2 )) conv=notrunc status=none
    changed=$(( changed + 1 ))
done < <(find "$work/new" -type f -print0 | sort -z | awk 'BEGIN {RS = ORS = "\0"} NR % 100 == 0')
for side in old new; do
    (cd "$work" && "$cli" create $side.grf > /dev/null && "$cli" add $side.grf $side --korean --level 6 --quiet > /dev/null)
done
rm -rf "$work/old" "$work/new"
echo "$changed files changed; archives $(stat -c %s "$work/old.grf") and $(stat -c %s "$work/new.grf") bytes"
listed=$("$cli" diff "$work/old.grf" "$work/new.grf" --korean --quiet | grep -c '^changed' || true)
echo "diff lists $listed changed entries"
[ "$listed" -eq "$changed" ] || { echo "diff should list $changed" >&2; exit 1; }

size=$(( megabytes * 3 + 512 ))M
cat "$work"/old.grf "$work"/new.grf > /dev/null   # in the page cache, for all alike
declare -A commands=(
    [quarnel_diff]="$cli diff $work/old.grf $work/new.grf --korean --quiet"
    [quarnel_patch]="$cli diff $work/old.grf $work/new.grf --korean --quiet --patch $mnt/patch.gpf"
    [extract_diff_r]="$cli extract $work/old.grf -C $mnt/old --korean --quiet && $cli extract $work/new.grf -C $mnt/new --korean --quiet && diff -rq $mnt/old $mnt/new"
    [check_both]="$cli check $work/old.grf --quiet && $cli check $work/new.grf --quiet"
)
jobs="quarnel_diff quarnel_patch extract_diff_r check_both"
time_jobs "$size"
printf 'diff: %.2fx extract both + diff -rq; with --patch %.2fx; checking both archives (inflating every entry, no comparing) takes %.2fx the diff\n' \
    "$(echo "${med[extract_diff_r]} / ${med[quarnel_diff]}" | bc -l)" \
    "$(echo "${med[extract_diff_r]} / ${med[quarnel_patch]}" | bc -l)" \
    "$(echo "${med[check_both]} / ${med[quarnel_diff]}" | bc -l)"
