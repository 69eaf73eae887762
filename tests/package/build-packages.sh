#!/bin/bash
# Builds the Debian packages from a copy of the source tree, the way the README tells maintainers to, and checks
# them with lintian: no error, and no warning that debian/*.lintian-overrides does not explain.
#   tests/package/build-packages.sh OUT_DIR
# The .deb files end up in OUT_DIR; the build directory build/ is never touched.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:?usage: build-packages.sh OUT_DIR}

rm -rf "$out"
mkdir -p "$out/src"
# What git tracks and what is new but not ignored: the tree as it would be committed, without build directories.
git -C "$top" ls-files -z --cached --others --exclude-standard |
    tar -C "$top" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$out/src" -xf -
for f in debian/control debian/rules CMakeLists.txt; do
    [ -e "$out/src/$f" ] || { echo "FAIL: copying the source tree lost $f" >&2; exit 1; }
done

cd "$out/src"
echo "Building the packages in $out"
if ! dpkg-buildpackage -us -uc -b >"$out/build.log" 2>&1; then
    echo "FAIL: dpkg-buildpackage failed; the end of $out/build.log:" >&2
    grep -v '^\[[0-9]*/[0-9]*\]' "$out/build.log" | tail -n 40 >&2
    exit 1
fi
cd "$out"
ls -1 ./*.deb

echo "lintian:"
if ! lintian --fail-on error,warning --info --display-info ./*.changes; then
    echo "FAIL: lintian reports errors or warnings without an override" >&2
    exit 1
fi
