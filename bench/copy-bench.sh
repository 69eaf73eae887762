#!/bin/bash
# Bringing files back through the service against cp -a: about 500 MB (the headers of /usr/include, many small
# files, and three 110 MB files) on the fabricated machine's data partition, copied to its second disk once by
# CopyBrowseFiles and once by `cp -a` followed by sync (the service syncs the destination before it reports),
# caches dropped before each. Prints key=value figures; judges nothing.
#
#   flock /tmp/marlin-env.lock bench/copy-bench.sh [BUILD_DIR]
#
# Needs root and a built tree (the live environment, the service and tst_browse_e2e); brings up a live environment
# of its own and takes it down again, so nothing else may use one meanwhile.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
tool=$top/tests/live-env/marlin-live-env
state=$build/copy-bench-state
[ "$(id -u)" -eq 0 ] || { echo "run as root" >&2; exit 1; }

cleanup() {
    "$tool" remove-backup-disk "$state" >/dev/null 2>&1 || true
    "$tool" down "$state" >/dev/null 2>&1 || true
    rm -rf "$state"
}
trap cleanup EXIT INT TERM

MARLIN_CLONE=$build/src/marlin-clone/marlin-clone "$tool" up "$state" >/dev/null
"$tool" add-backup-disk "$state" >/dev/null
MARLIN_BIN_DIR="$build/live-bin" "$tool" exec "$state" -- env QT_QPA_PLATFORM=offscreen MARLIN_COPY_BENCH=1 \
    "$build/tests/integration/marlin-recovery-live-browse-test" copyBenchmark -silent |
    grep -E '^[a-z_]+=' || { echo "the benchmark failed" >&2; exit 1; }
