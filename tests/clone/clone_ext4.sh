#!/bin/bash
# ext2/3/4 round trips through used-block images: the restored file system must be fsck-clean and hold the same files
# (content, owner, mode, times, hard links, sparseness, extended attributes, ACLs), restored onto a zeroed partition
# and onto one full of garbage. A file system whose bitmaps cannot be trusted is copied whole instead.
. "$(dirname "$0")/lib.sh"

# Files of every kind the product's partitions hold, then deletions and new writes so the used blocks fragment.
populate() {
    local d=$1 i
    mkdir -p "$d/docs" "$d/empty" "$d/deep/a/b/c" "$d/acl"
    for i in $(seq 1 300); do head -c $((i * 97)) /dev/urandom >"$d/docs/small$i"; done
    seq 1 300000 >"$d/docs/numbers.txt"
    cp -a /usr/include/linux "$d/include"
    head -c 20M /dev/urandom >"$d/random.bin"
    head -c 6M /dev/zero >"$d/zeros.bin"
    ln "$d/random.bin" "$d/deep/a/b/c/random-link"
    ln "$d/docs/small5" "$d/docs/small5-link"
    truncate -s 200M "$d/sparse.img"
    printf 'start' | dd of="$d/sparse.img" conv=notrunc status=none
    printf 'middle' | dd of="$d/sparse.img" bs=1M seek=150 conv=notrunc status=none
    ln -s docs/small1 "$d/link"
    ln -s /nonexistent "$d/dangling"
    mkfifo "$d/fifo"
    mknod "$d/null" c 1 3
    chown 1234:5678 "$d/docs/small1"
    chown -h 42:43 "$d/link"
    chmod 4750 "$d/docs/small2"
    chmod 1777 "$d/empty"
    touch -d '2001-02-03 04:05:06' "$d/docs/small6"
    setfattr -n user.comment -v "hello world" "$d/docs/small3"
    setfattr -n trusted.marlin -v 0x00ff10 "$d/random.bin"
    # Too large for the inode: goes to a separate attribute block.
    setfattr -n user.big -v "$(head -c 700 /dev/zero | tr '\0' x)" "$d/docs/small4"
    setfacl -m u:1000:rwx,g:100:r-- "$d/acl"
    setfacl -d -m u:1000:r-x "$d/acl"
    touch "$d/acl/inherited"
    for i in $(seq 7 7 300); do rm "$d/docs/small$i"; done
    head -c 3M /dev/urandom >"$d/after-delete.bin"
}

# Everything a block-level copy must keep, in a comparable form.
manifest() {
    (
        cd "$1" || exit 1
        find . -path ./lost+found -prune -o -printf '%p %y %m %U %G %s %b %i %n %T@ %C@ %l\n' | sort
        find . -path ./lost+found -prune -o -type f -print0 | sort -z | xargs -0 md5sum
        getfattr -R -P -d -m - -e hex . 2>/dev/null
    )
}

# change_blocks DEVICE FILE BLOCK...: garbage over the given blocks of a file (numbered within the file).
change_blocks() {
    local device=$1 file=$2 size block
    shift 2
    size=$(tune2fs -l "$device" | awk '/^Block size:/ {print $3}')
    for block in "$@"; do
        block=$(debugfs -R "bmap $file $block" "$device" 2>/dev/null)
        dd if=/dev/urandom of="$device" bs="$size" seek="$block" count=1 conv=notrunc,fsync status=none
    done
}

# round_trip NAME SIZE_MIB MKFS...: populate, back up, restore onto zeros and onto garbage, compare; then again
# onto the copy (nothing to write) and onto the copy with a few blocks changed (only about those to write).
round_trip() {
    local name=$1 size=$(($2 * 1024 * 1024))
    shift 2
    new_loop "$name-src" "$size"
    local src=$LOOP
    "$@" -q "$src" || { fail "$name: mkfs"; return; }
    mount_at "$src" "$WORK/$name-mnt"
    populate "$WORK/$name-mnt"
    unmount "$WORK/$name-mnt"
    mount_at "$src" "$WORK/$name-mnt" ro
    manifest "$WORK/$name-mnt" >"$WORK/$name.expected"
    unmount "$WORK/$name-mnt"
    check "$name: the comparison covers the populated files" \
        test "$(grep -c 'small\|random' "$WORK/$name.expected")" -gt 500

    local image="$WORK/$name.rbk"
    check "$name: backup succeeds" clone --tui $(store_args) "$src" "$image"
    check_store_image "$name" "$image"
    clone --rbk-info "$image"
    check "$name: image copies used blocks only" grep -qx 'copy-mode=used-blocks' "$WORK/out"
    local used
    used=$(sed -n 's/^used-bytes=//p' "$WORK/out")
    check "$name: far less than the device is in use" test "${used:-$size}" -lt $((size / 2))
    check "$name: image is smaller than what is in use" test "$(stat -c %s "$image")" -lt "$used"

    local start
    for start in zero random; do
        new_loop "$name-dst-$start" "$size" "$start"
        local dst=$LOOP
        check "$name onto $start: restore succeeds" clone --tui "$image" "$dst"
        check "$name onto $start: fsck finds nothing" quiet fsck.ext4 -fn "$dst"
        check "$name onto $start: every byte the file system does not list as free matches" \
            quiet "$PYTHON" "$HERE/used_bytes_equal.py" "$src" "$dst"
        mount_at "$dst" "$WORK/$name-dst" ro
        manifest "$WORK/$name-dst" >"$WORK/$name.actual"
        unmount "$WORK/$name-dst"
        check "$name onto $start: every file, owner, mode, link and attribute matches" \
            diff -q "$WORK/$name.expected" "$WORK/$name.actual"
    done

    check "$name onto its copy: writes nothing" restore_writes "$image" "$dst" 0 0
    check "$name onto its copy: every used byte matches" \
        quiet "$PYTHON" "$HERE/used_bytes_equal.py" "$src" "$dst"
    change_blocks "$dst" /random.bin 10 1000 5000 9000 15000
    check "$name onto 5 changed blocks: writes only the pieces that hold them" \
        restore_writes "$image" "$dst" 1 $((5 * 4096))
    check "$name onto 5 changed blocks: fsck finds nothing" quiet fsck.ext4 -fn "$dst"
    check "$name onto 5 changed blocks: every used byte matches" \
        quiet "$PYTHON" "$HERE/used_bytes_equal.py" "$src" "$dst"
}

round_trip ext4-4k 384 mkfs.ext4 -b 4096
round_trip ext4-1k 256 mkfs.ext4 -b 1024
round_trip ext3 256 mkfs.ext3 -b 4096
STORE=$WORK/store round_trip ext4-4k-store 384 mkfs.ext4 -b 4096

# A source mounted read-write may change while it is read: refused unless asked for; a read-only mount is fine.
new_loop mounted 128M
mkfs.ext4 -q "$LOOP"
mount_at "$LOOP" "$WORK/mounted"
head -c 4M /dev/urandom >"$WORK/mounted/file"
sync
check_not "read-write mounted source: refused" clone --tui "$LOOP" "$WORK/mounted.rbk"
check "read-write mounted source: says why" grep -q 'mounted read-write on' "$WORK/err"
check "read-write mounted source: no file left" test ! -e "$WORK/mounted.rbk" -a -z "$(ls -A "$WORK" | grep partial)"
check "--allow-mounted: backup succeeds" clone --tui --allow-mounted "$LOOP" "$WORK/mounted.rbk"
check "--allow-mounted: warns" grep -q 'warning:.*mounted.*read-write' "$WORK/err"
clone --rbk-info "$WORK/mounted.rbk"
check "--allow-mounted: recorded in the image" grep -qx 'source-was-mounted=yes' "$WORK/out"
unmount "$WORK/mounted"
mount_at "$LOOP" "$WORK/mounted" ro
check "read-only mounted source: backup succeeds" clone --tui "$LOOP" "$WORK/mounted-ro.rbk"
clone --rbk-info "$WORK/mounted-ro.rbk"
check "read-only mounted source: recorded in the image" grep -qx 'source-was-mounted=yes' "$WORK/out"
unmount "$WORK/mounted"

# Still mounted in another mount namespace after the umount here: its latest changes may not be on the device yet.
new_loop hidden 64M
mkfs.ext4 -q "$LOOP"
mount_at "$LOOP" "$WORK/hidden"
mkfifo "$WORK/ready"
unshare -m bash -c "cd '$WORK/hidden' && echo >'$WORK/ready' && exec sleep 1000" &
PIDS+=("$!")
read -r <"$WORK/ready"
unmount "$WORK/hidden"
check_not "source mounted in another namespace: refused" clone --tui "$LOOP" "$WORK/hidden.rbk"
check "source mounted in another namespace: says why" grep -q 'in use although not mounted here' "$WORK/err"

# A journal still to be replayed means the bitmaps may be stale: everything is copied, byte for byte.
new_loop recovery 128M
src=$LOOP
mkfs.ext4 -q "$src"
mount_at "$src" "$WORK/recovery"
head -c 8M /dev/urandom >"$WORK/recovery/file"
unmount "$WORK/recovery"
debugfs -w -R "feature needs_recovery" "$src" >/dev/null 2>&1
check "unreplayed journal: backup succeeds" clone --tui "$src" "$WORK/recovery.rbk"
check "unreplayed journal: says why it copies everything" grep -q 'journal needs recovery' "$WORK/err"
clone --rbk-info "$WORK/recovery.rbk"
check "unreplayed journal: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"
new_loop recovery-dst 128M random
check "unreplayed journal: restore succeeds" clone --tui "$WORK/recovery.rbk" "$LOOP"
check "unreplayed journal: byte-identical" cmp -s "$src" "$LOOP"

# Not cleanly unmounted (the valid bit unset, as a crash while mounted without a journal leaves it), with a file whose
# blocks the bitmap no longer lists although its directory entry still names it: everything is copied, byte for byte.
new_loop unclean 128M
src=$LOOP
mkfs.ext2 -q "$src"
mount_at "$src" "$WORK/unclean"
head -c 8M /dev/urandom >"$WORK/unclean/file"
unmount "$WORK/unclean"
debugfs -w -R "kill_file /file" "$src" >/dev/null 2>&1
debugfs -w -R "ssv state 0" "$src" >/dev/null 2>&1
check "not cleanly unmounted: backup succeeds" clone --tui "$src" "$WORK/unclean.rbk"
check "not cleanly unmounted: says why it copies everything" grep -q 'warning:.*not cleanly unmounted' "$WORK/err"
clone --rbk-info "$WORK/unclean.rbk"
check "not cleanly unmounted: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"
new_loop unclean-dst 128M random
check "not cleanly unmounted: restore succeeds" clone --tui "$WORK/unclean.rbk" "$LOOP"
check "not cleanly unmounted: byte-identical" cmp -s "$src" "$LOOP"

finish 93
