# nginx for scripts/demo, which runs its own instance with its own configuration; the
# system service stays stopped and disabled. Sourced by scripts/setup; needs say, die
# and apt_update.

readonly nginx_package=nginx
readonly policy_rc=/usr/sbin/policy-rc.d

nginx_installed() {
    [[ $(dpkg-query -W -f='${db:Status-Status}' "$nginx_package" 2>/dev/null) == installed ]]
}

# The Debian package starts and enables its service on install; a policy-rc.d that
# refuses every start (exit 101) keeps it from starting, unless the machine has one.
install_nginx() {
    if nginx_installed; then
        say "nginx: installed"
        return
    fi
    apt_update
    say "nginx: installing $nginx_package (its system service stays off)"
    local own_policy=""
    if [[ ! -e $policy_rc ]]; then
        printf '#!/bin/sh\nexit 101\n' >"$policy_rc"
        chmod 755 "$policy_rc"
        own_policy=yes
    fi
    local status=0
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends -q "$nginx_package" ||
        status=$?
    [[ -n $own_policy ]] && rm -f "$policy_rc"
    ((status == 0)) || die "apt-get install $nginx_package failed"
    update-rc.d nginx disable >/dev/null 2>&1 || true
    if command -v deb-systemd-helper >/dev/null; then
        deb-systemd-helper disable nginx.service >/dev/null 2>&1 || true
    fi
}
