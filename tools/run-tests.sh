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

install_packages() {
    local wanted missing=()
    mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$top/tools/packages.txt")
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # Services must not be started by the package scripts: the tests start their own.
    local policy=/usr/sbin/policy-rc.d ours=no
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && ours=yes
    fi
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
    if [ "$ours" = yes ]; then rm -f "$policy"; fi
}

if [ "$(id -u)" -ne 0 ]; then
    echo "run-tests.sh: the tests build loop disks and mount namespaces; run it as root (sudo $0)" >&2
    exit 1
fi
install_packages
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIN_SANITIZE="$sanitize"
cd "$build"
if [ "$sanitize" = ON ]; then
    # Only what the selected tests need: their programs are named like the tests.
    mapfile -t targets < <(ctest -N "$@" | sed -n 's/^ *Test *#[0-9]*: *//p')
    cmake --build . -j "$(nproc)" --target "${targets[@]}"
else
    cmake --build . -j "$(nproc)"
fi
ctest --output-on-failure --no-tests=error "$@"
