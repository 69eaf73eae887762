#!/bin/bash
# xfs round trips through used-block images: only what the free-space records do not list is copied, so old data in
# the free space stays out of the image; the restore onto garbage passes xfs_repair -n and holds the same files. A
# log that was not cleanly unmounted, or a damaged allocation group header, makes the backup copy the whole device.
. "$(dirname "$0")/lib.sh"

populate() {
    local d=$1 i
    mkdir -p "$d/docs" "$d/deep/a/b"
    # Old data first, deleted again: it stays in the free space, where a backup must not pick it up.
    head -c 120M /dev/urandom >"$d/old.bin"
    sync
    rm "$d/old.bin"
    for i in $(seq 1 400); do head -c $((i * 131)) /dev/urandom >"$d/docs/small$i"; done
    cp -a /usr/include/linux "$d/include"
    head -c 24M /dev/urandom >"$d/random.bin"
    ln "$d/random.bin" "$d/deep/a/b/random-link"
    truncate -s 100M "$d/sparse.img"
    printf 'middle' | dd of="$d/sparse.img" bs=1M seek=60 conv=notrunc status=none
    ln -s docs/small1 "$d/link"
    chown 1234:5678 "$d/docs/small1"
    setfattr -n user.comment -v "hello" "$d/docs/small3"
    for i in $(seq 5 5 400); do rm "$d/docs/small$i"; done
}

manifest() {
    (
        cd "$1" || exit 1
        find . -printf '%p %y %m %U %G %s %b %n %T@ %l\n' | sort
        find . -type f -print0 | sort -z | xargs -0 md5sum
        getfattr -R -P -d -m - -e hex . 2>/dev/null
    )
}

# round_trip NAME MKFS-OPTIONS...
round_trip() {
    local name=$1 size=$((400 << 20))
    shift
    new_loop "$name-src" "$size"
    local src=$LOOP
    quiet mkfs.xfs -f "$@" "$src" || { fail "$name: mkfs"; return; }
    mount_at "$src" "$WORK/$name-mnt"
    populate "$WORK/$name-mnt"
    unmount "$WORK/$name-mnt"
    mount_at "$src" "$WORK/$name-mnt" ro,norecovery
    manifest "$WORK/$name-mnt" >"$WORK/$name.expected"
    unmount "$WORK/$name-mnt"

    local image="$WORK/$name.rbk"
    check "$name: backup succeeds" clone --tui $(store_args) "$src" "$image"
    check_store_image "$name" "$image"
    check "$name: no fallback to a whole-device copy" test ! -s "$WORK/err" -o -z "$(grep warning "$WORK/err")"
    clone --rbk-info "$image"
    check "$name: image copies used blocks only" grep -qx 'copy-mode=used-blocks' "$WORK/out"
    # 24 MiB of random files and a few MiB of metadata and text; the 120 MiB of deleted random data must stay out.
    check "$name: the deleted data in the free space is not in the image" \
        test "$(stat -c %s "$image")" -lt $((90 << 20))

    new_loop "$name-dst" "$size" random
    local dst=$LOOP
    check "$name onto garbage: restore succeeds" clone --tui "$image" "$dst"
    check "$name onto garbage: xfs_repair -n finds nothing" quiet xfs_repair -n "$dst"
    mount_at "$dst" "$WORK/$name-dst" ro,norecovery
    manifest "$WORK/$name-dst" >"$WORK/$name.actual"
    unmount "$WORK/$name-dst"
    check "$name onto garbage: every file, owner, mode, link and attribute matches" \
        diff -q "$WORK/$name.expected" "$WORK/$name.actual"
    SRC=$src
}

round_trip xfs-v5
v5_src=$SRC
STORE=$WORK/store round_trip xfs-v5-store
round_trip xfs-1k -b size=1024

# A damaged allocation group header (its checksum no longer matches): everything is copied.
agblocks=$(xfs_db -r -c 'sb 0' -c 'print agblocks' "$v5_src" | sed 's/.*= //')
printf '\xff' | dd of="$v5_src" bs=1 seek=$((agblocks * 4096 + 512 + 52)) conv=notrunc status=none
check "damaged group header: backup succeeds" clone --tui "$v5_src" "$WORK/damaged.rbk"
check "damaged group header: says why it copies everything" grep -q 'allocation group 1 fails its checks' "$WORK/err"
clone --rbk-info "$WORK/damaged.rbk"
check "damaged group header: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"

# A log still to be replayed: the free-space records may not show the latest allocations yet.
new_loop dirty $((300 << 20))
src=$LOOP
quiet mkfs.xfs -f "$src"
mount_at "$src" "$WORK/dirty"
head -c 8M /dev/urandom >"$WORK/dirty/file"
# The allocation reaches the log (fsync), then the file system stops before its metadata is written in place.
xfs_io -c fsync "$WORK/dirty/file"
xfs_io -x -c "shutdown -f" "$WORK/dirty"
unmount "$WORK/dirty"
check_not "unreplayed log: xfs_repair -n sees it too" quiet xfs_repair -n "$src"
check "unreplayed log: backup succeeds" clone --tui "$src" "$WORK/dirty.rbk"
check "unreplayed log: says why it copies everything" grep -q 'not cleanly unmounted' "$WORK/err"
clone --rbk-info "$WORK/dirty.rbk"
check "unreplayed log: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"
new_loop dirty-dst $((300 << 20)) random
check "unreplayed log: restore succeeds" clone --tui "$WORK/dirty.rbk" "$LOOP"
check "unreplayed log: byte-identical" cmp -s "$src" "$LOOP"

finish 31
