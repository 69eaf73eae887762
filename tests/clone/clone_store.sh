#!/bin/bash
# Images made into a chunk store: a second backup of a little-changed file system adds little; chunks shared by two
# images survive deleting one and pruning; a damaged or missing chunk fails --verify and refuses the restore with the
# target untouched; prune refuses while the store is in use or an image cannot be read; concurrent backups into one
# store both succeed.
. "$(dirname "$0")/lib.sh"

backups=$WORK/backups
store=$backups/.chunks
mkdir -p "$backups/first" "$backups/second" "$backups/third"
store_bytes() { du -sb "$store" | cut -f1; }
chunk_count() { find "$store" -type f -name '[0-9a-f]*' | wc -l; }
info_value() { clone --rbk-info "$1" && sed -n "s/^$2=//p" "$WORK/out"; }

new_loop src 256M
src=$LOOP
mkfs.ext4 -q "$src"
mount_at "$src" "$WORK/mnt"
cp -a /usr/include/linux "$WORK/mnt/include"
head -c 40M /dev/urandom >"$WORK/mnt/random.bin"
unmount "$WORK/mnt"

check "first backup into a new store succeeds" clone --tui --store "$store" "$src" "$backups/first/src.rbk"
first_bytes=$(store_bytes)
check "the first image alone uses all its chunks" \
    test "$(info_value "$backups/first/src.rbk" store-bytes-own)" = "$(info_value "$backups/first/src.rbk" store-bytes)"

mount_at "$src" "$WORK/mnt"
head -c 1M /dev/urandom >"$WORK/mnt/new.bin"
dd if=/dev/urandom of="$WORK/mnt/random.bin" bs=64k count=2 seek=100 conv=notrunc status=none
unmount "$WORK/mnt"
check "second backup succeeds" clone --tui --store "$store" "$src" "$backups/second/src.rbk"
check "the second backup adds less than a tenth of the first" \
    test $(($(store_bytes) - first_bytes)) -lt $((first_bytes / 10))
check "the second image holds only a little on its own" \
    test "$(info_value "$backups/second/src.rbk" store-bytes-own)" -lt $((first_bytes / 10))
check "the rest of the second image is shared with the first" \
    test "$(info_value "$backups/second/src.rbk" store-bytes-shared)" -gt $((first_bytes / 2))

# Prune must not act on incomplete knowledge: an unreadable image or a store in use refuses it, removing nothing.
chunks=$(chunk_count)
rm "$backups/first/src.rbk"
echo 'not an image' >"$backups/third/broken.rbk"
check_not "prune with an unreadable image: refused" clone --prune "$store"
rm "$backups/third/broken.rbk"
check_not "prune while the store is in use: refused" flock -s "$store/.lock" env -i LC_ALL=C "$CLONE" --prune "$store" 2>/dev/null
check "refused prunes removed nothing" test "$(chunk_count)" -eq "$chunks"
mkdir -p "$store/00" && touch "$store/00/.tmp-left-by-a-cut-off-backup"
check "prune after deleting the first image succeeds" clone --prune "$store"
check "prune removed the first image's own chunks" test "$(chunk_count)" -lt "$chunks"
check "prune removed the temporary file" test ! -e "$store/00/.tmp-left-by-a-cut-off-backup"
check "the second image still verifies" clone --verify "$backups/second/src.rbk"
new_loop dst 256M random
dst=$LOOP
check "the second image still restores" clone --tui "$backups/second/src.rbk" "$dst"
check "the restore is fsck-clean" quiet fsck.ext4 -fn "$dst"
check "the restore holds every used byte" quiet "$PYTHON" "$HERE/used_bytes_equal.py" "$src" "$dst"

# A chunk the image uses, damaged or gone: --verify fails, the restore is refused and the target keeps every byte.
victim=$(find "$store" -type f -name '[0-9a-f]*' -size +8k | head -1)
cp "$victim" "$WORK/victim"
dst_sum=$(hash_of "$dst")
for fault in damaged missing; do
    cp "$WORK/victim" "$victim"
    if [ "$fault" = damaged ]; then
        printf 'X' | dd of="$victim" bs=1 seek=2000 conv=notrunc status=none
    else
        rm "$victim"
    fi
    check_not "$fault chunk: --verify fails" clone --verify "$backups/second/src.rbk"
    check_not "$fault chunk: restore refused" clone --tui "$backups/second/src.rbk" "$dst"
    check "$fault chunk: the target is untouched" test "$(hash_of "$dst")" = "$dst_sum"
done
cp "$WORK/victim" "$victim"

# Moved together with its store, an image still finds it; --store names a store elsewhere.
mv "$backups" "$WORK/moved"
check "an image moved with its store verifies" clone --verify "$WORK/moved/second/src.rbk"
mv "$WORK/moved/.chunks" "$WORK/elsewhere"
check_not "without its store the image fails --verify" clone --verify "$WORK/moved/second/src.rbk"
check "--store finds the store elsewhere" clone --verify --store "$WORK/elsewhere" "$WORK/moved/second/src.rbk"
check "--verify-restore takes --store too" clone --verify-restore --store "$WORK/elsewhere" "$WORK/moved/second/src.rbk" "$dst"

# Two backups into one store at once, of identical file systems, so both write the same chunks.
cp --sparse=always "$WORK/src.img" "$WORK/twin.img"
twin=$(losetup -f --show "$WORK/twin.img")
LOOPS+=("$twin")
fresh=$WORK/fresh/.chunks
mkdir -p "$WORK/fresh"
env -i LC_ALL=C "$CLONE" --tui --store "$fresh" "$src" "$WORK/fresh/a.rbk" >/dev/null 2>"$WORK/err-a" &
first_pid=$!
env -i LC_ALL=C "$CLONE" --tui --store "$fresh" "$twin" "$WORK/fresh/b.rbk" >/dev/null 2>"$WORK/err-b" &
second_pid=$!
check "concurrent backup 1 succeeds" wait "$first_pid"
check "concurrent backup 2 succeeds" wait "$second_pid"
check "concurrent image 1 verifies" clone --verify "$WORK/fresh/a.rbk"
check "concurrent image 2 verifies" clone --verify "$WORK/fresh/b.rbk"
check "no temporary file is left" test -z "$(find "$fresh" -name '.tmp-*')"

finish 31
