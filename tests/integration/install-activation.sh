#!/bin/bash
# Installs the service into a scratch prefix and proves that a bus started with the installed policy and activation
# file starts it on the first call: only root may own its name, any user may call it, and the service itself answers
# a caller that is not the live GUI with -100. Uses a bus of its own, never the machine's.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/marlin-activation.XXXXXX)
busPid=""
cleanup() {
    [ -n "$busPid" ] && kill "$busPid" 2>/dev/null || true
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
  </policy>
  <include>$work/usr/share/dbus-1/system.d/com.marlin.recovery.conf</include>
</busconfig>
CONF
chmod 755 "$work"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$socket
busPid=$(dbus-daemon --config-file="$work/bus.conf" --fork --print-pid)

call() { dbus-send --system --print-reply=literal --reply-timeout=20000 --dest=com.marlin.recovery \
    /com/marlin/recovery "com.marlin.daemon.recovery.$1" ${2:+"string:$2"}; }

# The first call starts the service.
answer=$(call GetLiveType | xargs)
[[ $answer =~ ^int32\ -?[0-9]+$ ]] || fail "GetLiveType by activation answered: $answer"
pgrep -f "^$work/usr/sbin/marlin-recovery-service" >/dev/null || fail "service was not started by activation"

# Another user may call; the service refuses a caller that is not the live GUI.
answer=$(setpriv --reuid=nobody --regid=nogroup --clear-groups dbus-send --system --print-reply=literal \
    --dest=com.marlin.recovery /com/marlin/recovery com.marlin.daemon.recovery.SystemRestore 'string:{"opType": 1}' | xargs)
[ "$answer" = "int32 -100" ] || fail "unprivileged caller got: $answer"

# Only root may own the name.
if setpriv --reuid=nobody --regid=nogroup --clear-groups dbus-send --system --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.RequestName string:com.marlin.recovery uint32:0 >/dev/null 2>&1; then
    fail "an unprivileged user could own com.marlin.recovery"
fi
echo "1 passed, 0 failed"
