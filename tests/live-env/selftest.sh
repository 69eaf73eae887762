#!/bin/bash
# Self-test of marlin-live-env: builds the environment, looks at it from inside and from the host,
# tears it down and checks that nothing of it is left, then crashes it in several ways and checks
# that the next up recovers. Needs root; takes about a minute.
#
#   tests/live-env/selftest.sh [STATE_DIR]     (default: /tmp/marlin-live-env-selftest)
#
# Ends with "N passed, N failed"; exits non-zero when anything failed.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SELF=$HERE/$(basename "${BASH_SOURCE[0]}")
TOOL=$HERE/marlin-live-env

PASS=0
FAIL=0
check() { # DESCRIPTION CMD...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        PASS=$((PASS + 1))
        echo "ok - $what"
    else
        FAIL=$((FAIL + 1))
        echo "FAIL - $what"
    fi
}
group() { echo "# $*"; }
same() { [ "$1" = "$2" ]; }

# Partition keys in disk order with their file system, label and GPT name.
PARTITIONS=(
    "EFI vfat EFI EFI"
    "BOOT ext4 Boot Boot"
    "ROOT ext4 Roota Roota"
    "DATA ext4 _marlin_data _marlin_data"
    "RECOVERY ext4 Backup Backup"
    "SWAP swap SWAP SWAP"
    "SPARE ext4 Spare Spare"
    "XFS xfs Xfs Xfs"
    "BTRFS btrfs Btrfs Btrfs"
)

fstab_has() { # SOURCE MOUNTPOINT TYPE: the mounted root's fstab has such an entry
    awk -v s="$1" -v m="$2" -v t="$3" '$1 == s && $2 == m && $3 == t { f = 1 } END { exit !f }' "$root_mnt/etc/fstab"
}
udisks_object() { echo "/org/freedesktop/UDisks2/block_devices/$(basename "$1")"; }
udisks_call() { gdbus call --system --dest org.freedesktop.UDisks2 "$@"; }

# ---------------------------------------------------------------- checks run inside the environment

inside() {
    local key fs label partname dev n=0 mnt root_mnt data_mnt rec_mnt mp devices

    group "inside: kernel command line and /home/marlin"
    check "/proc/cmdline is the recovery live command line" same "$(cat /proc/cmdline)" \
        "BOOT_IMAGE=/live/vmlinuz boot=live toram=filesystem.squashfs live-media-path=usr/doppel root=UUID=$MARLIN_ROOT_UUID quiet splash"
    check "/home/marlin is a tmpfs" same "$(findmnt -n -o FSTYPE --mountpoint /home/marlin)" tmpfs
    check "/home/marlin starts empty" same "$(ls -A /home/marlin)" ""
    check "/home/marlin is writable" touch /home/marlin/probe.log

    group "inside: partitions"
    for line in "${PARTITIONS[@]}"; do
        read -r key fs label partname <<<"$line"
        n=$((n + 1))
        dev=$(eval echo "\${MARLIN_${key}_DEV}")
        check "$key is partition $n of $MARLIN_LOOP" same "$dev" "${MARLIN_LOOP}p$n"
        check "$key node $dev is a block device" test -b "$dev"
        check "$key carries the recorded UUID" same "$(blkid -p -o value -s UUID "$dev")" "$(eval echo "\${MARLIN_${key}_UUID}")"
        check "$key is $fs" same "$(blkid -p -o value -s TYPE "$dev")" "$fs"
        check "$key is labelled $label" same "$(blkid -p -o value -s LABEL "$dev")" "$label"
        check "$key has GPT name $partname" same "$(blkid -p -o value -s PART_ENTRY_NAME "$dev")" "$partname"
        check "$key has the recorded partition UUID" same "$(blkid -p -o value -s PART_ENTRY_UUID "$dev")" "$(eval echo "\${MARLIN_${key}_PARTUUID}")"
    done
    check "the disk has a GPT with the recorded UUID" same "$(blkid -p -o value -s PTUUID "$MARLIN_LOOP")" "$MARLIN_PTUUID"

    group "inside: the installed system"
    mnt=$(mktemp -d)
    root_mnt=$mnt/root data_mnt=$mnt/data rec_mnt=$mnt/recovery
    mkdir -p "$root_mnt" "$data_mnt" "$rec_mnt"
    check "root mounts" mount -o ro "$MARLIN_ROOT_DEV" "$root_mnt"
    check "data mounts" mount -o ro "$MARLIN_DATA_DEV" "$data_mnt"
    check "recovery mounts" mount -o ro "$MARLIN_RECOVERY_DEV" "$rec_mnt"
    check "fstab mounts the root UUID at /" fstab_has "UUID=$MARLIN_ROOT_UUID" / ext4
    check "fstab mounts boot at /boot" fstab_has "UUID=$MARLIN_BOOT_UUID" /boot ext4
    check "fstab mounts EFI at /boot/efi" fstab_has "UUID=$MARLIN_EFI_UUID" /boot/efi vfat
    check "fstab mounts data at /data" fstab_has "UUID=$MARLIN_DATA_UUID" /data ext4
    check "fstab mounts recovery at /recovery" fstab_has "UUID=$MARLIN_RECOVERY_UUID" /recovery ext4
    check "fstab lists the swap" fstab_has "UUID=$MARLIN_SWAP_UUID" none swap
    check "fstab binds /data/home to /home" fstab_has /data/home /home none
    check "fstab binds /data/opt to /opt" fstab_has /data/opt /opt none
    check "fstab binds /data/var to /var" fstab_has /data/var /var none
    check "fstab has a comment and a blank line" bash -c "grep -q '^#' '$root_mnt/etc/fstab' && grep -q '^$' '$root_mnt/etc/fstab'"
    check "system-recovery.conf names the recovery file system" \
        grep -qx "UUID=$MARLIN_RECOVERY_UUID" "$root_mnt/etc/marlin/system-recovery.conf"
    check "desktop-version has the edition" grep -qx "EditionName=Professional" "$root_mnt/usr/lib/marlin/desktop-version"
    check "desktop-version has the release type" \
        bash -c "sed -n '/^\[Release\]/,\$p' '$root_mnt/usr/lib/marlin/desktop-version' | grep -qx Type=Professional"
    check "os-version has major and minor version" \
        bash -c "grep -qx MajorVersion=25 '$root_mnt/etc/os-version' && grep -qx MinorVersion=1000 '$root_mnt/etc/os-version'"
    check "the locale is German" grep -qx "LANG=de_DE.UTF-8" "$root_mnt/etc/default/locale"
    check "wtmp has login records" test -s "$root_mnt/var/log/wtmp"
    check "the system has programs" test -x "$root_mnt/usr/bin/true"
    check "alice's report is on the data partition" test -s "$data_mnt/home/alice/Documents/report.txt"
    check "alice owns her home" same "$(stat -c %u "$data_mnt/home/alice/Documents/report.txt")" 1000
    check "bob has files" test -n "$(ls -A "$data_mnt/home/bob")"
    check "data holds opt and var" test -d "$data_mnt/opt/someapp" -a -d "$data_mnt/var/lib" -a -d "$data_mnt/var/log"
    check "recovery has an empty backup directory" same "$(ls -A "$rec_mnt/backup" 2>&1)" ""
    umount "$root_mnt" "$data_mnt" "$rec_mnt"
    rm -rf "$mnt"

    group "inside: the private system bus"
    check "the bus is the environment's own" test -S "${DBUS_SYSTEM_BUS_ADDRESS#unix:path=}" -a \
        "${DBUS_SYSTEM_BUS_ADDRESS#unix:path=}" != /run/dbus/system_bus_socket
    check "udisksd owns org.freedesktop.UDisks2" bash -c "dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.UDisks2 | grep -q 'boolean true'"
    devices=$(udisks_call --object-path /org/freedesktop/UDisks2/Manager \
        --method org.freedesktop.UDisks2.Manager.GetBlockDevices '{}' 2>&1)
    for line in "${PARTITIONS[@]}"; do
        read -r key fs label partname <<<"$line"
        dev=$(eval echo "\${MARLIN_${key}_DEV}")
        check "udisksd lists $dev" grep -qF "'$(udisks_object "$dev")'" <<<"$devices"
        check "udisksd reports the UUID of $dev" grep -qF "'$(eval echo "\${MARLIN_${key}_UUID}")'" \
            <<<"$(udisks_call --object-path "$(udisks_object "$dev")" --method org.freedesktop.DBus.Properties.Get \
                org.freedesktop.UDisks2.Block IdUUID 2>&1)"
    done

    group "inside: drives"
    check "the disk has the drive named in the env file" same "$(udisks_call --object-path "$(udisks_object "$MARLIN_LOOP")" \
        --method org.freedesktop.DBus.Properties.Get org.freedesktop.UDisks2.Block Drive 2>&1)" \
        "(<objectpath '/org/freedesktop/UDisks2/drives/$MARLIN_SYSTEM_DRIVE'>,)"
    for line in "${PARTITIONS[@]}"; do
        read -r key _ <<<"$line"
        dev=$(eval echo "\${MARLIN_${key}_DEV}")
        check "$key lies in the disk's partition table" grep -qF "$(udisks_object "$dev")" \
            <<<"$(udisks_call --object-path "$(udisks_object "$MARLIN_LOOP")" --method org.freedesktop.DBus.Properties.Get \
                org.freedesktop.UDisks2.PartitionTable Partitions 2>&1)"
    done
    check "the drive has the serial of its udev rule" grep -qF "'$MARLIN_SYSTEM_DRIVE'" \
        <<<"$(udisks_call --object-path "/org/freedesktop/UDisks2/drives/$MARLIN_SYSTEM_DRIVE" \
            --method org.freedesktop.DBus.Properties.Get org.freedesktop.UDisks2.Drive Serial 2>&1)"

    group "inside: udisksd mounts and unmounts as root"
    mp=$(udisks_call --object-path "$(udisks_object "$MARLIN_SPARE_DEV")" \
        --method org.freedesktop.UDisks2.Filesystem.Mount '{}' 2>&1 | sed -n "s/^('\(.*\)',)$/\1/p")
    check "Mount answers a mount point below /media/root" test "${mp#/media/root/}" != "$mp"
    check "the host's mount shows up in here" findmnt -n --mountpoint "$mp"
    check "the mounted file system is the Spare partition" test -f "$mp/spare.txt"
    check "Unmount succeeds" udisks_call --object-path "$(udisks_object "$MARLIN_SPARE_DEV")" \
        --method org.freedesktop.UDisks2.Filesystem.Unmount '{}'
    check "the unmount shows up in here" bash -c "! findmnt -n --mountpoint '$mp'"

    group "inside: tools"
    check "sudo works without a terminal" sudo -n true
    check "our tools come first on PATH" same "$(command -v marlin-selftest-tool)" "$MARLIN_BIN_DIR/marlin-selftest-tool"
    check "sudo finds our tools" same "$(sudo -n marlin-selftest-tool </dev/null)" "selftest tool ran"
    check "the scripts directory is in place" test -f /lib/marlin-recovery-gui/scripts/selftest-script.sh
    check "the repair tool is our fake" /usr/bin/marlin-repair-pkexec --selftest "two words"
    check "the fake logs through sudo, which clears the environment" sudo -n /usr/bin/marlin-repair-pkexec --via-sudo
}

if [ "${1:-}" = --inside ]; then
    inside
    exit $((FAIL > 0))
fi

# ---------------------------------------------------------------- checks from the host

[ "$(id -u)" = 0 ] || { echo "selftest.sh must run as root" >&2; exit 2; }
STATE=${1:-/tmp/marlin-live-env-selftest}
WORK=$(mktemp -d)
trap '"$TOOL" down "$STATE" >/dev/null 2>&1; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/bin" "$WORK/scripts"
printf '#!/bin/sh\necho "selftest tool ran"\n' >"$WORK/bin/marlin-selftest-tool"
chmod 0755 "$WORK/bin/marlin-selftest-tool"
echo 'echo script' >"$WORK/scripts/selftest-script.sh"

UDEV_RULES=/run/udev/rules.d/61-marlin-live-env.rules
HOST_PATHS=(/home/marlin /lib/marlin-recovery-gui /usr/bin/marlin-repair-pkexec /media/root /run/marlin-live-env)
baseline() { local p; for p in "${HOST_PATHS[@]}"; do [ -e "$p" ] && echo "$p"; done; true; }
BASELINE=$(baseline)
HOST_CMDLINE=$(cat /proc/cmdline)
foreign_udevd() { # running udevd main processes (a zombie, or one reaped meanwhile, is none)
    local p s
    for p in $(pgrep -x systemd-udevd); do
        s=$(ps -o stat= -p "$p") && [ -n "$s" ] && [ "${s:0:1}" != Z ] && echo "$p"
    done
    true
}
FOREIGN_UDEVD=$(foreign_udevd)

now() { echo "${EPOCHREALTIME/./}"; }
TIMINGS=()
timed() { # LABEL CMD...: runs CMD, notes how long it took, returns its status
    local label=$1 t0 rc
    shift
    t0=$(now)
    "$@"
    rc=$?
    TIMINGS+=("$label: $(( ($(now) - t0) / 1000 )) ms")
    return $rc
}

alive() { # PID STARTTIME: that very process still runs (zombies count as gone)
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    # shellcheck disable=SC2086
    set -- "$2" $stat
    [ "$2" != Z ] && [ "${21}" = "$1" ]
}
dead() { ! alive "$@"; }

# What an environment has running and attached, noted before it is torn down or crashed.
snapshot() {
    SNAP_PIDS=()
    local f
    for f in "$STATE"/pids/*; do [ -f "$f" ] && SNAP_PIDS+=("$(basename "$f") $(cat "$f")"); done
    SNAP_LOOP=$(cat "$STATE/loop" 2>/dev/null)
}

session_procs() { # processes in mount namespaces where /proc/cmdline is bound from our state
    local p
    for p in /proc/[0-9]*; do
        grep -qE "^[^ ]+ [^ ]+ [^ ]+ [^ ]*$(basename "$STATE")/cmdline(//deleted)? /proc/cmdline " "$p/mountinfo" 2>/dev/null &&
            echo "${p#/proc/}"
    done
    true
}

loop_mounts() { [ -z "$1" ] || grep -E " $1(p[0-9]+)? " /proc/self/mountinfo; true; }

check_nothing_left() {
    local entry name pid st
    for entry in "${SNAP_PIDS[@]}"; do
        read -r name pid st <<<"$entry"
        check "$name (pid $pid) is stopped" dead "$pid" "$st"
    done
    check "no loop device uses the image" bash -c "! losetup -a | grep -qF '$STATE/disk.img'"
    # Another program may take the freed device at once: what counts is that our images are off it.
    check "$SNAP_LOOP is detached" bash -c "! losetup -n -O BACK-FILE '$SNAP_LOOP' 2>/dev/null | grep -qF '$STATE/'"
    check "no partition of $SNAP_LOOP is mounted" same "$(loop_mounts "$SNAP_LOOP")" ""
    check "nothing is mounted below /media/root" same "$(findmnt -n -R -o TARGET /media/root 2>/dev/null)" ""
    check "no process is left in an exec namespace" same "$(session_procs)" ""
    check "no process carries the environment" \
        bash -c "! grep -lzx 'MARLIN_STATE_DIR=$STATE' /proc/[0-9]*/environ 2>/dev/null | grep -v self"
    check "the host paths are as before" same "$(baseline)" "$BASELINE"
    check "udevd runs only if it ran before (now: $(foreign_udevd | tr '\n' ' '))" same "$(foreign_udevd)" "$FOREIGN_UDEVD"
    check "the bus socket is gone" test ! -e "$STATE/system_bus_socket"
    check "the image is gone" test ! -e "$STATE/disk.img"
    check "the backup disk's image is gone" test ! -e "$STATE/backup-disk.img"
    check "no udev rule of the environment is left" test ! -e "$UDEV_RULES"
}

group "down with nothing to tear down"
rm -rf "$STATE"
check "down of a missing state directory succeeds" "$TOOL" down "$STATE"
mkdir -p "$WORK/foreign"
touch "$WORK/foreign/precious"
check "down refuses a directory that is not a state directory" bash -c "! '$TOOL' down '$WORK/foreign'"
check "and leaves its files alone" test -f "$WORK/foreign/precious"
check "exec without an environment exits 125" bash -c "'$TOOL' exec '$STATE' -- true; [ \$? = 125 ]"

group "up"
check "up succeeds" timed "up" "$TOOL" up "$STATE"
check "up wrote the env file" test -f "$STATE/env"
for key in MARLIN_LIVE_ENV MARLIN_LOOP MARLIN_STATE_DIR DBUS_SYSTEM_BUS_ADDRESS; do
    check "env has $key" grep -q "^$key=." "$STATE/env"
done
for line in "${PARTITIONS[@]}"; do
    read -r key _ <<<"$line"
    check "env has MARLIN_${key}_DEV and MARLIN_${key}_UUID" \
        bash -c "grep -q '^MARLIN_${key}_DEV=/dev/loop[0-9]*p[0-9]$' '$STATE/env' && grep -q '^MARLIN_${key}_UUID=.' '$STATE/env'"
done
check "env lines are KEY=value without quotes or spaces" bash -c "! grep -vE '^[A-Z_]+=[^ \"]+$' '$STATE/env'"
# shellcheck disable=SC1091
. "$STATE/env"
check "the bus is not the machine's" same "${DBUS_SYSTEM_BUS_ADDRESS#unix:path=}" "$STATE/system_bus_socket"

group "partitions survive udevd's table re-read"
exec 7>>"$MARLIN_LOOP" && exec 7>&-
udevadm settle --timeout=30
check "all ten partition nodes are there after the disk was closed after writing" \
    bash -c "for n in 1 2 3 4 5 6 7 8 9 10; do test -b ${MARLIN_LOOP}p\$n || exit 1; done"

group "inside (run through exec)"
t0=$(now)
inside_out=$(MARLIN_BIN_DIR=$WORK/bin MARLIN_SCRIPTS_DIR=$WORK/scripts "$TOOL" exec "$STATE" -- bash "$SELF" --inside 2>&1)
inside_rc=$?
TIMINGS+=("exec of the inside checks: $(( ($(now) - t0) / 1000 )) ms")
echo "$inside_out" | grep -E '^(ok|FAIL|#) '
PASS=$((PASS + $(grep -c '^ok ' <<<"$inside_out")))
FAIL=$((FAIL + $(grep -c '^FAIL ' <<<"$inside_out")))
check "the inside checks ran (and exec passed their status on)" test "$inside_rc" = 0 -a "$(grep -c '^ok ' <<<"$inside_out")" -ge 100

group "exec"
check "exec returns the command's status" bash -c "'$TOOL' exec '$STATE' -- sh -c 'exit 7'; [ \$? = 7 ]"
check "exec returns 127 for a missing command" bash -c "'$TOOL' exec '$STATE' -- /nonexistent/command; [ \$? = 127 ]"
check "exec passes arguments unchanged" same "$("$TOOL" exec "$STATE" -- printf '%s|' 'a b' '' "c'd")" "a b||c'd|"
check "exec passes stdin through" same "$(echo piped | "$TOOL" exec "$STATE" -- cat)" piped
check "each exec gets an empty /home/marlin" same "$("$TOOL" exec "$STATE" -- ls -A /home/marlin)" ""
check "shell runs bash inside" bash -c "echo 'grep -q live-media-path /proc/cmdline && exit 3' | '$TOOL' shell '$STATE' >/dev/null 2>&1; [ \$? = 3 ]"
entries() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -vxE "$2" | sort; }
check "exec without MARLIN_BIN_DIR shows the host's /usr/local/sbin besides the power stand-ins" \
    same "$("$TOOL" exec "$STATE" -- bash -c "$(declare -f entries); entries /usr/local/sbin 'reboot|poweroff|shutdown|halt'")" \
    "$(entries /usr/local/sbin 'reboot|poweroff|shutdown|halt')"
rm -f "$STATE/power.log"
check "reboot and poweroff through sudo only write power.log" \
    same "$("$TOOL" exec "$STATE" -- sh -c 'sudo reboot -f && sudo poweroff' && cat "$STATE/power.log")" \
    "$(printf 'reboot -f\npoweroff ')"
check "the host's /usr/local/sbin has no stand-ins" test ! -e /usr/local/sbin/reboot
check "exec shows the host's /home besides /home/marlin" \
    same "$("$TOOL" exec "$STATE" -- bash -c "$(declare -f entries); entries /home marlin")" "$(entries /home marlin)"
check "exec shows the host's /usr/bin besides the fake" \
    same "$("$TOOL" exec "$STATE" -- bash -c "$(declare -f entries); entries /usr/bin marlin-repair-pkexec")" \
    "$(entries /usr/bin marlin-repair-pkexec)"
check "the host's /proc/cmdline is untouched" same "$(cat /proc/cmdline)" "$HOST_CMDLINE"
check "the host has no tmpfs on /home/marlin" bash -c "! findmnt --mountpoint /home/marlin"
check "the host has no mount on /usr/bin/marlin-repair-pkexec" bash -c "! findmnt --mountpoint /usr/bin/marlin-repair-pkexec"
check "the fake repair tool logged its arguments, tab-separated" \
    grep -qE $'^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+[+-][0-9:]+\t--selftest\ttwo words$' "$STATE/repair-tool.log"
check "the fake repair tool logged the call made through sudo" grep -qE $'\t--via-sudo$' "$STATE/repair-tool.log"
echo 3 >"$STATE/repair-tool.exit"
check "the fake repair tool fails when asked to" bash -c "'$TOOL' exec '$STATE' -- /usr/bin/marlin-repair-pkexec x; [ \$? = 3 ]"
rm -f "$STATE/repair-tool.exit"

group "the backup disk"
drive_of() { # LOOP: the udisks drive name of a disk
    "$TOOL" exec "$STATE" -- gdbus call --system --dest org.freedesktop.UDisks2 --object-path "$(udisks_object "$1")" \
        --method org.freedesktop.DBus.Properties.Get org.freedesktop.UDisks2.Block Drive 2>/dev/null |
        sed -n "s|^(<objectpath '/org/freedesktop/UDisks2/drives/\(.*\)'>,)\$|\1|p"
}
check "the udev rule names the disk's image" grep -qF "ATTR{loop/backing_file}==\"$STATE/disk.img\"" "$UDEV_RULES"
check "add-backup-disk succeeds" timed "add-backup-disk" "$TOOL" add-backup-disk "$STATE"
# shellcheck disable=SC1091
. "$STATE/env"
check "env has the backup disk, its partition and drive" test -n "${MARLIN_BACKUP_DISK:-}" -a -n "${MARLIN_BACKUP_UUID:-}" \
    -a -n "${MARLIN_BACKUP_DRIVE:-}"
check "its partition is ext4 with the recorded UUID" same "$(blkid -p -o value -s UUID "${MARLIN_BACKUP_DEV:-none}")" \
    "${MARLIN_BACKUP_UUID:-}"
check "the backup disk has a drive of its own" same "$(drive_of "${MARLIN_BACKUP_DISK:-none}")" "${MARLIN_BACKUP_DRIVE:-}"
check "the system disk keeps its drive" same "$(drive_of "$MARLIN_LOOP")" "$MARLIN_SYSTEM_DRIVE"
check "the drives differ" test "${MARLIN_BACKUP_DRIVE:-}" != "$MARLIN_SYSTEM_DRIVE"
backup_loop=${MARLIN_BACKUP_DISK:-}
check "remove-backup-disk succeeds" "$TOOL" remove-backup-disk "$STATE"
check "its loop device is detached" bash -c "! losetup -n -O BACK-FILE '$backup_loop' 2>/dev/null | grep -qF '$STATE/'"
check "its rule is gone, the system disk's kept" bash -c "! grep -qF backup-disk.img '$UDEV_RULES' && grep -qF '$STATE/disk.img' '$UDEV_RULES'"
check "env no longer names it" bash -c "! grep -q '^MARLIN_BACKUP_' '$STATE/env'"
check "udisksd no longer lists its drive" bash -c "! '$TOOL' exec '$STATE' -- udisksctl status | grep -qF '${MARLIN_BACKUP_DRIVE:-none}'"
unset MARLIN_BACKUP_DISK MARLIN_BACKUP_DEV MARLIN_BACKUP_UUID MARLIN_BACKUP_DRIVE
check "add-backup-disk again, to be torn down by down" "$TOOL" add-backup-disk "$STATE"
# shellcheck disable=SC1091
. "$STATE/env"
old_names="$MARLIN_LOOP ${MARLIN_BACKUP_DISK:-}"
old_drives="$MARLIN_SYSTEM_DRIVE ${MARLIN_BACKUP_DRIVE:-}"
check "reattach succeeds" timed "reattach" "$TOOL" reattach "$STATE"
# shellcheck disable=SC1091
. "$STATE/env"
check "the system disk has another device name" test "$MARLIN_LOOP" != "${old_names%% *}"
check "the env file names the partitions on it" same "$MARLIN_ROOT_DEV" "${MARLIN_LOOP}p3"
check "each disk keeps its drive" same "$(drive_of "$MARLIN_LOOP") $(drive_of "${MARLIN_BACKUP_DISK:-none}")" "$old_drives"
check "the root carries its UUID under the new name" same "$(blkid -p -o value -s UUID "$MARLIN_ROOT_DEV")" "$MARLIN_ROOT_UUID"

group "down cleans what tests leave behind"
"$TOOL" exec "$STATE" -- gdbus call --system --dest org.freedesktop.UDisks2 --object-path "$(udisks_object "$MARLIN_SPARE_DEV")" \
    --method org.freedesktop.UDisks2.Filesystem.Mount '{}' >/dev/null
check "a udisks mount made inside is visible on the host" test -n "$(loop_mounts "$MARLIN_LOOP")"
"$TOOL" exec "$STATE" -- sh -c 'env -i setsid sleep 1000 </dev/null >/dev/null 2>&1 &'
check "a process left behind by exec is noticed" test -n "$(session_procs)"
snapshot
check "down succeeds" timed "down" "$TOOL" down "$STATE"
check_nothing_left
check "a second down succeeds" "$TOOL" down "$STATE"

group "up after up"
check "up succeeds" "$TOOL" up "$STATE"
snapshot
first=("${SNAP_PIDS[@]}")
check "up again without down succeeds" timed "up over up" "$TOOL" up "$STATE"
for entry in "${first[@]}"; do
    read -r name pid st <<<"$entry"
    check "the first $name (pid $pid) was stopped" dead "$pid" "$st"
done
check "exactly one loop device uses the image" same "$(losetup -j "$STATE/disk.img" | wc -l)" 1

group "up after everything was killed"
# shellcheck disable=SC1091
. "$STATE/env"
"$TOOL" exec "$STATE" -- gdbus call --system --dest org.freedesktop.UDisks2 --object-path "$(udisks_object "$MARLIN_SPARE_DEV")" \
    --method org.freedesktop.UDisks2.Filesystem.Mount '{}' >/dev/null
"$TOOL" exec "$STATE" -- sh -c 'setsid sleep 1000 </dev/null >/dev/null 2>&1 &'
snapshot
for entry in "${SNAP_PIDS[@]}"; do
    read -r name pid st <<<"$entry"
    kill -KILL "$pid"
done
old_loop=$SNAP_LOOP
check "up recovers" timed "up after kill -9" "$TOOL" up "$STATE"
check "the killed environment's mount is gone" same "$(findmnt -n -o SOURCE --mountpoint /media/root/Spare)" ""
check "exactly one loop device uses the image" same "$(losetup -j "$STATE/disk.img" | wc -l)" 1
check "the old session's process is gone" same "$(session_procs)" ""
# shellcheck disable=SC1091
. "$STATE/env"
check "the new environment works inside" "$TOOL" exec "$STATE" -- bash -c \
    "grep -q 'root=UUID=$MARLIN_ROOT_UUID ' /proc/cmdline && dbus-send --system --print-reply --dest=org.freedesktop.DBus / \
     org.freedesktop.DBus.NameHasOwner string:org.freedesktop.UDisks2 | grep -q 'boolean true'"
[ "$old_loop" = "$MARLIN_LOOP" ] || check "the old loop device $old_loop was detached" \
    bash -c "! losetup -n -O BACK-FILE '$old_loop' 2>/dev/null | grep -qF '$STATE/'"

group "up after crashes part way through up"
for point in loop partitions udevd fill bus; do
    # With the backup disk too, so that a crash leaves both disks and their rules behind.
    MARLIN_LIVE_ENV_BACKUP_DISK=1 MARLIN_LIVE_ENV_CRASH_AT=$point "$TOOL" up "$STATE" >/dev/null 2>&1
    check "up crashed at '$point' as asked" test $? = 137
done
check "up recovers" "$TOOL" up "$STATE"
check "exactly one loop device uses the image" same "$(losetup -j "$STATE/disk.img" | wc -l)" 1
check "no loop device uses the backup disk's image" same "$(losetup -j "$STATE/backup-disk.img" | wc -l)" 0
check "the udev rules name the one disk" same "$(grep -c . "$UDEV_RULES")" 1
snapshot
check "down succeeds" "$TOOL" down "$STATE"
check_nothing_left

echo "# timings"
printf '#   %s\n' "${TIMINGS[@]}"
echo "$PASS passed, $FAIL failed"
[ "$FAIL" = 0 ]
