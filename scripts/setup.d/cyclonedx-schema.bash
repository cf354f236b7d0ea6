# The CycloneDX JSON schemas (the SBOM's, and the SPDX licence list and JSF schemas it refers
# to) as the CycloneDX library's npm package ships them: the release tests validate the SBOM
# against them. Sourced by scripts/setup; needs say, die and deps_root.
# shellcheck disable=SC2154 # deps_root is set by windows-libraries.bash

readonly cyclonedx_package=@cyclonedx/cyclonedx-library@10.3.0
readonly cyclonedx_schema_dir=$deps_root/cyclonedx-schema

install_cyclonedx_schema() {
    local stamp=$cyclonedx_schema_dir/package work
    if [[ "$(cat "$stamp" 2>/dev/null)" == "$cyclonedx_package" ]]; then
        say "CycloneDX schemas: up to date ($cyclonedx_package)"
        return 0
    fi
    # The machine's own Node.js brings npm; Debian's npm only where there is none.
    command -v npm >/dev/null || apt-get install -y -qq npm >/dev/null || die "could not install npm"
    work=$(mktemp -d /var/tmp/vantrel-cyclonedx.XXXXXX)
    (cd "$work" && npm pack --silent "$cyclonedx_package" >/dev/null) ||
        { rm -rf "$work"; die "npm could not fetch $cyclonedx_package"; }
    tar -xzf "$work"/*.tgz -C "$work" package/res/schema package/LICENSE
    rm -rf "$cyclonedx_schema_dir"
    mkdir -p "$cyclonedx_schema_dir"
    cp "$work"/package/res/schema/*.schema.json "$work/package/LICENSE" "$cyclonedx_schema_dir/"
    printf '%s\n' "$cyclonedx_package" >"$stamp"
    rm -rf "$work"
    say "CycloneDX schemas: $cyclonedx_schema_dir ($cyclonedx_package)"
}
