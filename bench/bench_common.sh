# What the shell benchmarks share; sourced after setting $fstype. Makes $work (removed on exit) and
# $mnt below it, where fresh() mounts a new file system for each timed output.
work=$(mktemp -d "/var/tmp/quarnel-$(basename "$0" .sh).XXXXXX")
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt"
    rm -rf "$work"
}
trap cleanup EXIT

# fresh SIZE: a new file system at $mnt, an ext4 image on a loop device or tmpfs ($fstype).
fresh() {
    mountpoint -q "$mnt" && umount "$mnt"
    if [ "$fstype" = tmpfs ]; then
        mount -t tmpfs -o size="$1" tmpfs "$mnt"
    else
        rm -f "$work/fs.img"
        truncate -s "$1" "$work/fs.img"
        # An inode for every 4 KiB: a tree of small files needs more than the default gives.
        mkfs.ext4 -q -F -i 4096 -E lazy_itable_init=0,lazy_journal_init=0 "$work/fs.img"
        mount -o loop "$work/fs.img" "$mnt"
    fi
}
load() { cut -d' ' -f1-3 /proc/loadavg; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# time_jobs SIZE: runs each job of $jobs (its command in the array `commands`) $repetitions times
# through the script's seconds(), each on a fresh file system of SIZE with an empty $mnt/out (and
# after `prepare_job JOB` where the script defines one); prints each median with its runs and the
# load averages they ran under, and leaves the medians in the array `med`.
time_jobs() {
    local size=$1 rep job
    declare -gA times=() loads=() med=()
    for ((rep = 0; rep < repetitions; rep++)); do
        for job in $jobs; do
            fresh "$size"
            mkdir -p "$mnt/out"
            if declare -F prepare_job > /dev/null; then prepare_job "$job"; fi
            sync
            loads[$job]+="$(load); "
            times[$job]+="$(seconds bash -c "${commands[$job]}") "
        done
    done
    for job in $jobs; do
        med[$job]=$(echo ${times[$job]} | tr ' ' '\n' | median)
        printf '%-16s median %7.3f s of [%s] load averages [%s]\n  command: %s\n' "$job" "${med[$job]}" \
            "${times[$job]% }" "${loads[$job]%; }" "${commands[$job]}"
    done
}
