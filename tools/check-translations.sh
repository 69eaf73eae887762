#!/bin/bash
# Fails when a German or Chinese message of the live program is missing from its catalogue or not finished: runs
# lupdate over the sources into copies of the committed catalogues and looks for what it had to add or mark.
# Usage: check-translations.sh LUPDATE SOURCE_DIR... -- TS_FILE...
set -euo pipefail
lupdate=$1
shift
sources=()
while [ "$1" != "--" ]; do
    sources+=("$1")
    shift
done
shift
work=$(mktemp -d /tmp/marlin-ts-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
copies=()
for ts in "$@"; do
    cp "$ts" "$work/"
    copies+=("$work/$(basename "$ts")")
done
"$lupdate" -silent -locations none -no-obsolete "${sources[@]}" -ts "${copies[@]}"
status=0
for ts in "${copies[@]}"; do
    # The source line comes two lines before each unfinished translation.
    missing=$(grep -B2 'type="unfinished"' "$ts" | grep -o '<source>.*</source>' || true)
    if [ -n "$missing" ]; then
        echo "$(basename "$ts"): unfinished or missing:" >&2
        echo "$missing" | sed 's/^/    /' >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "every message of ${*##*/} is translated"
exit $status
