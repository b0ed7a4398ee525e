#!/bin/bash
# Builds both targets and runs every test: natively, then the Windows build under Wine in Xvfb.
# Exits non-zero when any step failed; later steps still run so one run shows every failure.
#   QUARNEL_BUILD_ROOT  where the build trees go (default: build/ in the checkout)
#   WINEPREFIX          the Wine prefix (default: <build root>/wineprefix)
#   JOBS                parallel build jobs (default: number of cores)
# Arguments pick parts: linux, asan, tsan, fuzz, windows, package (default: all of them).
set -uo pipefail

# Bash reads a script while it runs it; the braces make it read all of this first, so that
# editing the script during a run (it takes a while) cannot derail the run.
{

repo=$(cd "$(dirname "$0")/.." && pwd)
build_root=${QUARNEL_BUILD_ROOT:-$repo/build}
jobs=${JOBS:-$(nproc)}
. "$repo/scripts/wine-env.sh"
mkdir -p "$build_root"
parts=" ${*:-linux asan tsan fuzz windows package} "
wants() { [[ $parts == *" $1 "* ]]; }

t0=$(date +%s)
failed=()
lap() { echo "== [$(( $(date +%s) - t0 )) s] $*"; }
# step NAME COMMAND...: runs one step, records it as failed if it fails.
step() {
    local name=$1; shift
    lap "$name"
    if ! "$@"; then
        failed+=("$name")
        lap "FAILED: $name"
        return 1
    fi
}

configure() {   # configure PRESET DIR [cmake args...]
    local preset=$1 dir=$2; shift 2
    (cd "$repo" && cmake --preset "$preset" -B "$dir" "$@" > "$dir.configure.log" 2>&1) \
        || { cat "$dir.configure.log"; return 1; }
}
# Keeps going past a failed target, so that the tests of everything that did build still run.
build() { cmake --build "$1" -j"$jobs" -- -k 0; }
run_ctest() {   # run_ctest DIR [ctest args...]
    local dir=$1; shift
    ctest --test-dir "$dir" --output-on-failure --timeout 300 "$@"
}

# --- Linux -------------------------------------------------------------------------------
linux_dir=$build_root/linux
# The benchmarks are built (not run) so that they keep up with the code they time.
if wants linux && step "linux: configure" configure linux "$linux_dir" -DQUARNEL_BENCH=ON; then
    step "linux: build" build "$linux_dir"
    step "linux: tests" run_ctest "$linux_dir" -j"$jobs"
fi

# --- Extra Linux checks -------------------------------------------------------------------
# Each hook builds its own tree under $build_root and returns non-zero on failure.
# Their compilers and flags are the presets asan, tsan and fuzz (CMakePresets.json).
hook_asan_ubsan() {   # the unit tests under AddressSanitizer and UndefinedBehaviorSanitizer
    local dir=$build_root/linux-asan
    configure asan "$dir" || return 1
    local built=0
    build "$dir" || built=1
    (cd "$repo" && run_ctest "$dir" --preset asan -j"$jobs") && return $built
}
hook_tsan() {         # the worker and pooled-extraction tests under ThreadSanitizer
    local dir=$build_root/linux-tsan
    local tests="task_worker_test add_test task_procs_test parallel_save_test extract_test"
    configure tsan "$dir" &&
    cmake --build "$dir" -j"$jobs" --target $tests || return 1
    local test
    for test in $tests; do
        TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$dir/tests/$test" || return 1
    done
}
hook_fuzz() {         # bounded runs of the fuzz targets
    # FUZZ_SECONDS per target (default 30; longer runs are for a machine of their own).
    local dir=$build_root/linux-fuzz seconds=${FUZZ_SECONDS:-30}
    local targets="open extract decode save tga" target
    configure fuzz "$dir" || return 1
    local builds="quarnel_fuzz_seeds"
    for target in $targets; do builds="$builds ${target}_fuzzer"; done
    cmake --build "$dir" -j"$jobs" --target $builds || return 1
    # Each run starts from the seeds and its own earlier finds; crash inputs land in artifacts/.
    local work=$dir/fuzz-work
    rm -rf "$work/seeds" && "$dir/fuzz/quarnel_fuzz_seeds" "$work/seeds" || return 1
    mkdir -p "$work/artifacts"
    local failed_targets=""
    for target in $targets; do
        local corpus=$work/corpus-$target seeds=$work/seeds/archives
        [ "$target" = decode ] && seeds=$work/seeds/decode
        [ "$target" = tga ] && seeds=$work/seeds/tga
        mkdir -p "$corpus"
        lap "fuzzing $target for $seconds s"
        # -timeout catches a hang; -rss_limit_mb and malloc limit catch an allocation of a claimed size.
        if ! "$dir/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
                -dict="$repo/fuzz/dict" -artifact_prefix="$work/artifacts/$target-" -print_final_stats=1 \
                "$corpus" "$seeds" > "$work/$target.log" 2>&1; then
            tail -n 60 "$work/$target.log"
            failed_targets="$failed_targets $target"
        fi
        grep -E '^#[0-9]+.*DONE|stat::(number_of_executed_units|average_exec_per_sec)' "$work/$target.log"
    done
    [ -z "$failed_targets" ] || { echo "fuzz targets that failed:$failed_targets"; return 1; }
}
wants asan && step "linux: asan+ubsan" hook_asan_ubsan
wants tsan && step "linux: tsan" hook_tsan
wants fuzz && step "linux: fuzz" hook_fuzz

# --- Windows under Wine -------------------------------------------------------------------
win_dir=$build_root/windows
wants windows &&
step "windows: configure" configure windows "$win_dir" &&
{ step "windows: build" build "$win_dir"; true; } &&
step "windows: tests" "$repo/scripts/wine-ctest.sh" "$win_dir"

# --- Packages -----------------------------------------------------------------------------
# The release build of both programs and its two packages, installed and run as a user would.
# Its tests are the ones the linux and windows parts ran (the workflow preset runs them again), so
# after those it builds the programs alone and reads the window with the windows part's ui_drive.
release_dir=$build_root/release
release_args=() ui_drive_dir=$release_dir/windows
wants windows && release_args=(-DQUARNEL_TESTS=OFF) ui_drive_dir=$win_dir
wants package &&
step "package: configure" configure release "$release_dir" "${release_args[@]}" &&
step "package: build" build "$release_dir" &&
step "package: cpack" cpack --config "$release_dir/CPackConfig.cmake" -B "$release_dir/packages" &&
step "package: install and run" "$repo/scripts/check-packages.sh" "$release_dir/packages" "$ui_drive_dir"

lap "done"
if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
echo "all steps passed"
exit 0
}
