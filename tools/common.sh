# Shared by run-tests.sh and demo.sh (sourced): root check, Debian packages, CMake configuration.
# Expects $top to be the repository's top directory.

require_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "$(basename "$0"): it builds loop disks and mount namespaces; run it as root (sudo $0)" >&2
        exit 1
    fi
}

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

# configure BUILD_DIR SANITIZE(ON|OFF)
configure() {
    cmake -S "$top" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLIN_SANITIZE="$2"
}
