# Shared by the clone tests: loop devices, mounts, FUSE mounts and temporary files that are removed however the test
# ends, and checks that count passes and failures. Source it; MARLIN_CLONE names the tool.
set -uo pipefail

CLONE=${MARLIN_CLONE:?set MARLIN_CLONE to the marlin-clone binary}
PYTHON=/usr/bin/python3
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
    echo "needs root (loop devices, mounts)" >&2
    exit 1
fi
WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/marlin-clone-test.XXXXXX")
LOOPS=()
MOUNTS=()
PIDS=()
CGROUPS=()
passed=0
failed=0

cleanup() {
    local i
    for pid in "${PIDS[@]}"; do
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    for group in "${CGROUPS[@]}"; do
        rmdir "$group" 2>/dev/null
    done
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTS[i]}" 2>/dev/null
    done
    for ((i = ${#LOOPS[@]} - 1; i >= 0; i--)); do
        losetup -d "${LOOPS[i]}" 2>/dev/null
    done
    # A FUSE mount stays busy until the loop device on one of its files is gone.
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        mountpoint -q "${MOUNTS[i]}" && umount -l "${MOUNTS[i]}"
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# new_loop NAME SIZE [zero|random]: a loop device on a new file; the device path is left in $LOOP.
new_loop() {
    local file="$WORK/$1.img"
    rm -f "$file"
    if [ "${3:-zero}" = random ]; then
        head -c "$2" /dev/urandom >"$file"
    else
        truncate -s "$2" "$file"
    fi
    LOOP=$(losetup -f --show "$file") || { echo "losetup failed" >&2; exit 1; }
    LOOPS+=("$LOOP")
}

# mount_at DEVICE DIR [OPTIONS]
mount_at() {
    mkdir -p "$2"
    mount ${3:+-o "$3"} "$1" "$2" || { echo "cannot mount $1" >&2; exit 1; }
    MOUNTS+=("$2")
}

unmount() {
    umount "$1"
}

hash_of() {
    md5sum <"$1" | cut -d' ' -f1
}

pass() {
    passed=$((passed + 1))
    echo "PASS: $1"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
}

# check DESCRIPTION COMMAND...: passes when the command succeeds.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# check_not DESCRIPTION COMMAND...: passes when the command fails.
check_not() {
    local what=$1
    shift
    if "$@"; then fail "$what"; else pass "$what"; fi
}

# quiet COMMAND...: runs it with its output kept aside, shown only when it fails.
quiet() {
    "$@" >"$WORK/quiet.log" 2>&1 && return 0
    cat "$WORK/quiet.log"
    return 1
}

# Runs the tool as the service does (environment holding only LC_ALL=C); output lands in $WORK/out and $WORK/err.
clone() {
    env -i LC_ALL=C "$CLONE" "$@" >"$WORK/out" 2>"$WORK/err"
}

# A store row: run a round trip with STORE set and its backup goes into that chunk store (--store) and is verified.
store_args() {
    [ -n "${STORE:-}" ] && printf '%s\n' --store "$STORE"
}

# The store row's extra check: --verify reads every chunk the image uses.
check_store_image() {
    [ -z "${STORE:-}" ] || check "$1: --verify checks every chunk of the store image" clone --verify "$2"
}

# What the last restore said it wrote (its output in $WORK/err).
written_bytes() {
    sed -n 's/.* done: \([0-9]*\) bytes written,.*/\1/p' "$WORK/err"
}

# restore_writes IMAGE DEVICE MIN MAX: the restore succeeds and writes between MIN and MAX bytes.
restore_writes() {
    clone --tui "$1" "$2" || { cat "$WORK/err"; return 1; }
    local written
    written=$(written_bytes)
    [ -n "$written" ] && [ "$written" -ge "$3" ] && [ "$written" -le "$4" ] && return 0
    echo "wrote ${written:-an unknown number of} bytes, expected $3 to $4"
    return 1
}

# throttle_writes DEVICE BYTES_PER_SECOND: a control group whose processes write to DEVICE no faster; its directory
# is left in $THROTTLE (a process joins by writing its pid into $THROTTLE/cgroup.procs).
throttle_writes() {
    local device
    device=$(printf '%d:%d' $(stat -Lc '0x%t 0x%T' "$1"))
    if [ -d /sys/fs/cgroup/blkio ]; then
        THROTTLE=/sys/fs/cgroup/blkio/marlin-clone-test.$$
        mkdir "$THROTTLE" && CGROUPS+=("$THROTTLE") &&
            echo "$device $2" >"$THROTTLE/blkio.throttle.write_bps_device"
    else
        THROTTLE=/sys/fs/cgroup/marlin-clone-test.$$
        echo +io >/sys/fs/cgroup/cgroup.subtree_control
        mkdir "$THROTTLE" && CGROUPS+=("$THROTTLE") && echo "$device wbps=$2" >"$THROTTLE/io.max"
    fi
}

# True when --rbk-info accepts the file.
accepted() {
    env -i LC_ALL=C "$CLONE" --rbk-info "$1" >/dev/null 2>&1
}

# The only images a directory holds that --rbk-info accepts, one name a line.
accepted_images() {
    local file
    for file in "$1"/* "$1"/.[!.]*; do
        [ -f "$file" ] && accepted "$file" && basename "$file"
    done
    return 0
}

# finish EXPECTED: the summary; also fails when fewer checks ran than the script has, so that a step that broke off
# early cannot pass unnoticed.
finish() {
    echo "$passed passed, $failed failed"
    if [ $((passed + failed)) -ne "$1" ]; then
        echo "FAIL: $((passed + failed)) checks ran, $1 expected"
        return 1
    fi
    [ "$failed" -eq 0 ]
}
