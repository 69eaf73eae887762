#!/bin/bash
# The demo: installs what it needs (Debian 12, as root), builds, fabricates an installed Marlin system on loop
# devices with its initial backup, and runs the real recovery service and the live program's window on it.
#   tools/demo.sh              with a display (DISPLAY set): the window opens for you to use;
#                              without one: the scripted run below, under a virtual X server
#   tools/demo.sh --scripted   the window is walked through a factory reset keeping personal files, a restore
#                              cut off and run again, a file-system repair, the restore of a whole-disk backup
#                              from a second disk, then the same backup restored onto a new, larger disk fitted in
#                              place of the system disk; what happened is printed, with the screenshots' place
# Everything it made is removed at the end, also when it is interrupted; the screenshots stay.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/common.sh
. "$top/tools/common.sh"

scripted=no
case "${1:-}" in
--scripted) scripted=yes ;;
"") [ -n "${DISPLAY:-}" ] || scripted=yes ;;
*)
    echo "usage: $0 [--scripted]" >&2
    exit 2
    ;;
esac

build=$top/build
state=$build/demo-live-env
shots=$build/demo-screenshots
env_tool=$top/tests/live-env/marlin-live-env
xvfb_pid=

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
    if [ -e "$state" ]; then
        echo "Removing the fabricated machine..."
        "$env_tool" down "$state" >/dev/null 2>&1 || echo "could not remove it; run: $env_tool down $state" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

require_root
install_packages
configure "$build" OFF >/dev/null
echo "Building..."
cmake --build "$build" -j "$(nproc)" --target marlin-recovery-service live-bin marlin-recovery-live \
    marlin-recovery-live-demo

echo "Fabricating the installed system on loop devices (with the installer's initial backup) and a second disk..."
# With a second disk (a drive of its own) for the whole-disk backup.
MARLIN_LIVE_ENV_BACKUP_DISK=1 MARLIN_CLONE=$build/src/marlin-clone/marlin-clone "$env_tool" up "$state"

args=()
if [ "$scripted" = yes ]; then
    rm -rf "$shots"
    args=(--scripted --screenshots "$shots")
    if [ -z "${DISPLAY:-}" ]; then
        # A free display number for the virtual X server.
        display=99
        while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
        Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$display" ] && break
            sleep 0.1
        done
        export DISPLAY=:$display
    fi
fi

echo "Starting the recovery service and the window..."
# The programs' own log lines go to a file; the demo's account of what happens goes to the terminal.
log=$build/demo-programs.log
status=0
MARLIN_BIN_DIR=$build/live-bin "$env_tool" exec "$state" -- \
    "$build/tests/demo/marlin-recovery-live-demo" "${args[@]}" 2>"$log" || status=$?
if [ $status -eq 0 ] && [ "$scripted" = yes ]; then
    echo "Taking the system disk away and fitting a new disk half as large again..."
    "$env_tool" detach-system-disk "$state" >>"$log" 2>&1
    "$env_tool" add-new-disk "$state" BIG 9G >>"$log" 2>&1
    MARLIN_BIN_DIR=$build/live-bin "$env_tool" exec "$state" -- \
        "$build/tests/demo/marlin-recovery-live-demo" --scripted --new-disk --screenshots "$shots/new-disk" \
        2>>"$log" || status=$?
fi
if [ $status -eq 0 ]; then
    [ "$scripted" = no ] || echo "The demo ran to its end: every step did what it should."
else
    echo "The demo ended with a failure (status $status). The last lines of the programs' log ($log):"
    tail -n 15 "$log"
fi
exit $status
