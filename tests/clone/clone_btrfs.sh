#!/bin/bash
# btrfs round trips through used-block images: only the extents the extent tree lists (and the superblocks) are
# copied, so old data in the free space stays out of the image; the restore onto garbage passes btrfs check and holds
# the same files, and a read-only scrub finds every copy of every block sound. A tree block that fails its checksum
# makes the backup copy the whole device.
. "$(dirname "$0")/lib.sh"

populate() {
    local d=$1 i
    mkdir -p "$d/docs" "$d/deep/a/b"
    # Old data first, deleted again: without discard it stays on the device, where a backup must not pick it up.
    head -c 120M /dev/urandom >"$d/old.bin"
    sync
    rm "$d/old.bin"
    sync
    for i in $(seq 1 400); do head -c $((i * 131)) /dev/urandom >"$d/docs/small$i"; done
    cp -a /usr/include/linux "$d/include"
    head -c 24M /dev/urandom >"$d/random.bin"
    ln "$d/random.bin" "$d/deep/a/b/random-link"
    cp --reflink=always "$d/random.bin" "$d/reflinked.bin"
    truncate -s 100M "$d/sparse.img"
    printf 'middle' | dd of="$d/sparse.img" bs=1M seek=60 conv=notrunc status=none
    ln -s docs/small1 "$d/link"
    chown 1234:5678 "$d/docs/small1"
    setfattr -n user.comment -v "hello" "$d/docs/small3"
    btrfs -q subvolume create "$d/subvolume"
    head -c 3M /dev/urandom >"$d/subvolume/file"
    btrfs -q subvolume snapshot -r "$d" "$d/snapshot"
    for i in $(seq 5 5 400); do rm "$d/docs/small$i"; done
}

manifest() {
    (
        cd "$1" || exit 1
        # The snapshot's stand-in for the nested subvolume gets its times when it is looked at.
        find . -path ./snapshot/subvolume -prune -o -printf '%p %y %m %U %G %s %n %T@ %l\n' | sort
        find . -type f -print0 | sort -z | xargs -0 md5sum
        getfattr -R -P -d -m - -e hex . 2>/dev/null
    )
}

# A restored copy carries the source's file system id; the kernel must forget the source before the copy mounts.
forget() {
    losetup -d "$1"
    btrfs device scan --forget >/dev/null 2>&1
}

# A read-only scrub answers 0 even when it found bad copies (it calls them corrected): its summary tells.
scrub_clean() {
    quiet btrfs scrub start -B -r "$1" && grep -q 'Error summary: *no errors found' "$WORK/quiet.log"
}

# round_trip NAME MKFS-OPTIONS...
round_trip() {
    local name=$1 size=$((600 << 20))
    shift
    new_loop "$name-src" "$size"
    local src=$LOOP
    quiet mkfs.btrfs -q -f "$@" "$src" || { fail "$name: mkfs"; return; }
    mount_at "$src" "$WORK/$name-mnt" nodiscard
    populate "$WORK/$name-mnt"
    unmount "$WORK/$name-mnt"
    mount_at "$src" "$WORK/$name-mnt" ro
    manifest "$WORK/$name-mnt" >"$WORK/$name.expected"
    unmount "$WORK/$name-mnt"

    local image="$WORK/$name.rbk"
    check "$name: backup succeeds" clone --tui $(store_args) "$src" "$image"
    check_store_image "$name" "$image"
    check "$name: no fallback to a whole-device copy" test -z "$(grep warning "$WORK/err")"
    clone --rbk-info "$image"
    check "$name: image copies used blocks only" grep -qx 'copy-mode=used-blocks' "$WORK/out"
    check "$name: the deleted data in the free space is not in the image" \
        test "$(stat -c %s "$image")" -lt $((90 << 20))

    new_loop "$name-dst" "$size" random
    local dst=$LOOP
    check "$name onto garbage: restore succeeds" clone --tui "$image" "$dst"
    SRC_COPY="$WORK/$name-src.img"
    forget "$src"
    check "$name onto garbage: btrfs check finds nothing" quiet btrfs check --readonly "$dst"
    mount_at "$dst" "$WORK/$name-dst" ro
    manifest "$WORK/$name-dst" >"$WORK/$name.actual"
    # Reads every copy of every block, the second metadata copy of DUP included, which btrfs check and the files
    # alone never look at.
    check "$name onto garbage: a read-only scrub finds nothing" scrub_clean "$WORK/$name-dst"
    unmount "$WORK/$name-dst"
    check "$name onto garbage: every file, owner, mode, link and attribute matches" \
        diff -q "$WORK/$name.expected" "$WORK/$name.actual"
    forget "$dst"
}

round_trip btrfs-dup -m dup
round_trip btrfs-single -m single -d single
round_trip btrfs-mixed --mixed
STORE=$WORK/store round_trip btrfs-single-store -m single -d single

# A tree block whose checksum no longer matches (the root tree's first copy): everything is copied.
src=$(losetup -f --show "$SRC_COPY")
LOOPS+=("$src")
root=$(btrfs inspect-internal dump-super "$src" | awk '$1 == "root" { print $2 }')
physical=$(btrfs-map-logical -l "$root" "$src" | awk '$1 == "mirror" && $2 == 1 { print $6 }')
printf '\xff' | dd of="$src" bs=1 seek=$((physical + 300)) conv=notrunc status=none
check "damaged tree block: backup succeeds" clone --tui "$src" "$WORK/damaged.rbk"
check "damaged tree block: says why it copies everything" grep -q 'tree block fails its checks' "$WORK/err"
clone --rbk-info "$WORK/damaged.rbk"
check "damaged tree block: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"

finish 36
