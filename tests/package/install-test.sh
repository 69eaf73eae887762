#!/bin/bash
# The packages as a live image gets them: builds them (tests/package/build-packages.sh, lintian included), installs
# them into a throwaway Debian root made with debootstrap from this machine's own apt archive, and runs
# tests/package/inside-root.sh there (bus activation, an image made outside, the window, purge).
#   tests/package/install-test.sh [--no-build] [OUT_DIR]     OUT_DIR defaults to build-package/
# --no-build takes the packages already in OUT_DIR. Needs root. The root is cached in /var/cache/marlin-package-test.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
started=$(date +%s)
build=yes
if [ "${1:-}" = --no-build ]; then
    build=no
    shift
fi
out=${1:-$top/build-package}
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot, loop devices)"
# shellcheck source=tests/package/debian-root.sh
. "$top/tests/package/debian-root.sh"

if [ "$build" = yes ]; then
    "$top/tests/package/build-packages.sh" "$out"
fi
debs=()
for p in marlin-clone marlin-recovery-service marlin-recovery-live; do
    deb=$(ls "$out/${p}_"*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || fail "no package $p in $out"
    debs+=("$deb")
done

prepare_root || fail "the Debian root for the install test cannot be made"

work=$(mktemp -d /var/tmp/marlin-package-test.XXXXXX)
loop=""
cleanup() {
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
    # Every mount of the test lived in its own mount namespace; never delete through one that is still here.
    if findmnt -rn -o TARGET | grep -q "^$work"; then
        echo "left in place, something is still mounted below it: $work" >&2
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT

root=$work/root
cp -a "$ROOT_CACHE" "$root"
mkdir -p "$root/root/debs"
cp "${debs[@]}" "$root/root/debs/"
cp "$top/tests/package/inside-root.sh" "$root/root/"
find "$ROOT_ARCHIVES" -name '*.deb' -exec cp -t "$root/var/cache/apt/archives/" {} +

# An image of a small ext4 file system, made on this machine by the packaged marlin-clone.
dpkg-deb -x "${debs[0]}" "$work/clone"
mkdir -p "$work/content"
echo "made outside the root" >"$work/content/hello.txt"
truncate -s 64M "$work/fs.img"
mkfs.ext4 -q -L marlin-pkg-test -d "$work/content" "$work/fs.img"
loop=$(losetup -f --show "$work/fs.img")
"$work/clone/usr/sbin/marlin-clone" --tui "$loop" "$root/root/made-outside.rbk" >"$work/clone.log" 2>&1 ||
    { tail "$work/clone.log" >&2; fail "marlin-clone could not make the image outside the root"; }
losetup -d "$loop"
loop=""

# A command line of no live system: nothing in the root may go looking for this machine's own disks.
echo "quiet" >"$work/cmdline"
echo "Running the install test in $root"
status=0
unshare --mount --pid --fork --propagation private bash -c '
    set -e
    root=$1
    mount -t proc proc "$root/proc"
    mount --bind "$2" "$root/proc/cmdline"
    mount -t sysfs -o ro sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/run"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" /bin/bash /root/inside-root.sh' _ "$root" "$work/cmdline" || status=$?

# What apt downloaded serves the next run.
find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n -t "$ROOT_ARCHIVES/" {} +
[ "$status" -eq 0 ] || fail "the install test failed inside the root (exit $status)"
echo "install test passed in $(($(date +%s) - started)) s"
