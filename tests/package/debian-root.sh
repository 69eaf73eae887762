# A throwaway Debian root for the package install test, made with debootstrap from the archive this machine's own
# apt configuration uses, and cached between runs. Source it; needs root.
#
#   apt_mirror CODENAME     the first archive in the apt sources that serves CODENAME's main component
#   prepare_root            sets ROOT_CACHE to a cached minimal root (made on the first run; its apt lists are the
#                           archive's at that time) and ROOT_ARCHIVES to the directory where the packages that runs
#                           download are kept for the next run

# Packages the test itself uses inside the root, beyond what ours depend on: none of them may be one that our
# packages need but fail to declare, or the test would hide the missing dependency.
ROOT_INCLUDE=(dbus-bin)
ROOT_CACHE_TOP=${MARLIN_PACKAGE_TEST_CACHE:-/var/cache/marlin-package-test}

host_codename() {
    . /etc/os-release && echo "${VERSION_CODENAME:?no VERSION_CODENAME in /etc/os-release}"
}

# Lines "URI SUITE COMPONENTS..." for every "deb" source, from one-line and deb822 files alike.
apt_source_lines() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -r "$f" ] || continue
        sed -e 's/#.*//' "$f" | awk '$1 == "deb" {
            i = 2
            if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
            line = $i; for (j = i + 1; j <= NF; j++) line = line " " $j; print line }'
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -r "$f" ] || continue
        # deb822: one paragraph per source; fields may fold onto indented lines.
        awk 'function flush() {
                 if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no")
                     { n = split(uris, u, " "); m = split(suites, s, " ")
                       for (a = 1; a <= n; a++) for (b = 1; b <= m; b++) print u[a], s[b], comps }
                 types = uris = suites = comps = ""; enabled = "yes"; field = "" }
             BEGIN { enabled = "yes" }
             /^[ \t]*#/ { next }
             /^[ \t]*$/ { flush(); next }
             /^[ \t]/ { value = $0; sub(/^[ \t]+/, "", value)
                        if (field == "uris") uris = uris " " value
                        else if (field == "suites") suites = suites " " value
                        else if (field == "components") comps = comps " " value
                        next }
             { field = tolower($0); sub(/:.*/, "", field); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
               if (field == "types") types = value
               else if (field == "uris") uris = value
               else if (field == "suites") suites = value
               else if (field == "components") comps = value
               else if (field == "enabled") enabled = value }
             END { flush() }' "$f"
    done
}

apt_mirror() {
    apt_source_lines | awk -v suite="$1" '$2 == suite { for (i = 3; i <= NF; i++) if ($i == "main") { print $1; exit } }'
}

prepare_root() {
    local codename arch mirror key made log
    codename=$(host_codename) || return 1
    arch=$(dpkg --print-architecture)
    mirror=$(apt_mirror "$codename")
    if [ -z "$mirror" ]; then
        echo "FAIL: no archive for '$codename main' in this machine's apt sources: cannot make the test root" >&2
        return 1
    fi
    # A new list of packages, another release or architecture makes another root.
    key=$(printf '%s\n' "$codename" "$arch" "${ROOT_INCLUDE[@]}" | sha256sum | cut -c1-16)
    ROOT_CACHE=$ROOT_CACHE_TOP/$codename-$arch-$key/root
    ROOT_ARCHIVES=$ROOT_CACHE_TOP/$codename-$arch-$key/archives
    mkdir -p "$ROOT_ARCHIVES"
    # Two runs at once wait for one root rather than both making it.
    exec {rootLock}>"$ROOT_CACHE_TOP/$codename-$arch-$key/lock"
    flock "$rootLock"
    [ -e "$ROOT_CACHE/.complete" ] && return 0

    made=$ROOT_CACHE.new
    log=$ROOT_CACHE_TOP/$codename-$arch-$key/debootstrap.log
    rm -rf "$made"
    echo "Making the test root ($codename, $arch) from $mirror; log in $log"
    local include
    include=$(IFS=,; echo "${ROOT_INCLUDE[*]}")
    # A proxy this machine's apt goes through serves debootstrap and the root's own apt as well.
    local aptProxy=""
    eval "$(apt-config shell aptProxy Acquire::http::Proxy)"
    if ! http_proxy=${aptProxy:-${http_proxy:-}} \
        debootstrap --variant=minbase --include="$include" "$codename" "$made" "$mirror" >"$log" 2>&1; then
        echo "FAIL: debootstrap could not make the test root from $mirror:" >&2
        tail -n 20 "$log" >&2
        rm -rf "$made"
        return 1
    fi
    if [ -n "$aptProxy" ]; then
        echo "Acquire::http::Proxy \"$aptProxy\";" >"$made/etc/apt/apt.conf.d/01proxy"
    fi
    # debootstrap's own downloads only make every copy of the root bigger.
    rm -f "$made"/var/cache/apt/archives/*.deb
    rm -rf "$ROOT_CACHE"
    touch "$made/.complete"
    mv "$made" "$ROOT_CACHE"
}
