#!/bin/bash
# Every way an image or a target can be wrong is refused before the target is written: the target's content is
# hashed before and after each attempt. Broken images are also "invalid file" to --rbk-info, on both output streams.
. "$(dirname "$0")/lib.sh"

new_loop source 64M
src=$LOOP
mkfs.ext4 -q "$src"
mount_at "$src" "$WORK/src"
seq 1 400000 >"$WORK/src/numbers.txt"
head -c 6M /dev/urandom >"$WORK/src/random.bin"
unmount "$WORK/src"
good="$WORK/good.rbk"
clone --tui "$src" "$good" || { echo "cannot make the test image" >&2; exit 1; }

new_loop target 64M random
target=$LOOP
target_hash=$(hash_of "$target")

# Little-endian u64 at an offset of a file.
u64_at() {
    od -An -t u8 -j "$2" -N 8 "$1" | tr -d ' '
}

flip_byte() { # FILE OFFSET
    "$PYTHON" - "$1" "$2" <<'PY'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)
    f.seek(offset)
    f.write(bytes([byte[0] ^ 0x01]))
PY
}

size=$(stat -c %s "$good")
index_offset=$(u64_at "$good" $((size - 128 + 16)))
data_offset=1048576

# expect_refused NAME IMAGE [invalid]: restore fails, says why, and leaves the target as it was; with "invalid",
# --rbk-info must also reject the file exactly as the service expects.
expect_refused() {
    local name=$1 image=$2
    check "$name: --verify-restore says the image is bad" exits_with 1 clone --verify-restore "$image" "$target"
    check_not "$name: restore refused" clone --tui "$image" "$target"
    check "$name: says why on stderr" grep -q 'error' "$WORK/err"
    check "$name: target untouched" test "$(hash_of "$target")" = "$target_hash"
    if [ "${3:-}" = invalid ]; then
        check_not "$name: --rbk-info fails" clone --rbk-info "$image"
        check "$name: --rbk-info prints exactly 'invalid file' on stdout" test "$(cat "$WORK/out")" = "invalid file"
        check "$name: --rbk-info prints exactly 'invalid file' on stderr" test "$(cat "$WORK/err")" = "invalid file"
    fi
}

# exits_with CODE COMMAND...: passes when the command ends with that exit code.
exits_with() {
    local code=$1
    shift
    "$@"
    [ $? -eq "$code" ]
}

# damaged NAME OFFSET: a copy of the good image with one byte flipped.
damaged() {
    cp "$good" "$WORK/$1.rbk"
    flip_byte "$WORK/$1.rbk" "$2"
    echo "$WORK/$1.rbk"
}

check "the good image is accepted" accepted "$good"
check "--verify-restore passes the good image" clone --verify-restore "$good" "$target"
check "--verify-restore writes nothing" test "$(hash_of "$target")" = "$target_hash"

img=$(damaged chunk-start $((data_offset + 10)))
check "flipped byte in a chunk: --rbk-info (header, index, trailer only) still describes it" accepted "$img"
expect_refused "flipped byte at the start of the chunk data" "$img"
img=$(damaged chunk-end $((index_offset - 3)))
expect_refused "flipped byte at the end of the chunk data" "$img"
expect_refused "flipped byte in the index" "$(damaged index $((index_offset + 40)))" invalid
expect_refused "flipped byte in the header" "$(damaged header 40)" invalid
expect_refused "flipped byte in the trailer" "$(damaged trailer $((size - 100)))" invalid
expect_refused "flipped byte in the custom file table" "$(damaged custom $((64 * 1024 + 12)))" invalid

cp "$good" "$WORK/short.rbk"
truncate -s $((size - 1)) "$WORK/short.rbk"
expect_refused "one byte missing" "$WORK/short.rbk" invalid
cp "$good" "$WORK/half.rbk"
truncate -s $((size / 2)) "$WORK/half.rbk"
expect_refused "truncated to half" "$WORK/half.rbk" invalid
cp "$good" "$WORK/longer.rbk"
printf 'appended' >>"$WORK/longer.rbk"
expect_refused "bytes appended" "$WORK/longer.rbk" invalid
head -c 5M /dev/urandom >"$WORK/random.rbk"
expect_refused "not an image" "$WORK/random.rbk" invalid
: >"$WORK/empty.rbk"
expect_refused "empty file" "$WORK/empty.rbk" invalid
expect_refused "missing file" "$WORK/missing.rbk" invalid
check_not "--rbk-info on a directory" clone --rbk-info "$WORK"
check "--rbk-info on a directory prints 'invalid file'" test "$(cat "$WORK/out")" = "invalid file"

new_loop small 48M random
small=$LOOP
small_hash=$(hash_of "$small")
check_not "target smaller than the source: refused" clone --tui "$good" "$small"
check "target smaller than the source: says so" grep -q 'needs' "$WORK/err"
check "target smaller than the source: untouched" test "$(hash_of "$small")" = "$small_hash"
check "target smaller: --verify-restore refuses the device" exits_with 4 clone --verify-restore "$good" "$small"
check "no device: --verify-restore refuses it" exits_with 4 clone --verify-restore "$good" "$WORK/empty.rbk"

new_loop mounted 64M
mounted=$LOOP
mkfs.ext4 -q "$mounted"
mount_at "$mounted" "$WORK/mounted" ro
mounted_hash=$(hash_of "$mounted")
check_not "mounted target: refused" clone --tui "$good" "$mounted"
check "mounted target: says where" grep -q 'mounted on' "$WORK/err"
check "mounted target: untouched" test "$(hash_of "$mounted")" = "$mounted_hash"
unmount "$WORK/mounted"

# A mount the mount table does not tie to the device number (btrfs) is caught by the exclusive open.
new_loop btrfs 128M
btrfs_dev=$LOOP
mkfs.btrfs -q "$btrfs_dev" >/dev/null
mount_at "$btrfs_dev" "$WORK/btrfs" ro
btrfs_hash=$(hash_of "$btrfs_dev")
check_not "mounted btrfs target: refused" clone --tui "$good" "$btrfs_dev"
check "mounted btrfs target: untouched" test "$(hash_of "$btrfs_dev")" = "$btrfs_hash"
check "mounted btrfs target: --verify-restore refuses it" exits_with 4 clone --verify-restore "$good" "$btrfs_dev"
unmount "$WORK/btrfs"

check "after all refusals the good image still restores" clone --tui "$good" "$target"
check "and gives a clean file system" quiet fsck.ext4 -fn "$target"

finish 97
