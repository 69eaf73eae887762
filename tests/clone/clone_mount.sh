#!/bin/bash
# --mount shows an image's file system read-only: ext4, xfs and btrfs, self-contained and store images, hold every
# file of their source; a damaged chunk fails the reads that need it with an I/O error and no other; nothing can be
# written through the mount; bad requests are refused with nothing left behind; --unmount leaves nothing mounted,
# attached or running.
. "$(dirname "$0")/lib.sh"

MOUNTED=()
unmount_images() {
    local dir
    for dir in "${MOUNTED[@]}"; do
        mountpoint -q "$dir" && env -i LC_ALL=C "$CLONE" --unmount "$dir" >/dev/null 2>&1
    done
}
trap 'unmount_images; cleanup' EXIT

populate() {
    local d=$1 i
    mkdir -p "$d/docs" "$d/deep/a/b"
    for i in $(seq 1 200); do head -c $((i * 131)) /dev/urandom >"$d/docs/small$i"; done
    cp -a /usr/include/linux "$d/include"
    head -c 24M /dev/urandom >"$d/random.bin"
    ln "$d/random.bin" "$d/deep/a/b/random-link"
    truncate -s 50M "$d/sparse.img"
    printf 'middle' | dd of="$d/sparse.img" bs=1M seek=30 conv=notrunc status=none
    ln -s docs/small1 "$d/link"
    chown 1234:5678 "$d/docs/small1"
}

# Names, kinds, modes, owners, sizes, link targets and every file's checksum; random.bin and its link apart (they are
# what the damaged chunk holds).
manifest() {
    (
        cd "$1" || exit 1
        find . -printf '%p %y %m %U %G %s %l\n' | sort
        find . -type f ! -name 'random*' -print0 | sort -z | xargs -0 sha256sum
    )
}

# mount_image IMAGE DIR [OPTIONS...]: --mount, DIR remembered for the cleanup; the daemon's directory in $PRIVATE.
mount_image() {
    local image=$1 dir=$2 source backing
    shift 2
    mkdir -p "$dir"
    MOUNTED+=("$dir")
    clone --mount "$@" "$image" "$dir" || { cat "$WORK/err"; return 1; }
    source=$(findmnt -n -o SOURCE --mountpoint "$dir")
    backing=$(cat "/sys/block/${source#/dev/}/loop/backing_file")
    PRIVATE=${backing%/view/device}
    DAEMON=$(cat "$PRIVATE/pid")
}

# The daemon has ended: gone, or a zombie where the init process does not reap orphans (containers).
daemon_ended() {
    local state
    state=$(ps -o stat= -p "$DAEMON")
    [ -z "$state" ] || [ "${state:0:1}" = Z ]
}

# After --unmount: no mount at DIR, no loop device or mount on the daemon's directory, no daemon, no directory.
nothing_left() {
    ! mountpoint -q "$1" && ! grep -qF "$PRIVATE" /proc/mounts && ! losetup -a | grep -qF "$PRIVATE" &&
        daemon_ended && [ ! -e "$PRIVATE" ]
}

same_files() {
    manifest "$1" >"$WORK/actual" && diff -q "$2" "$WORK/actual" >/dev/null && cmp -s "$3" "$1/random.bin"
}

# round_trip NAME MKFS-COMMAND...: the source stays mounted read-only while its images are mounted.
round_trip() {
    local name=$1 src image dir=$WORK/$1-view
    shift
    new_loop "$name-src" 400M
    src=$LOOP
    quiet "$@" "$src" || { fail "$name: mkfs"; return; }
    mount_at "$src" "$WORK/$name-src"
    populate "$WORK/$name-src"
    umount "$WORK/$name-src" && mount -o ro "$src" "$WORK/$name-src"
    manifest "$WORK/$name-src" >"$WORK/$name.expected"
    cp "$WORK/$name-src/random.bin" "$WORK/$name.random"
    for kind in image store; do
        if [ $kind = image ]; then
            image=$WORK/$name.rbk
            quiet clone --tui "$src" "$image" || { fail "$name: backup"; continue; }
        else
            mkdir -p "$WORK/backups/$name"
            image=$WORK/backups/$name/src.rbk
            quiet clone --tui --store "$WORK/backups/.chunks" "$src" "$image" || { fail "$name: store backup"; continue; }
        fi
        local sum
        sum=$(hash_of "$image")
        check "$name $kind: --mount succeeds" mount_image "$image" "$dir"
        check "$name $kind: the daemon leads a session of its own" test "$(ps -o sid= -p "$DAEMON")" -eq "$DAEMON"
        check "$name $kind: every file equals the source's" same_files "$dir" "$WORK/$name.expected" "$WORK/$name.random"
        check_not "$name $kind: creating a file fails" touch "$dir/new" 2>/dev/null
        check_not "$name $kind: writing a file fails" dd if=/dev/zero of="$dir/docs/small2" bs=1 count=1 conv=notrunc status=none 2>/dev/null
        check_not "$name $kind: writing the daemon's view fails" dd if=/dev/zero of="$PRIVATE/view/device" bs=512 count=1 conv=notrunc status=none 2>/dev/null
        check "$name $kind: --unmount succeeds" clone --unmount "$dir"
        check "$name $kind: nothing is left mounted, attached or running" nothing_left "$dir"
        check "$name $kind: the image is unchanged" test "$(hash_of "$image")" = "$sum"
    done
    umount "$WORK/$name-src"
}

round_trip ext4 mkfs.ext4 -q
round_trip xfs mkfs.xfs -f -q
round_trip btrfs mkfs.btrfs -f -q

# damage FILE... : flips bytes of random.bin (12 MiB into it, inside a chunk that holds nothing else) where the first
# of the files stores them; random data is stored uncompressed, so its bytes can be found.
damage() {
    "$PYTHON" - "$WORK/ext4.random" "$@" <<'PY'
import sys
pattern = open(sys.argv[1], 'rb').read()[12 << 20:(12 << 20) + 64]
for name in sys.argv[2:]:
    data = open(name, 'rb').read()
    at = data.find(pattern)
    if at >= 0:
        with open(name, 'r+b') as f:
            f.seek(at + 10)
            f.write(bytes(b ^ 0xff for b in pattern[10:20]))
        sys.exit(0)
sys.exit(1)
PY
}

read_fails_with_eio() {
    ! cat "$1" >/dev/null 2>"$WORK/cat.err" && grep -q "Input/output error" "$WORK/cat.err"
}

# The damaged chunk: random.bin fails with an I/O error, every other file reads its own bytes.
damaged_mount() {
    local dir=$WORK/damaged-view
    check "$1: --mount of an image with a damaged chunk succeeds" mount_image "$2" "$dir"
    check "$1: reading the file on the damaged chunk fails with an I/O error" read_fails_with_eio "$dir/random.bin"
    check "$1: every other file reads correctly" diff -q "$WORK/ext4.expected" <(manifest "$dir")
    check "$1: --unmount succeeds" clone --unmount "$dir"
    check "$1: nothing is left" nothing_left "$dir"
}
check "damage a chunk inside the image" damage "$WORK/ext4.rbk"
damaged_mount "damaged image" "$WORK/ext4.rbk"
check "damage a chunk file of the store" damage $(find "$WORK/backups/.chunks" -type f -name "[0-9a-f]*")
damaged_mount "damaged store chunk" "$WORK/backups/ext4/src.rbk"

# Refusals leave nothing behind.
runs_before=$(ls /run/marlin-clone 2>/dev/null | wc -l)
mkdir -p "$WORK/full" && touch "$WORK/full/file"
check_not "refused: a missing image" clone --mount "$WORK/missing.rbk" "$WORK/full-not"
check_not "refused: a directory that is not empty" clone --mount "$WORK/xfs.rbk" "$WORK/full"
check "the refusal names the directory" grep -q "not an empty directory" "$WORK/err"
mkdir -p "$WORK/empty"
head -c 1M /dev/urandom >"$WORK/garbage.rbk"
check_not "refused: a file that is no image" clone --mount "$WORK/garbage.rbk" "$WORK/empty"
check_not "refused: --unmount of a directory that is no image mount" clone --unmount "$WORK/empty"
check "refusals leave no daemon directory" test "$(ls /run/marlin-clone 2>/dev/null | wc -l)" -eq "$runs_before"
check_not "refusals leave nothing mounted" mountpoint -q "$WORK/empty"

finish 73
