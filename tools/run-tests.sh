#!/bin/bash
# Installs what the project needs (Debian 12, as root), configures, builds and runs the test suite.
#   tools/run-tests.sh                     everything, in build/
#   tools/run-tests.sh --sanitize -L unit  the unit tests under AddressSanitizer and UBSan, in build-asan/
# Further arguments go to ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

sanitize=OFF
build="$top/build"
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=ON
    build="$top/build-asan"
    shift
fi

# shellcheck source=tools/common.sh
. "$top/tools/common.sh"
require_root
install_packages
configure "$build" "$sanitize"
cd "$build"
if [ "$sanitize" = ON ]; then
    # Only what the selected tests need: their programs are named like the tests.
    mapfile -t targets < <(ctest -N "$@" | sed -n 's/^ *Test *#[0-9]*: *//p')
    cmake --build . -j "$(nproc)" --target "${targets[@]}"
else
    cmake --build . -j "$(nproc)"
fi
ctest --output-on-failure --no-tests=error "$@"
