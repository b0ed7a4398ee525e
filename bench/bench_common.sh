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
