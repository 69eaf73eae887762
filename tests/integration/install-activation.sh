#!/bin/bash
# Installs the service into a scratch prefix and proves that a bus started with the installed policy and activation
# file starts it on the first call: only root may own its name, only root and the administrators' group "sudo" may
# call it, and the service itself answers a caller that is not the live GUI with -100. Uses a bus of its own, never
# the machine's.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/marlin-activation.XXXXXX)
busPid=""
cleanup() {
    [ -n "$busPid" ] && kill "$busPid" 2>/dev/null || true
    mountpoint -q /etc/group && umount /etc/group
    pkill -f "^$work/usr/sbin/marlin-recovery-service" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/usr" >/dev/null
for f in sbin/marlin-recovery-service share/dbus-1/system.d/com.marlin.recovery.conf \
    share/dbus-1/system-services/com.marlin.recovery.service lib/systemd/system/marlin-recovery-service.service; do
    [ -e "$work/usr/$f" ] || fail "not installed: $f"
done
grep -qx "Exec=$work/usr/sbin/marlin-recovery-service" "$work/usr/share/dbus-1/system-services/com.marlin.recovery.service" ||
    fail "activation file names the wrong program"
grep -qx "BusName=com.marlin.recovery" "$work/usr/lib/systemd/system/marlin-recovery-service.service" ||
    fail "unit is not a D-Bus service"

# Like the system bus: nobody owns or calls anything unless a policy allows it; then our installed policy.
socket=$work/bus
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=$socket</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$work/usr/share/dbus-1/system-services</servicedir>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_destination="org.freedesktop.DBus"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_type="signal"/>
  </policy>
  <include>$work/usr/share/dbus-1/system.d/com.marlin.recovery.conf</include>
</busconfig>
CONF
chmod 755 "$work"
# In this test's own mount namespace, "nobody" becomes an administrator like the live session's user; "daemon" stays
# an ordinary account.
grep -q '^sudo:' /etc/group || fail "no group sudo on this machine"
sed -E 's/^(sudo:[^:]*:[^:]*:)(.+)$/\1\2,nobody/; s/^(sudo:[^:]*:[^:]*:)$/\1nobody/' /etc/group >"$work/group"
mount --bind "$work/group" /etc/group
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket
busPid=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-pid)

call() { dbus-send --system --print-reply=literal --reply-timeout=20000 --dest=com.marlin.recovery \
    /com/marlin/recovery "com.marlin.daemon.recovery.$1" ${2:+"string:$2"}; }

# The first call starts the service.
answer=$(call GetLiveType | xargs)
[[ $answer =~ ^int32\ -?[0-9]+$ ]] || fail "GetLiveType by activation answered: $answer"
pgrep -f "^$work/usr/sbin/marlin-recovery-service" >/dev/null || fail "service was not started by activation"

# Callers under the GUI's program name: refused by the bus unless root or an administrator; the service then refuses
# a program that is not the GUI ("{}" gets past the caller check only to be refused as empty: -1).
mkdir -m 755 "$work/bin"
cp /usr/bin/dbus-send "$work/bin/marlin-recovery-live"
as() {
    local user=$1
    shift
    if [ "$user" = root ]; then "$@"; else setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups "$@"; fi
}
callAs() { as "$1" "$2" --system --print-reply=literal --reply-timeout=20000 --dest=com.marlin.recovery \
    /com/marlin/recovery "com.marlin.daemon.recovery.$3" "string:$4" 2>&1 | xargs; }
gui=$work/bin/marlin-recovery-live
tools=$(cd "$(dirname "$0")/../tools" && pwd)
for method in SystemRestore ShowSystemRepairTool GetLiveType; do
    answer=$(callAs daemon "$gui" "$method" '{}' || true)
    [[ $answer == *AccessDenied* ]] || fail "ordinary account under the GUI's name, $method: $answer"
done
answer=$(callAs root "$gui" SystemRestore '{}')
[ "$answer" = "int32 -1" ] || fail "the GUI as root got: $answer"
answer=$(callAs nobody "$gui" SystemRestore '{}')
[ "$answer" = "int32 -1" ] || fail "the GUI as an administrator got: $answer"
answer=$(callAs nobody /usr/bin/dbus-send SystemRestore '{}')
[ "$answer" = "int32 -100" ] || fail "another program of an administrator got: $answer"
answer=$(callAs nobody /usr/bin/dbus-send ShowSystemRepairTool '{}')
[ "$answer" = "int32 -100" ] || fail "the repair tool, which runs as root, took another program: $answer"

# Signals name disks and backups: the administrators hear them, an ordinary account none. The outcome of a refused
# request is sent before its answer, and the marker after it, so a listener hears them in that order or not at all.
listen() {
    mkfifo -m 666 "$work/ready-$1"
    as "$1" timeout 60 "$tools/signal-listener" "$DBUS_SYSTEM_BUS_ADDRESS" "$work/ready-$1" >"$work/heard-$1" 2>&1 &
    read -r _ <"$work/ready-$1"
}
listen daemon
listen nobody
callAs root "$gui" AsyncGetPartitionCheckItemLists '{"opType": 3, "operateID": "heard"}' >/dev/null
dbus-send --system --type=signal /marker org.marlin.test.Marker.Done
wait
[ "$(xargs <"$work/heard-nobody")" = "Error Done" ] || fail "an administrator heard: $(xargs <"$work/heard-nobody")"
[ "$(xargs <"$work/heard-daemon")" = "Done" ] || fail "an ordinary account heard: $(xargs <"$work/heard-daemon")"

# Only root may own the name.
if setpriv --reuid=nobody --regid=nogroup --clear-groups dbus-send --system --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.RequestName string:com.marlin.recovery uint32:0 >/dev/null 2>&1; then
    fail "an unprivileged user could own com.marlin.recovery"
fi
echo "1 passed, 0 failed"
