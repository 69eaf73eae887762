#!/bin/bash
# Runs as root inside the throwaway Debian root that install-test.sh made, with our packages in /root/debs and an
# image made outside in /root/made-outside.rbk: installs the packages, uses each program as a live image would,
# purges them and checks that nothing of theirs is left.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
ours=(marlin-clone marlin-recovery-service marlin-recovery-live)
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }
show() { echo "--- $1:" >&2; tail -n "${2:-30}" "$1" >&2; }

bus() { dbus-send --system --print-reply=literal --reply-timeout=30000 "$@"; }
busDaemon() { bus --dest=org.freedesktop.DBus /org/freedesktop/DBus "org.freedesktop.DBus.$1" ${2:+"string:$2"}; }
waitFor() { # waitFor SECONDS COMMAND...: polls a condition, no fixed wait decides anything
    local i
    for ((i = 0; i < $1 * 10; i++)); do
        "${@:2}" && return 0
        sleep 0.1
    done
    "${@:2}"
}
pidOfName() { busDaemon GetConnectionUnixProcessID "$1" | awk '{print $2}'; }

# No init system runs here: the packages' scripts must not start services of their own.
printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
chmod +x /usr/sbin/policy-rc.d

step "dpkg -i our packages, then apt-get install -f for their dependencies (no recommends)"
dpkg -i /root/debs/*.deb >/root/dpkg-install.log 2>&1 || true
if ! apt-get install -f -y --no-install-recommends >/root/apt.log 2>&1; then
    show /root/dpkg-install.log
    show /root/apt.log
    fail "apt-get install -f could not install our packages' dependencies"
fi
for p in "${ours[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || fail "$p is not installed"
done

step "--version and --help of each program, and its man page"
version=$(dpkg-query -W -f='${Version}' marlin-clone)
for prog in "${ours[@]}"; do
    out=$("$prog" --version) || fail "$prog --version failed"
    [[ $out == "$prog ${version%%-*}"* ]] || fail "$prog --version says '$out', the package is $version"
    "$prog" --help >/root/help.txt || fail "$prog --help failed"
    grep -q "^Usage" /root/help.txt || fail "$prog --help prints no usage"
    dpkg -L "$prog" >/root/files.txt
    grep -Eq "^/usr/share/man/man[18]/$prog\.[18]\.gz$" /root/files.txt || fail "$prog has no man page"
done
dpkg -L "${ours[@]}" | grep -v -x -e '' -e '/\.' | sort -u >/root/ours.list
while read -r path; do
    if [ -d "$path" ]; then
        # Shared directories such as /usr/sbin (or /lib, a link to one) stay; ours go with the packages.
        if [[ $path == *marlin* ]]; then
            echo "$path" >>/root/our-dirs.list
        fi
    else
        [ -e "$path" ] || [ -L "$path" ] || fail "listed by dpkg but not installed: $path"
        echo "$path" >>/root/our-files.list
    fi
done </root/ours.list

step "the system bus with the installed policy starts the service by activation"
mkdir -p /run/dbus
dbus-daemon --system --fork || fail "the system bus does not start"
answer=$(bus --dest=com.marlin.recovery /com/marlin/recovery com.marlin.daemon.recovery.GetLiveType 2>&1 | xargs) ||
    fail "GetLiveType failed: $answer"
[[ $answer =~ ^int32\ -?[0-9]+$ ]] || fail "GetLiveType answered: $answer"
servicePid=$(pidOfName com.marlin.recovery)
[ "$(readlink "/proc/$servicePid/exe")" = /usr/sbin/marlin-recovery-service ] ||
    fail "com.marlin.recovery is not owned by the installed service"
echo "GetLiveType: $answer (service pid $servicePid)"

step "marlin-clone --rbk-info on an image made outside"
marlin-clone --rbk-info /root/made-outside.rbk >/root/rbk-info.txt || { show /root/rbk-info.txt; fail "--rbk-info failed"; }
for line in format-version=1 fs-type=ext4 source-fs-label=marlin-pkg-test copy-mode=used-blocks; do
    grep -qx "$line" /root/rbk-info.txt || { show /root/rbk-info.txt; fail "--rbk-info does not say $line"; }
done

step "marlin-recovery-live -platform offscreen starts and stays up"
# Up means: window made and event loop running, where its controller connects to the service's signals. The bus
# shows that as the match rules the window's connection adds.
dbus-monitor --system "type='method_call',interface='org.freedesktop.DBus',member='AddMatch'" >/root/monitor.log 2>&1 &
waitFor 30 grep -q NameLost /root/monitor.log || fail "dbus-monitor did not start"
marlin-recovery-live -platform offscreen >/root/gui.log 2>&1 &
gui=$!
lastMatch="interface='com.marlin.daemon.recovery',member='Success'"
guiReady() {
    kill -0 "$gui" 2>/dev/null || { show /root/gui.log; fail "marlin-recovery-live ended during start-up"; }
    grep -q "$lastMatch" /root/monitor.log
}
waitFor 120 guiReady || { show /root/gui.log; fail "marlin-recovery-live did not reach its event loop within two minutes"; }
sender=$(grep -B1 "$lastMatch" /root/monitor.log | sed -n 's/.* sender=\([^ ]*\) .*/\1/p' | head -n 1)
[ "$(pidOfName "$sender")" = "$gui" ] || fail "the service's signals were watched by $sender, not by the window"
[ "$(readlink "/proc/$gui/exe")" = /usr/bin/marlin-recovery-live ] || fail "the window is not the installed program"
# Still there after a round trip through the bus: it did not fall over once running.
busDaemon ListNames >/dev/null
kill -0 "$gui" 2>/dev/null || { show /root/gui.log; fail "marlin-recovery-live ended after start-up"; }
grep -q . /home/marlin/marlin-recovery-live.log || fail "marlin-recovery-live wrote no log"
kill -TERM "$gui"
wait "$gui" || true
echo "marlin-recovery-live was up (pid $gui) and was stopped"

step "dpkg --purge removes everything of ours"
kill -TERM "$servicePid"
serviceGone() { ! kill -0 "$servicePid" 2>/dev/null; }
waitFor 30 serviceGone || fail "the service did not stop"
dpkg --purge "${ours[@]}" >/root/purge.log 2>&1 || { show /root/purge.log; fail "dpkg --purge failed"; }
# The dbus package's trigger has the running bus reload its configuration.
grep -q "Processing triggers for dbus" /root/purge.log || fail "purging did not trigger the bus to reload its configuration"
for p in "${ours[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || fail "$p is left as '$status'"
done
left=()
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done < <(cat /root/our-files.list /root/our-dirs.list)
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
answer=$(bus --dest=com.marlin.recovery /com/marlin/recovery com.marlin.daemon.recovery.GetLiveType 2>&1 | xargs || true)
[[ $answer == *ServiceUnknown* ]] || fail "after purge the bus still answers for com.marlin.recovery: $answer"
echo "purged: $(wc -l </root/our-files.list) files and $(wc -l </root/our-dirs.list) directories gone"
