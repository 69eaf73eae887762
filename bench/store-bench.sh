#!/bin/bash
# Restore points in a shared chunk store against self-contained images, on a 3 GiB ext4 partition holding about
# 1.2 GB of real files (/usr/share and /usr/include):
#   1. one self-contained image of the partition (its size and wall time: the yardstick);
#   2. five backups into one store, about 2 % of the used data changed before each after the first (files rewritten
#      in place, deleted and added; random bytes, or with -r real files' bytes);
#   3. the first restore point restored over the partition as it stands after the fifth: the bytes written, then
#      fsck and every file compared with the first point's checksums;
#   4. the same restore cut off at 75 % of its progress (its checking pass counts too: about half of its writing),
#      the tool stopped and killed, and run again: what both runs
#      wrote against what one uninterrupted run writes;
#   5. a full restore of the first point onto a zeroed partition, self-contained image and store image, and a full
#      backup and restore of the self-contained image: the speed of the path every restore used before.
# Prints key=value figures; judges nothing. Every step starts with dropped caches.
#
#   bench/store-bench.sh [-r] [-d WORKDIR] [-b MARLIN_CLONE]
#
# -r: the changed and added contents are bytes of real files (/usr/lib) instead of random bytes.
#
# Needs root, loop devices, e2fsprogs. WORKDIR (default /var/tmp) needs about 12 GB free; everything made there is
# removed at the end.
set -euo pipefail

workroot=/var/tmp
tool=""
real_changes=no
while getopts "d:b:r" opt; do
    case $opt in
    r) real_changes=yes ;;
    d) workroot=$OPTARG ;;
    b) tool=$OPTARG ;;
    *) echo "usage: $0 [-r] [-d WORKDIR] [-b MARLIN_CLONE]" >&2; exit 2 ;;
    esac
done
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${tool:-$top/build/src/marlin-clone/marlin-clone}
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }

work=$(mktemp -d "$workroot/marlin-store-bench.XXXXXX")
mnt=$work/mnt
store=$work/backups/.chunks
mkdir -p "$mnt" "$work/backups"
loops=()
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    for dev in "${loops[@]}"; do losetup -d "$dev" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

truncate -s 3G "$work/source.img"
src=$(losetup -f --show "$work/source.img")
loops+=("$src")
truncate -s 3G "$work/blank.img"
blank=$(losetup -f --show "$work/blank.img")
loops+=("$blank")

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
written() { grep -o '[0-9]* bytes written' "$work/out.$1" | tail -1 | cut -d' ' -f1; }
manifest() { (cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$1"; }

# New contents: random bytes (nothing compresses: the worst case), or with -r bytes of real files from /usr/lib,
# which the source does not hold (they compress as a system's own updates and documents do).
new_bytes() {
    if [ "$real_changes" = yes ]; then
        # head ends the pipe early: the cat before it fails on purpose.
        { shuf -z --random-source=<(yes "$1") "$work/pool" | xargs -0 cat 2>/dev/null || true; } | head -c "$1"
    else
        head -c "$1" /dev/urandom
    fi
}

# About pct % of the used bytes in each of three ways: rewritten in place, deleted, added.
change_files() {
    local step=$1 budget=$(($2 / 3)) size file
    mount "$src" "$mnt"
    local done=0
    while read -r size file; do
        [ "$done" -lt "$budget" ] || break
        new_bytes "$size" | dd of="$file" conv=notrunc status=none
        done=$((done + size))
    done < <(find "$mnt/share" -type f -size +16k -printf '%s %p\n' | shuf --random-source=<(yes "$step"))
    done=0
    while read -r size file; do
        [ "$done" -lt "$budget" ] || break
        rm -f "$file"
        done=$((done + size))
    done < <(find "$mnt/include" "$mnt/share" -type f -size +16k -printf '%s %p\n' |
        shuf --random-source=<(yes "x$step"))
    mkdir -p "$mnt/added-$step"
    for ((i = 0; i * 1048576 < budget; i++)); do new_bytes 1048576 >"$mnt/added-$step/$i.bin"; done
    umount "$mnt"
}

[ "$real_changes" = no ] || find /usr/lib -type f -size +16k -print0 >"$work/pool"
# A fixed UUID and directory hash seed: the same files are picked for changes in every run, so runs compare.
mkfs.ext4 -q -F -U 5e0f6d1c-8a3b-4c2e-9f10-2b7d4e6a8c01 -E hash_seed=0b9c2d4e-6f80-4a1b-8c3d-5e7f9a1b2c3d "$src"
mount "$src" "$mnt"
cp -a /usr/share /usr/include "$mnt/"
used=$(($(df --output=used -k "$mnt" | tail -1) * 1024))
manifest "$work/manifest.1"
umount "$mnt"
echo "source_used_bytes=$used"

timed self_backup "$tool" --tui "$src" "$work/self.rbk"
self_bytes=$(stat -c %s "$work/self.rbk")
echo "self_image_bytes=$self_bytes"

change=$((used / 50))
declare -a walls
for step in 1 2 3 4 5; do
    [ "$step" -eq 1 ] || change_files "$step" "$change"
    mkdir -p "$work/backups/point-$step"
    timed "store_backup_$step" "$tool" --tui --store "$store" "$src" "$work/backups/point-$step/system.rbk"
    walls[$step]=$last_wall
    echo "store_bytes_after_$step=$(du -sb "$store" | cut -f1)"
done
echo "ratio_second_vs_first_backup_wall=$(echo "scale=3; ${walls[2]} / ${walls[1]}" | bc)"
store_bytes=$(du -sb "$store" | cut -f1)
images_bytes=$(du -cb "$work"/backups/point-*/system.rbk | tail -1 | cut -f1)
echo "store_bytes=$store_bytes"
echo "store_images_bytes=$images_bytes"
echo "ratio_store_and_images_vs_one_self_image=$(echo "scale=3; ($store_bytes + $images_bytes) / $self_bytes" | bc)"

# The first point back over the fifth, and checked.
timed restore_first_over_fifth "$tool" --tui "$work/backups/point-1/system.rbk" "$src"
full=$(written restore_first_over_fifth)
echo "restore_first_over_fifth_bytes_written=$full"
echo "ratio_written_vs_used=$(echo "scale=4; $full / $used" | bc)"
fsck.ext4 -fn "$src" >"$work/fsck.log" 2>&1 || { echo "fsck after the restore failed" >&2; exit 1; }
mount -o ro "$src" "$mnt"
(cd "$mnt" && sha256sum --quiet -c "$work/manifest.1") || { umount "$mnt"; echo "files differ" >&2; exit 1; }
umount "$mnt"
echo "restore_first_over_fifth_checked=yes"

# Cut off: back to the fifth point, then the first again, stopped at about half its progress.
"$tool" --tui "$work/backups/point-5/system.rbk" "$src" >/dev/null 2>&1
drop_caches
coproc RESTORE { exec stdbuf -oL "$tool" --tui "$work/backups/point-1/system.rbk" "$src" 2>&1; }
pid=$RESTORE_PID
while read -r line <&"${RESTORE[0]}"; do
    percent=${line##* }
    percent=${percent%\%}
    if [[ $percent =~ ^[0-9.]+$ ]] && [ "${percent%%.*}" -ge 75 ]; then break; fi
done
kill -STOP "$pid"
cut_written=$(awk '/^wchar/ {print $2}' "/proc/$pid/io")
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
timed restore_resumed "$tool" --tui "$work/backups/point-1/system.rbk" "$src"
resumed=$(written restore_resumed)
echo "cut_off_run_wchar_bytes=$cut_written"
echo "resumed_run_bytes_written=$resumed"
echo "written_twice_bytes=$((cut_written + resumed - full))"

# Full restores onto a zeroed partition, and the self-contained path.
timed self_restore_full "$tool" --tui "$work/self.rbk" "$blank"
blkdiscard -z "$blank" 2>/dev/null || dd if=/dev/zero of="$blank" bs=4M status=none oflag=direct
timed store_restore_full "$tool" --tui "$work/backups/point-1/system.rbk" "$blank"
grep -o 'checksums [0-9.]* s' "$work/out.store_backup_1" | awk '{print "store_backup_1_checksum_cpu_s=" $2}' || true
