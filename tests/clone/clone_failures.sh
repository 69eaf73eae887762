#!/bin/bash
# Backups that cannot finish (full destination, unreadable source, SIGTERM, SIGKILL) fail and leave no file that
# --rbk-info accepts under any name, and the older image beside them keeps its content.
. "$(dirname "$0")/lib.sh"

# The destination: a small file system that already holds an older image.
new_loop older-src 8M random
older_src=$LOOP
new_loop dest 64M
mkfs.ext4 -q "$LOOP"
dest="$WORK/dest"
mount_at "$LOOP" "$dest"
clone --tui "$older_src" "$dest/older.rbk" || { echo "cannot make the older image" >&2; exit 1; }
older_hash=$(hash_of "$dest/older.rbk")

# Random data does not compress: the backup of this source cannot fit into the destination.
new_loop big-src 160M random
big_src=$LOOP

# Whatever is in the destination besides the older image and lost+found.
extra_files() { ls -A "$dest" | grep -v -e '^older.rbk$' -e '^lost+found$'; }

# after_failure NAME: only the older image is there, and it is unchanged.
after_failure() {
    check "$1: no new image is accepted" test "$(accepted_images "$dest")" = "older.rbk"
    check "$1: older image untouched" test "$(hash_of "$dest/older.rbk")" = "$older_hash"
}

check_not "destination full: backup fails" clone --tui "$big_src" "$dest/system.rbk"
check "destination full: says so" grep -q 'No space left' "$WORK/err"
check "destination full: temporary file removed" test -z "$(extra_files)"
after_failure "destination full"

# A source with a bad region in the middle: reads there fail with EIO.
head -c 48M /dev/urandom >"$WORK/faulty-backing"
mkdir -p "$WORK/faulty"
if "$PYTHON" "$HERE/faulty_disk.py" "$WORK/faulty-backing" "$WORK/faulty" $((30 << 20)) $((31 << 20)); then
    MOUNTS+=("$WORK/faulty")
    faulty=$(losetup -r -f --show "$WORK/faulty/disk")
    LOOPS+=("$faulty")
    check_not "unreadable source: backup fails" clone --tui "$faulty" "$dest/system.rbk"
    check "unreadable source: names the I/O error" grep -q 'Input/output error' "$WORK/err"
    check "unreadable source: temporary file removed" test -z "$(extra_files)"
    after_failure "unreadable source"

    # --rescue: the same source gives an image that lists the bad region and restores zeros there.
    clone --tui --rescue "$faulty" "$WORK/rescued.rbk"
    check "rescue: exit status 3 tells a rescued image" test $? -eq 3
    check "rescue: says how much could not be read" grep -q 'could not be read, in [0-9]* range' "$WORK/err"
    check "rescue: --rbk-info accepts the image" clone --rbk-info "$WORK/rescued.rbk"
    cp "$WORK/out" "$WORK/rescued.info"
    new_loop rescued-dst 48M random
    check "rescue: restore succeeds" clone --tui "$WORK/rescued.rbk" "$LOOP"
    check "rescue: warns that the image has unreadable ranges" grep -q 'could not be read' "$WORK/err"
    check "rescue: the bad region is listed, zeros there, every other byte restored" \
        "$PYTHON" - "$WORK/rescued.info" "$WORK/faulty-backing" "$LOOP" $((30 << 20)) $((31 << 20)) <<'PY'
import sys
info, source, copy, bad_start, bad_end = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
fields = dict(line.rstrip("\n").split("=", 1) for line in open(info))
ranges = [tuple(int(n) for n in r.split("+")) for r in fields["unreadable-list"].split(",") if r]
listed = sum(length for _, length in ranges)
assert int(fields["unreadable-bytes"]) == listed and int(fields["unreadable-ranges"]) == len(ranges), fields
# Every unreadable byte is listed, and only bytes near the bad region are.
assert any(o <= bad_start and bad_end <= o + n for o, n in ranges), ranges
assert all(bad_start - (1 << 20) <= o and o + n <= bad_end + (1 << 20) for o, n in ranges), ranges
a, b = open(source, "rb").read(), open(copy, "rb").read(len(open(source, "rb").read()))
cursor = 0
for offset, length in ranges + [(len(a), 0)]:
    assert a[cursor:offset] == b[cursor:offset], f"difference between {cursor} and {offset}"
    assert b[offset:offset + length] == bytes(length), f"not zeros at {offset}"
    cursor = offset + length
PY
    losetup -d "$faulty"
    umount "$WORK/faulty"
else
    fail "unreadable source: cannot mount the faulty disk (python3-fusepy missing?)"
fi

# Signals arrive while the backup runs: we wait for its first progress line, which it prints once its temporary
# file exists and before it reads any data.
interrupted_backup() { # SIGNAL
    local fifo="$WORK/progress.fifo" line
    rm -f "$fifo"
    mkfifo "$fifo"
    env -i LC_ALL=C "$CLONE" --tui "$big_src" "$out_dir/system.rbk" >"$fifo" 2>"$WORK/err" &
    local pid=$!
    PIDS+=("$pid")
    exec 3<"$fifo"
    read -r line <&3
    kill "-$1" "$pid"
    wait "$pid"
    status=$?
    exec 3<&-
}

out_dir="$WORK/out-dir"
mkdir -p "$out_dir"
clone --tui "$older_src" "$out_dir/older.rbk"
out_older_hash=$(hash_of "$out_dir/older.rbk")

interrupted_backup TERM
check "SIGTERM: exits with the signal's status" test "$status" -eq 143
check "SIGTERM: no new image is accepted" test "$(accepted_images "$out_dir")" = "older.rbk"
check "SIGTERM: temporary file removed" test "$(ls -A "$out_dir")" = "older.rbk"
check "SIGTERM: older image untouched" test "$(hash_of "$out_dir/older.rbk")" = "$out_older_hash"

interrupted_backup KILL
check "SIGKILL: killed" test "$status" -eq 137
check "SIGKILL: no new image is accepted" test "$(accepted_images "$out_dir")" = "older.rbk"
check "SIGKILL: older image untouched" test "$(hash_of "$out_dir/older.rbk")" = "$out_older_hash"
leftover=$(ls -A "$out_dir" | grep -c '^\.system\.rbk\.partial-')
check "SIGKILL: the partial file keeps a name no image lookup matches" test "$leftover" -eq 1
check "next backup succeeds" clone --tui "$older_src" "$out_dir/system.rbk"
check "next backup removes what the killed one left" test "$(ls -A "$out_dir" | grep -c partial)" -eq 0
check "next backup is accepted" accepted "$out_dir/system.rbk"

# A restore killed once its progress passed 80 % (its writes slowed down, so that it is met halfway) and run again
# writes only what it had not done, plus what the pipeline held: at most half the image's data and 64 MiB.
check "image to restore" clone --tui "$big_src" "$WORK/big.rbk"
new_loop resumed 160M random
throttle_writes "$LOOP" $((32 << 20))
rm -f "$WORK/progress.fifo"
mkfifo "$WORK/progress.fifo"
(echo "$BASHPID" >"$THROTTLE/cgroup.procs" && exec env -i LC_ALL=C "$CLONE" --tui "$WORK/big.rbk" "$LOOP") \
    >"$WORK/progress.fifo" 2>"$WORK/err" &
pid=$!
PIDS+=("$pid")
exec 3<"$WORK/progress.fifo"
while read -r -t 120 line <&3; do
    percent=${line##* }
    [ "${percent%%.*}" -ge 80 ] && kill -KILL "$pid" && break
done
wait "$pid"
status=$?
exec 3<&-
check "killed restore: killed" test "$status" -eq 137
check "killed restore run again: writes at most half the data and 64 MiB" \
    restore_writes "$WORK/big.rbk" "$LOOP" 1 $(((80 + 64) << 20))
check "killed restore run again: byte-identical" cmp -s "$big_src" "$LOOP"

finish 31
