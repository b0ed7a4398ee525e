#!/bin/bash
# Extraction and check against what a user would pick instead, in one run, on a freshly made file
# system for every output: quarnel-cli extract against `pigz -d | tar -x` and `unzip`, quarnel-cli
# check against `7zz t` of a zip of the same tree; then the peak resident memory of adding,
# extracting and checking one sparse file of 4 GiB - 1 bytes at level 1. Figures are medians;
# each line names the command it timed and the load average when it ran.
#   bench/peer_bench.sh BUILD_DIR [files] [total MB] [repetitions] [ext4|tmpfs] [big]
# Needs root (it mounts), pigz, tar, zip, unzip, 7zz, bc and /usr/bin/time. BUILD_DIR is a Linux build
# with -DQUARNEL_BENCH=ON. The sixth argument "big" runs the 4 GiB part only, "all" both, else the
# peers only.
# The per-entry modes time add (create + save), check, extract and repack of a whole tree against
# the same tools, and print each ratio: "small" is 100,000 files of 50 to 900 bytes in 1,000
# folders (`files` sets the count), "real" a copy of /usr/share with links followed (REAL_TREE
# names another folder), "corpus" the generated corpus of `files` files and `total MB`, "trees"
# all three. An uncompressed `tar -x` of the same tree is the floor for writing the files.
set -euo pipefail

build=$(realpath "${1:?usage: peer_bench.sh BUILD_DIR [files] [MB] [repetitions] [ext4|tmpfs] [big|all]}")
files_arg=${2:-}
files=${files_arg:-20000}
megabytes=${3:-300}
repetitions=${4:-3}
fstype=${5:-ext4}
part=${6:-peers}
# QUARNEL_CLI times another build's quarnel-cli; QUARNEL_BEFORE names an older quarnel-cli timed
# in the same run on the same archive, for a before/after comparison.
cli=${QUARNEL_CLI:-$build/cli/quarnel-cli}
before=${QUARNEL_BEFORE:-}
. "$(dirname "$0")/bench_common.sh"
seconds() { # seconds COMMAND...: wall time of one run
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
ratio() { echo "$1 / $2" | bc -l; }
# A repack rewrites an archive on the output file system: the same one every time.
prepare_job() { case $1 in *repack) cp "$work/t.grf" "$mnt/t.grf" ;; esac; }

# tree_jobs NAME TREE OPTIONS: every job of the per-entry modes on TREE, the archive made with
# OPTIONS; outputs on a fresh file system each run. Inputs are made once, outside the timing.
tree_jobs() {
    local name=$1 tree=$2 options=$3
    local bytes files
    bytes=$(du -sb "$tree" | cut -f1)
    files=$(find "$tree" -type f | wc -l)
    echo "== $name: $files files, $((bytes / 1000000)) MB; output on a fresh $fstype per run"
    rm -f "$work"/t.*
    # The archive each check, extract and repack reads, made by this build; how many files the
    # add left out (names no code page holds, say) is said once.
    "$cli" create "$work/t.grf" > /dev/null
    "$cli" add "$work/t.grf" "$tree" $options --level 6 --quiet 2> "$work/t.err" > /dev/null ||
        echo "   quarnel-cli add left out $(grep -c "skipped data" "$work/t.err") files (tar keeps them); the timed adds say so on stderr"
    (cd "$tree" && tar -cf - . | pigz -6 -p 2 > "$work/t.tar.gz" && tar -cf "$work/t.tar" .)
    (cd "$tree" && zip -r -6 -q "$work/t.zip" .)
    local size=$(( bytes * 3 / 1000000 + 512 ))M
    cat "$work"/t.* > /dev/null   # in the page cache, for all alike
    find "$tree" -type f -exec cat {} + > /dev/null

    declare -A commands=(
        [add]="$cli create $mnt/t.grf && $cli add $mnt/t.grf $tree $options --level 6 --quiet; true"
        [tar_pigz]="cd $tree && tar -cf - . | pigz -6 -p 2 > $mnt/t.tar.gz"
        [check]="$cli check $work/t.grf --quiet"
        [unzip_t]="unzip -tq $work/t.zip"
        [7zz_t]="7zz t -bd $work/t.zip"
        [extract]="$cli extract $work/t.grf -C $mnt/out $options --quiet"
        [pigz_tar_x]="pigz -d -p 2 < $work/t.tar.gz | tar -x -C $mnt/out"
        [tar_x]="tar -xf $work/t.tar -C $mnt/out"
        [repack]="$cli repack $mnt/t.grf --level 6 --quiet"
    )
    local jobs="add tar_pigz check unzip_t 7zz_t extract pigz_tar_x tar_x repack"
    if [ -n "$before" ]; then
        commands[before_add]="$before create $mnt/t.grf && $before add $mnt/t.grf $tree $options --level 6 --quiet; true"
        commands[before_check]="$before check $work/t.grf --quiet"
        commands[before_extract]="$before extract $work/t.grf -C $mnt/out $options --quiet"
        commands[before_repack]="$before repack $mnt/t.grf --level 6 --quiet"
        jobs="$jobs before_add before_check before_extract before_repack"
    fi
    time_jobs "$size"
    local who
    for who in "" before_; do
        # "" is this build, before_ the one QUARNEL_BEFORE names.
        [ -z "$who" ] || [ -n "$before" ] || continue
        printf '%s: add %.2fx tar | pigz; check %.2fx unzip -t, %.2fx 7zz t; extract %.2fx pigz -d | tar -x, %.2fx the time of tar -x; repack %.2fx the time of add\n' \
            "$name $([ -n "$who" ] && echo before || echo after)" \
            "$(ratio "${med[tar_pigz]}" "${med[${who}add]}")" \
            "$(ratio "${med[unzip_t]}" "${med[${who}check]}")" "$(ratio "${med[7zz_t]}" "${med[${who}check]}")" \
            "$(ratio "${med[pigz_tar_x]}" "${med[${who}extract]}")" "$(ratio "${med[${who}extract]}" "${med[tar_x]}")" \
            "$(ratio "${med[${who}repack]}" "${med[${who}add]}")"
    done
    rm -f "$work"/t.*
}

# The codec BUILD_DIR was configured with: libdeflate may be linked in statically, where ldd cannot see it.
codec=$(sed -n 's/^QUARNEL_CODEC:STRING=//p' "$build/CMakeCache.txt")
echo "machine: $(nproc) cores; codec of $build: ${codec:-unknown}; output on a fresh $fstype per run"
echo "reproduce: ${QUARNEL_CLI:+QUARNEL_CLI=$QUARNEL_CLI }${QUARNEL_BEFORE:+QUARNEL_BEFORE=$QUARNEL_BEFORE }$0 $build \"$files_arg\" $megabytes $repetitions $fstype $part"

case $part in
small | real | corpus | trees)
    if [ "$part" = small ] || [ "$part" = trees ]; then
        small_files=${files_arg:-100000}
        [ "$part" = trees ] && small_files=100000
        "$build/bench/corpus_gen" "$work/small" --small "$small_files" 1000
        tree_jobs "small files" "$work/small" --korean
        rm -rf "$work/small"
    fi
    if [ "$part" = real ] || [ "$part" = trees ]; then
        source_tree=${REAL_TREE:-/usr/share}
        # Links followed, as the add follows them; links that lead nowhere are left out.
        cp -rL "$source_tree" "$work/real" 2> /dev/null || true
        tree_jobs "copy of $source_tree" "$work/real" ""
        rm -rf "$work/real"
    fi
    if [ "$part" = corpus ] || [ "$part" = trees ]; then
        corpus_files=$files
        [ "$part" = trees ] && corpus_files=20000
        "$build/bench/corpus_gen" "$work/corpus" "$corpus_files" "$megabytes"
        tree_jobs "corpus" "$work/corpus" --korean
        rm -rf "$work/corpus"
    fi
    exit 0
    ;;
esac

if [ "$part" != big ]; then
    "$build/bench/corpus_gen" "$work/tree" "$files" "$megabytes"
    (cd "$work" && "$cli" create tree.grf > /dev/null && "$cli" add tree.grf tree --korean --level 6 --quiet > /dev/null)
    (cd "$work/tree" && tar -cf - . | pigz -6 -p 2 > ../tree.tar.gz)
    (cd "$work/tree" && zip -r -6 -q ../tree.zip .)
    size=$(( megabytes * 3 + 512 ))M
    cat "$work"/tree.grf "$work"/tree.tar.gz "$work"/tree.zip > /dev/null   # in the page cache, for all alike

    declare -A commands=(
        [quarnel_extract]="$cli extract $work/tree.grf -C $mnt/out --korean --quiet"
        [pigz_tar]="sh -c 'pigz -d -p 2 < $work/tree.tar.gz | tar -x -C $mnt/out'"
        [unzip]="unzip -q $work/tree.zip -d $mnt/out"
        [quarnel_check]="$cli check $work/tree.grf --quiet"
        [7zz_t]="7zz t -bd $work/tree.zip"
    )
    jobs="quarnel_extract pigz_tar unzip quarnel_check 7zz_t"
    if [ -n "$before" ]; then
        commands[before_extract]="$before extract $work/tree.grf -C $mnt/out --korean --quiet"
        commands[before_check]="$before check $work/tree.grf --quiet"
        jobs="$jobs before_extract before_check"
    fi
    time_jobs "$size"
    printf 'extract: %.2fx pigz -d | tar -x, %.2fx unzip; check: %.2fx 7zz t\n' \
        "$(echo "${med[pigz_tar]} / ${med[quarnel_extract]}" | bc -l)" \
        "$(echo "${med[unzip]} / ${med[quarnel_extract]}" | bc -l)" \
        "$(echo "${med[7zz_t]} / ${med[quarnel_check]}" | bc -l)"
    if [ -n "$before" ]; then
        printf 'before: extract %.2fx pigz -d | tar -x, %.2fx unzip; check %.2fx 7zz t\n' \
            "$(echo "${med[pigz_tar]} / ${med[before_extract]}" | bc -l)" \
            "$(echo "${med[unzip]} / ${med[before_extract]}" | bc -l)" \
            "$(echo "${med[7zz_t]} / ${med[before_check]}" | bc -l)"
    fi
    rm -rf "$work/tree" "$work"/tree.*
fi

if [ "$part" != peers ]; then
    # One sparse file of 4 GiB - 1 bytes: peak resident memory (the most /usr/bin/time saw) of
    # each step, each in its own process.
    mkdir -p "$work/big"
    truncate -s 4294967295 "$work/big/huge.bin"
    fresh 6G
    peak() { # peak WHAT COMMAND...
        local what=$1 kb
        shift
        local l
        l=$(load)
        kb=$(/usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -1)
        printf '%-34s peak RSS %7.1f MiB  (load average %s)\n  command: %s\n' "$what" "$(echo "$kb / 1024" | bc -l)" "$l" "$*"
    }
    "$cli" create "$mnt/big.grf" > /dev/null
    peak "add + save, level 1" "$cli" add "$mnt/big.grf" "$work/big" --level 1 --quiet
    peak "check" "$cli" check "$mnt/big.grf" --quiet
    peak "extract" "$cli" extract "$mnt/big.grf" -C "$mnt/out" --quiet
    cmp -n 4294967295 "$mnt/out/data/huge.bin" "$work/big/huge.bin" && echo "extracted file matches"
fi
