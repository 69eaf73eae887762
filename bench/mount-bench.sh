#!/bin/bash
# Reading a backup through --mount against reading its source partition, on a 3 GiB ext4 partition holding about
# 1.2 GB of real files (/usr/share and /usr/include):
#   1. every file read (cat of each, in name order) from the partition itself;
#   2. the same through --mount of a self-contained image of the partition, and of a store image;
#   3. --mount of the image and a listing of its top directory, timed together and the listing alone.
# Prints key=value figures; judges nothing. Every step starts with dropped caches.
#
#   bench/mount-bench.sh [-d WORKDIR] [-b MARLIN_CLONE]
#
# Needs root, loop devices, FUSE, e2fsprogs. WORKDIR (default /var/tmp) needs about 6 GB free; everything made there
# is removed at the end.
set -euo pipefail

workroot=/var/tmp
tool=""
while getopts "d:b:" opt; do
    case $opt in
    d) workroot=$OPTARG ;;
    b) tool=$OPTARG ;;
    *) echo "usage: $0 [-d WORKDIR] [-b MARLIN_CLONE]" >&2; exit 2 ;;
    esac
done
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${tool:-$top/build/src/marlin-clone/marlin-clone}
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }

work=$(mktemp -d "$workroot/marlin-mount-bench.XXXXXX")
mnt=$work/mnt
view=$work/view
mkdir -p "$mnt" "$view" "$work/backups"
loops=()
cleanup() {
    if mountpoint -q "$view"; then "$tool" --unmount "$view" || true; fi
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    for dev in "${loops[@]}"; do losetup -d "$dev" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

truncate -s 3G "$work/source.img"
src=$(losetup -f --show "$work/source.img")
loops+=("$src")

drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}
TIMEFORMAT=%R
# timed KEY COMMAND...: the wall time of the command (its output kept in $work/out.KEY) as KEY.
timed() {
    local key=$1 wall
    shift
    drop_caches
    wall=$( { time "$@" >"$work/out.$key" 2>&1; } 2>&1) || { cat "$work/out.$key" >&2; exit 1; }
    echo "${key}_wall_s=$wall"
    last_wall=$wall
}
# Every file's bytes, read once in name order.
read_all() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 cat >/dev/null); }
mount_and_list() { "$tool" --mount "$@" "$view" && ls "$view"; }

mkfs.ext4 -q -F "$src"
mount "$src" "$mnt"
cp -a /usr/share /usr/include "$mnt/"
echo "source_used_bytes=$(($(df --output=used -k "$mnt" | tail -1) * 1024))"
echo "source_files=$(find "$mnt" -type f | wc -l)"
umount "$mnt"
"$tool" --tui "$src" "$work/self.rbk" >/dev/null 2>&1
"$tool" --tui --store "$work/backups/.chunks" "$src" "$work/backups/store.rbk" >/dev/null 2>&1

mount -o ro "$src" "$mnt"
timed read_partition read_all "$mnt"
partition_wall=$last_wall
umount "$mnt"

for kind in self store; do
    image=$work/self.rbk
    [ $kind = self ] || image=$work/backups/store.rbk
    timed "${kind}_mount_and_list" mount_and_list "$image"
    "$tool" --unmount "$view" >/dev/null 2>&1
    "$tool" --mount "$image" "$view" >/dev/null 2>&1
    timed "${kind}_list_fresh_mount" ls "$view"
    timed "${kind}_read_mounted" read_all "$view"
    echo "ratio_${kind}_read_mounted_vs_partition=$(echo "scale=3; $last_wall / $partition_wall" | bc)"
    "$tool" --unmount "$view" >/dev/null 2>&1
done
