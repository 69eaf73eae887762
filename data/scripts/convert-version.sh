#!/bin/bash
# convert-version.sh ROOT: the machine ran the education edition ("E") and a professional image was restored onto
# it: mark the restored system (mounted at ROOT) as the education edition again.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: convert-version.sh ROOT (the restored root file system's mount point)" >&2
    exit 2
fi
root=$1
file=$root/etc/os-version
# An absolute link inside the restored system points inside it.
if [ -L "$file" ]; then
    target=$(readlink "$file")
    case $target in /*) file=$root$target ;; *) file=$(dirname "$file")/$target ;; esac
fi
if [ ! -f "$file" ]; then
    echo "convert-version.sh: no os-version file in $root" >&2
    exit 1
fi
sed -i 's/^EditionName=.*/EditionName=E/' "$file"
