#!/bin/bash
# Everything that is not ext2/3/4, xfs or btrfs is copied whole, with all-zero runs left out of the image: after a
# restore onto a partition full of garbage, the device must be byte-identical to the source (vfat, swap, raw data).
. "$(dirname "$0")/lib.sh"

# whole_trip NAME EXPECTED_FS_TYPE: back up $src, restore onto garbage, compare; then again onto the copy (nothing
# to write) and onto the copy with a few blocks changed (only about those to write).
whole_trip() {
    local name=$1 type=$2 size
    size=$(blockdev --getsize64 "$src")
    local image="$WORK/$name.rbk"
    check "$name: backup succeeds" clone --tui $(store_args) "$src" "$image"
    check_store_image "$name" "$image"
    clone --rbk-info "$image"
    check "$name: recognised as $type" grep -qx "fs-type=$type" "$WORK/out"
    check "$name: whole-device image" grep -qx 'copy-mode=whole-device' "$WORK/out"
    check "$name: zero runs are not stored" test "$(stat -c %s "$image")" -lt "$size"
    new_loop "$name-dst" "$size" random
    check "$name: restore succeeds" clone --tui "$image" "$LOOP"
    check "$name: byte-identical after restore onto garbage" cmp -s "$src" "$LOOP"
    check "$name: onto its copy writes nothing" restore_writes "$image" "$LOOP" 0 0
    # Garbage over a 4 KiB block at the start (the partition table, if any), in the middle and at the end.
    local at
    for at in 0 $((size / 8192)) $((size / 4096 - 1)); do
        dd if=/dev/urandom of="$LOOP" bs=4096 seek="$at" count=1 conv=notrunc,fsync status=none
    done
    check "$name: onto 3 changed blocks writes only the pieces that hold them" \
        restore_writes "$image" "$LOOP" 1 $((3 * 4096))
    check "$name: byte-identical again" cmp -s "$src" "$LOOP"
}

new_loop vfat 128M
src=$LOOP
mkfs.vfat "$src" >/dev/null
# Data in what the file system may count as free: a whole copy keeps it too.
head -c 12M /dev/urandom | dd of="$src" bs=1M seek=20 conv=notrunc status=none
seq 1 200000 | dd of="$src" bs=1M seek=60 conv=notrunc status=none
whole_trip vfat vfat

new_loop swap 64M
src=$LOOP
mkswap "$src" >/dev/null
whole_trip swap swap

# Raw data without a file system: random and zero regions, and a size that is not a multiple of 4 KiB, so the last
# block is partial.
new_loop raw $((96 * 1024 * 1024 + 512))
src=$LOOP
head -c 10M /dev/urandom | dd of="$src" bs=1M seek=3 conv=notrunc status=none
head -c 3M /dev/urandom | dd of="$src" bs=1M seek=40 conv=notrunc status=none
seq 1 500000 | dd of="$src" bs=1M seek=70 conv=notrunc status=none
head -c 700 /dev/urandom | dd of="$src" bs=1 seek=$((96 * 1024 * 1024 - 200)) conv=notrunc status=none
whole_trip raw raw
STORE=$WORK/store whole_trip raw-store raw

# Onto a larger device: the image's size is written, nothing beyond it is touched.
new_loop raw-larger 128M random
larger=$LOOP
beyond_source() { tail -c +$((96 * 1024 * 1024 + 513)) "$larger" | md5sum; }
tail_before=$(beyond_source)
check "raw onto larger: restore succeeds" clone --tui "$WORK/raw.rbk" "$larger"
check "raw onto larger: source part identical" cmp -s -n $((96 * 1024 * 1024 + 512)) "$src" "$larger"
check "raw onto larger: the rest untouched" test "$tail_before" = "$(beyond_source)"

# A whole disk with a partition table is copied whole as well.
new_loop disk 64M
src=$LOOP
printf 'label: gpt\n,16M\n,\n' | sfdisk -q "$src" >/dev/null 2>&1
head -c 4M /dev/urandom | dd of="$src" bs=1M seek=2 conv=notrunc status=none
whole_trip disk gpt

# Onto a smaller disk: refused unless --fit allows it, never below --fit, only for a partitioned disk; allowed,
# everything up to the smaller disk's end is as on the source and nothing is written past it.
new_loop disk-smaller 48M random
check_not "disk onto smaller: refused without --fit" clone --tui "$WORK/disk.rbk" "$LOOP"
check_not "disk onto smaller: refused below --fit" clone --tui --fit $((49 * 1024 * 1024)) "$WORK/disk.rbk" "$LOOP"
check "disk onto smaller: verify-restore takes --fit" clone --verify-restore --fit $((40 * 1024 * 1024)) \
    "$WORK/disk.rbk" "$LOOP"
check "disk onto smaller: restore with --fit succeeds" clone --tui --fit $((40 * 1024 * 1024)) "$WORK/disk.rbk" "$LOOP"
check "disk onto smaller: identical as far as it goes" cmp -s -n $((48 * 1024 * 1024)) "$src" "$LOOP"
check_not "an image of anything but a partitioned disk is never cut" clone --tui --fit 1048576 "$WORK/vfat.rbk" "$LOOP"

finish 55
