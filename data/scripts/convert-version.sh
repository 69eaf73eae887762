#!/bin/bash
# convert-version.sh ROOT: the machine ran the education edition ("E") and a professional image was restored onto
# it: mark the restored system (mounted at ROOT) as the education edition again.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: convert-version.sh ROOT (the restored root file system's mount point)" >&2
    exit 2
fi
root=$(realpath -e -- "$1")
file=$root/etc/os-version
# An absolute link inside the restored system points inside it.
if [ -L "$file" ]; then
    target=$(readlink -- "$file")
    case $target in /*) file=$root$target ;; *) file=$(dirname -- "$file")/$target ;; esac
fi
# Whatever the links say, root never edits a file outside the restored system.
if ! resolved=$(realpath -e -- "$file" 2>/dev/null) || [ ! -f "$resolved" ]; then
    echo "convert-version.sh: no os-version file in $root" >&2
    exit 1
fi
case $resolved in
"$root"/*) ;;
*)
    echo "convert-version.sh: os-version of $root leads outside it: $resolved" >&2
    exit 1
    ;;
esac
sed -i -e 's/^EditionName=.*/EditionName=E/' -- "$resolved"
