# The session that scripts/test, scripts/demo and scripts/screenshots run in: private mount and
# network namespaces, a test CA made for the session whose bundle (the system CAs plus the test
# CA) is bind-mounted over the system bundle that Wine's certificate checks read, Xvfb displays
# and Wine prefixes. Sourced; needs $repo.
#
#   session_enter MARKER SCRIPT [ARGS...]  re-execs SCRIPT in new namespaces unless MARKER is
#                                         set; returns 1 when namespaces cannot be made
#   session_open DIR private|shared       loopback up and, in private namespaces, the test
#                                         CA's bundle mounted (session_bundle_mounted=yes);
#                                         the test CA in DIR/ca; 1 when it cannot be made
#   session_add_display                   starts an Xvfb; appends to session_displays
#   session_boot_prefix DIR DISPLAY LOG   boots a Wine prefix in the background
#   session_wait_prefixes                 waits for every boot; 1 when one failed
#   session_close                         ends what the session started and removes DIR

session_python=/usr/bin/python3 # Debian's pytest lives here, not in a python earlier on PATH
session_support="$repo/tests/e2e/support"
session_system_bundle=/etc/ssl/certs/ca-certificates.crt

session_dir="" session_bundle_mounted=""
session_displays=() session_xvfb_pids=() session_prefixes=() session_boot_pids=()

session_enter() {
    local marker=$1
    shift
    [[ -n ${!marker:-} ]] && return 0
    [[ $EUID -eq 0 ]] && unshare --mount --net true 2>/dev/null || return 1
    export "$marker=private"
    exec unshare --mount --net -- bash "$@"
}

session_open() {
    session_dir=$1
    local namespace=$2
    mkdir -p "$session_dir"
    if [[ $namespace == private ]]; then
        ip link set lo up || printf 'warning: could not bring up loopback\n' >&2
    fi
    "$session_python" "$session_support/prepare.py" ca "$session_dir/ca" || return 1
    [[ $namespace == private ]] || return 0
    "$session_python" "$session_support/prepare.py" bundle "$session_dir/ca" \
        "$session_dir/ca-bundle.crt" &&
        mount --bind "$session_dir/ca-bundle.crt" "$session_system_bundle" &&
        session_bundle_mounted=yes
    return 0
}

session_add_display() {
    local display pid
    read -r display pid < <("$session_python" "$session_support/prepare.py" xvfb) || return 1
    session_displays+=("$display")
    session_xvfb_pids+=("$pid")
}

session_boot_prefix() {
    local prefix=$1 display=$2 log=$3
    session_prefixes+=("$prefix")
    (
        started=$(date +%s%N)
        "$session_python" "$session_support/prepare.py" prefix "$prefix" "$display" &&
            printf 'Wine prefix %s booted in %d s\n' "${prefix##*/}" \
                $((($(date +%s%N) - started) / 1000000000))
    ) >"$log" 2>&1 &
    session_boot_pids+=($!)
}

session_wait_prefixes() {
    local pid status=0
    for pid in "${session_boot_pids[@]}"; do
        wait "$pid" || status=1
    done
    session_boot_pids=()
    return "$status"
}

# The Wine settings every program of the session runs with.
session_wine_env() {
    eval "$("$session_python" "$session_support/prepare.py" wine-env)"
    export WINEDEBUG WINEDLLOVERRIDES
}

session_close() {
    local pid prefix
    for pid in "${session_boot_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    for prefix in "${session_prefixes[@]}"; do
        [[ -d $prefix ]] && "$session_python" "$session_support/prepare.py" stop-prefix "$prefix"
    done
    for pid in "${session_xvfb_pids[@]}"; do
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    done
    [[ -n $session_bundle_mounted ]] && umount "$session_system_bundle"
    [[ -z $session_dir ]] || rm -rf "$session_dir"
    session_boot_pids=() session_prefixes=() session_xvfb_pids=() session_bundle_mounted=""
}
