# Debian packages and the deb-src entry the dependency builds fetch sources from.
# Sourced by scripts/setup; needs say, die and the apt_update helper below.

debian_packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev libz-mingw-w64-dev
    wine wine64 xvfb xauth imagemagick minisign
    python3 python3-pytest python3-pytest-xdist python3-pefile python3-jsonschema
    libsodium-dev libarchive-dev zlib1g-dev libpng-dev libdeflate-dev libssl-dev libcurl4-openssl-dev
    libexpat1-dev
    nlohmann-json3-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    autoconf automake libtool dpkg-dev
    clang libclang-rt-14-dev ninja-build cmake openssl pkg-config
    ca-certificates util-linux file g++ clang-format
    # A real S3-compatible store for the release tool's upload tests (curl makes its buckets).
    swift swift-proxy swift-object swift-container swift-account python3-swift curl
)

readonly apt_sources=/etc/apt/sources.list.d/debian.sources
readonly deb_src_sources=/etc/apt/sources.list.d/vantrel-deb-src.sources

apt_updated=0
deb_src_changed=0

# At most once per run: a second update cannot help and costs time.
apt_update() {
    ((apt_updated)) && return 0
    say "apt-get update"
    apt-get update -qq || die "apt-get update failed"
    apt_updated=1
}

missing_debian_packages() {
    local -A installed=()
    local package status
    # dpkg-query fails on names it has never seen; those simply count as missing.
    while read -r package status; do
        [[ $status == installed ]] && installed[${package%%:*}]=1
    done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${debian_packages[@]}" 2>/dev/null || true)
    for package in "${debian_packages[@]}"; do
        [[ -n ${installed[$package]:-} ]] || printf '%s\n' "$package"
    done
}

# The deb-src twin of every enabled "deb" stanza in debian.sources; stanzas that
# already carry deb-src are left out so apt sees no duplicate targets.
deb_src_stanzas() {
    awk '
        BEGIN { RS = ""; FS = "\n" }
        {
            types = ""; body = ""; enabled = 1; keep = 0
            for (i = 1; i <= NF; i++) {
                line = $i
                if (line ~ /^#/) continue
                if (line ~ /^[ \t]/) { if (keep) body = body "\n" line; continue }
                key = tolower(substr(line, 1, index(line, ":") - 1))
                value = substr(line, index(line, ":") + 1)
                keep = 0
                if (key == "types") types = " " value " "
                else if (key == "enabled" && value ~ /no/) enabled = 0
                else if (key == "uris" || key == "suites" || key == "components" || key == "signed-by") {
                    body = body "\n" line; keep = 1
                }
            }
            if (enabled && types ~ /[ \t]deb[ \t]/ && types !~ /[ \t]deb-src[ \t]/)
                printf "%sTypes: deb-src%s\n", (count++ ? "\n" : ""), body
        }' "$apt_sources"
}

enable_deb_src() {
    [[ -r $apt_sources ]] || die "$apt_sources is missing; cannot derive the deb-src entry"
    local wanted
    wanted=$(deb_src_stanzas)
    if [[ -z $wanted ]]; then
        say "deb-src: already enabled in $apt_sources"
    elif [[ -f $deb_src_sources && "$(<"$deb_src_sources")" == "$wanted" ]]; then
        say "deb-src: $deb_src_sources is up to date"
    else
        printf '%s\n' "$wanted" >"$deb_src_sources.new"
        mv "$deb_src_sources.new" "$deb_src_sources"
        deb_src_changed=1
        say "deb-src: wrote $deb_src_sources"
    fi
}

install_debian_packages() {
    local missing
    enable_deb_src
    mapfile -t missing < <(missing_debian_packages)
    if ((deb_src_changed || ${#missing[@]})); then
        apt_update
    fi
    if ((${#missing[@]} == 0)); then
        say "packages: all ${#debian_packages[@]} installed"
        return
    fi
    say "packages: installing ${#missing[@]} (${missing[*]})"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends -q "${missing[@]}" ||
        die "apt-get install failed"
}
