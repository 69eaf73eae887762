#!/bin/bash
# Measures marlin-clone against partclone.FS|zstd -1 -T0 and dd|zstd on a 4 GiB partition of one file system:
#   ext4   about 1.6 GB of real files (parts of /usr) and 200 MB of random data;
#   xfs    about 1.5 GB of the same real files, written after about 3 GB of random data was written and deleted, so
#   btrfs  that the free space holds old data as on a disk in use (btrfs mounted nodiscard, or the deletes would
#          clear it).
# Backups and restores alternate between the tools, every run starts with dropped caches, and each figure is the
# median of the repetitions. Every restore (ours and the peer's) is checked outside the timings: the file system's
# own checker, then every file compared with the source's checksums.
#
#   bench/clone-bench.sh [-n REPETITIONS] [-d WORKDIR] [-b MARLIN_CLONE] [ext4|xfs|btrfs|all]   (default ext4)
#   bench/clone-bench.sh -k [-d WORKDIR] ext4|xfs|btrfs
#
# -k only sets up the source (and a garbage target) to time the commands with another harness: it prints where they
# are and how to remove them, and leaves them in place.
#
# MARLIN_CLONE defaults to the one in build/. Needs root, loop devices, partclone, zstd and bc (apt-get install
# partclone zstd bc), and xfsprogs or btrfs-progs for those file systems. WORKDIR (default: /var/tmp) must be on a
# disk file system with about 10 GB free; everything the benchmark makes there is removed at the end. Not a test: it
# prints figures and judges nothing.
set -euo pipefail

reps=3
workroot=/var/tmp
tool=""
keep=0
usage="usage: $0 [-n REPETITIONS] [-d WORKDIR] [-b MARLIN_CLONE] [-k] [ext4|xfs|btrfs|all]"
while getopts "n:d:b:k" opt; do
    case $opt in
    n) reps=$OPTARG ;;
    d) workroot=$OPTARG ;;
    b) tool=$OPTARG ;;
    k) keep=1 ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
fs=${1:-ext4}
top=$(cd "$(dirname "$0")/.." && pwd)
tool=${tool:-$top/build/src/marlin-clone/marlin-clone}
case $fs in
all)
    [ "$keep" -eq 0 ] || { echo "$usage" >&2; exit 2; }
    for each in ext4 xfs btrfs; do
        echo "== $each"
        "$0" -n "$reps" -d "$workroot" -b "$tool" "$each"
    done
    exit 0
    ;;
ext4) needs=(mkfs.ext4 fsck.ext4) ;;
xfs) needs=(mkfs.xfs xfs_repair) ;;
btrfs) needs=(mkfs.btrfs btrfs) ;;
*) echo "$usage" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }
for needed in "$tool" "partclone.$fs" zstd losetup bc sha256sum "${needs[@]}"; do
    command -v "$needed" >/dev/null || { echo "missing: $needed" >&2; exit 1; }
done

work=$(mktemp -d "$workroot/marlin-clone-bench.XXXXXX")
loops=()
mnt="$work/mnt"
mkdir -p "$mnt"
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt"; fi
    for dev in "${loops[@]}"; do losetup -d "$dev" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

attach() { # file size -> prints the new loop device
    truncate -s "$2" "$1"
    losetup -f --show "$1"
}

# Fills most of the mounted file system with random files and deletes them: what a disk in use has in its free space.
write_old_data() {
    local i=0
    while [ "$(df --output=avail -k "$mnt" | tail -1)" -gt $((900 * 1024)) ] && [ $i -lt 32 ]; do
        head -c 100M /dev/urandom >"$mnt/old.$i" 2>/dev/null || break
        i=$((i + 1))
    done
    sync -f "$mnt"
    echo "# $((i * 100)) MB of old data written and deleted" >&2
    rm -f "$mnt"/old.*
    sync -f "$mnt"
}

mount_options=""
echo "# setting up $fs in $work" >&2
src=$(attach "$work/source.img" 4G)
loops+=("$src")
dst=$(attach "$work/target.img" 4G)
loops+=("$dst")
case $fs in
ext4) mkfs.ext4 -q -F "$src" ;;
xfs) mkfs.xfs -q -f "$src" ;;
btrfs)
    mkfs.btrfs -q -f "$src"
    mount_options=nodiscard
    ;;
esac
mount ${mount_options:+-o $mount_options} "$src" "$mnt"
[ "$fs" = ext4 ] || write_old_data
cp -a /usr/share /usr/bin /usr/include "$mnt/"
[ "$fs" != ext4 ] || head -c 200M /dev/urandom >"$mnt/random.bin"
(cd "$mnt" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/manifest"
used_kib=$(df --output=used -k "$mnt" | tail -1)
umount "$mnt"
# The target starts out as garbage, as a reused partition would.
head -c 4G /dev/urandom | dd of="$dst" bs=4M status=none iflag=fullblock oflag=direct
echo "# source: 4 GiB $fs, $((used_kib / 1024)) MiB in use" >&2

if [ "$keep" -eq 1 ]; then
    trap - EXIT INT TERM
    echo "source=$src target=$dst work=$work manifest=$work/manifest"
    echo "remove with: losetup -d $src $dst; rm -rf $work"
    exit 0
fi

drop_caches() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
}

declare -A results
TIMEFORMAT='%R %U %S'
# measure NAME COMMAND...: wall and CPU (user+sys of the whole process tree), then the time a sync needs for what
# the command left unwritten.
measure() {
    local name=$1
    shift
    drop_caches
    local timing sync_timing
    timing=$( { time "$@" >/dev/null 2>"$work/stderr.$name"; } 2>&1) || {
        echo "$name failed:" >&2
        cat "$work/stderr.$name" >&2
        exit 1
    }
    sync_timing=$( { time sync; } 2>&1)
    read -r wall user sys <<<"$timing"
    results[$name.wall]+="$wall "
    results[$name.cpu]+="$(echo "$user + $sys" | bc) "
    results[$name.synced]+="$(echo "$wall + ${sync_timing%% *}" | bc) "
}

# check_restore WHO: the target must pass its file system's checker and hold every file as the source had it.
check_restore() {
    local fsck_status=0
    case $fs in
    ext4) fsck.ext4 -fn "$dst" >"$work/check.log" 2>&1 || fsck_status=$? ;;
    xfs) xfs_repair -n "$dst" >"$work/check.log" 2>&1 || fsck_status=$? ;;
    btrfs) btrfs check --readonly "$dst" >"$work/check.log" 2>&1 || fsck_status=$? ;;
    esac
    if [ "$fsck_status" -ne 0 ]; then
        echo "the file system restored by $1 is not clean:" >&2
        tail -20 "$work/check.log" >&2
        exit 1
    fi
    mount -o ro "$dst" "$mnt"
    if ! (cd "$mnt" && sha256sum --quiet -c "$work/manifest") >"$work/check.log" 2>&1; then
        umount "$mnt"
        echo "the files restored by $1 differ from the source:" >&2
        tail -20 "$work/check.log" >&2
        exit 1
    fi
    umount "$mnt"
}

median() {
    tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g |
        awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'
}

ours_backup() { "$tool" --tui "$src" "$work/ours.rbk"; }
ours_restore() { "$tool" --tui "$work/ours.rbk" "$dst"; }
partclone_backup() { "partclone.$fs" -c -a0 -s "$src" -o - 2>/dev/null | zstd -1 -T0 -q -f -o "$work/partclone.zst"; }
partclone_restore() { zstd -dc "$work/partclone.zst" | "partclone.$fs" -r -s - -o "$dst" 2>/dev/null; }
dd_backup() { dd if="$src" bs=4M status=none | zstd -1 -T0 -q -f -o "$work/dd.zst"; }

backup_ours() {
    measure ours_backup ours_backup
    grep -o 'checksums [0-9.]* s' "$work/stderr.ours_backup" | awk '{printf "%s ", $2}' >>"$work/checksum-seconds"
}
restore_ours() {
    measure ours_restore ours_restore
    grep -o 'verified in [0-9.]* s' "$work/stderr.ours_restore" | awk '{printf "%s ", $3}' >>"$work/verify-seconds"
    check_restore marlin-clone
}
restore_partclone() {
    measure partclone_restore partclone_restore
    check_restore partclone
}
# What ran just before a run changes it (a run that follows gigabytes of writes reads slower even with dropped
# caches), so the tools take turns at going first, and the whole-device copy comes last.
for ((i = 1; i <= reps; i++)); do
    echo "# repetition $i of $reps" >&2
    if ((i % 2)); then
        backup_ours
        measure partclone_backup partclone_backup
        restore_ours
        restore_partclone
    else
        measure partclone_backup partclone_backup
        backup_ours
        restore_partclone
        restore_ours
    fi
    measure dd_backup dd_backup
done

# Milliseconds one --rbk-info takes, process start included.
info_ms() {
    local start=$EPOCHREALTIME
    "$tool" --rbk-info "$work/ours.rbk" >/dev/null
    echo "($EPOCHREALTIME - $start) * 1000" | bc -l
}
info_times=""
for ((i = 0; i < 11; i++)); do
    info_times+="$(info_ms) "
done
drop_caches
info_cold=$(info_ms)

size() { stat -c %s "$1"; }
m() { median "${results[$1]}"; }
ratio() { echo "scale=3; $1 / $2" | bc; }

echo "file_system: $fs"
echo "repetitions: $reps (caches dropped before every run), cores: $(nproc)"
echo "source_used_mib: $((used_kib / 1024))"
for name in ours_backup partclone_backup dd_backup ours_restore partclone_restore; do
    echo "${name}_wall_s: $(m $name.wall)"
    echo "${name}_cpu_s: $(m $name.cpu)"
    echo "${name}_wall_with_sync_s: $(m $name.synced)"
done
echo "ours_image_bytes: $(size "$work/ours.rbk")"
echo "partclone_zstd_image_bytes: $(size "$work/partclone.zst")"
echo "dd_zstd_image_bytes: $(size "$work/dd.zst")"
echo "ratio_backup_wall_ours_vs_partclone: $(ratio "$(m ours_backup.wall)" "$(m partclone_backup.wall)")"
echo "ratio_backup_wall_with_sync_ours_vs_partclone: $(ratio "$(m ours_backup.synced)" "$(m partclone_backup.synced)")"
echo "ratio_backup_cpu_ours_vs_partclone: $(ratio "$(m ours_backup.cpu)" "$(m partclone_backup.cpu)")"
echo "ratio_backup_wall_ours_vs_dd: $(ratio "$(m ours_backup.wall)" "$(m dd_backup.wall)")"
echo "ratio_restore_wall_ours_vs_partclone: $(ratio "$(m ours_restore.wall)" "$(m partclone_restore.wall)")"
echo "ratio_restore_wall_with_sync_ours_vs_partclone:" \
    "$(ratio "$(m ours_restore.synced)" "$(m partclone_restore.synced)")"
echo "ratio_image_size_ours_vs_partclone: $(ratio "$(size "$work/ours.rbk")" "$(size "$work/partclone.zst")")"
# Integrity in a backup is the checksumming (XXH3 of every chunk's data and stored bytes), done by the worker
# threads: its share of the backup's CPU, and the wall time it adds when spread over the workers (one per core).
checksum_s=$(median "$(cat "$work/checksum-seconds")")
echo "ours_backup_checksum_cpu_s: $checksum_s"
echo "ratio_integrity_cpu_vs_backup_cpu: $(ratio "$checksum_s" "$(m ours_backup.cpu)")"
echo "ratio_integrity_wall_share_of_backup: $(ratio "$checksum_s / $(nproc)" "$(m ours_backup.wall)")"
echo "ours_restore_verify_pass_s: $(median "$(cat "$work/verify-seconds")")"
printf 'rbk_info_ms: %.1f\n' "$(median "$info_times")"
printf 'rbk_info_cold_cache_ms: %.1f\n' "$info_cold"
