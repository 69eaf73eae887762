#!/bin/bash
# convert-version.sh edits the restored system's os-version, following its link only inside the restored system:
# a link that leads out of it leaves the file it reaches untouched and fails.
set -euo pipefail
script=$1
work=$(mktemp -d /tmp/marlin-convert-version.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # name, condition...
    local name=$1
    shift
    if "$@"; then echo "PASS: $name"; else echo "FAIL: $name" >&2; failed=1; fi
}
fresh() {
    rm -rf "$work/root" "$work/outside"
    mkdir -p "$work/root/etc" "$work/root/usr/lib" "$work/outside"
    printf '[Version]\nEditionName=Professional\n' >"$work/outside/os-version"
    printf '[Version]\nEditionName=Professional\n' >"$work/root/usr/lib/os-version"
}
edition() { sed -n 's/^EditionName=//p' "$1"; }

fresh
printf '[Version]\nEditionName=Professional\n' >"$work/root/etc/os-version"
check "plain file is converted" "$script" "$work/root"
check "plain file says E" test "$(edition "$work/root/etc/os-version")" = E

fresh
ln -s /usr/lib/os-version "$work/root/etc/os-version"
check "absolute link inside is followed" "$script" "$work/root"
check "absolute link's target says E" test "$(edition "$work/root/usr/lib/os-version")" = E
check "link stays a link" test -L "$work/root/etc/os-version"

for target in "../../outside/os-version" "$work/outside/os-version"; do
    fresh
    ln -s "$target" "$work/root/etc/os-version"
    # An absolute target is read inside the root, where it does not exist: refused either way.
    check "link $target is refused" bash -c '! "$0" "$1" 2>/dev/null' "$script" "$work/root"
    check "file outside untouched ($target)" test "$(edition "$work/outside/os-version")" = Professional
done

fresh
ln -s "$work/outside" "$work/root/usr/lib/os"
ln -s ../usr/lib/os/os-version "$work/root/etc/os-version"
check "link through a linked directory is refused" bash -c '! "$0" "$1" 2>/dev/null' "$script" "$work/root"
check "file outside untouched (linked directory)" test "$(edition "$work/outside/os-version")" = Professional
exit $failed
