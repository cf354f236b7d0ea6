# Static x86_64-w64-mingw32 builds of the third-party libraries, from Debian's
# sources, cached by version and recipe, built side by side. Sourced by scripts/setup;
# needs say, die, apt_update and repo_root. VANTREL_DEPS_ROOT=DIR builds into DIR
# instead (the Windows preset then needs -DVANTREL_DEPS_PREFIX=DIR/x86_64-w64-mingw32).
# shellcheck disable=SC2154 # repo_root is set by scripts/setup

readonly mingw_triple=x86_64-w64-mingw32
readonly mingw_sysroot=/usr/$mingw_triple
readonly deps_root=${VANTREL_DEPS_ROOT:-/var/cache/vantrel-deps}
readonly prefix=$deps_root/$mingw_triple
readonly stamp_dir=$prefix/share/vantrel-setup
# What the release's third-party notices and SBOM are made of, one folder per library or
# package: the Debian .dsc it came from, its debian/copyright and the upstream licence files.
readonly sources_dir=$stamp_dir/sources
readonly log_dir=$deps_root/logs
readonly toolchain_file=$repo_root/cmake/mingw-w64-x86_64.cmake
readonly build_jobs=2
# The toolchain file's section flags, for the builds that do not go through CMake.
section_flags=$(sed -n 's/^set(VANTREL_SECTION_FLAGS "\(.*\)")$/\1/p' "$toolchain_file")
readonly section_flags
# libpng is built for the simplified read API alone: the banner is all it decodes.
readonly libpng_options=$repo_root/scripts/setup.d/libpng-read.dfa
readonly libarchive_answers=$repo_root/scripts/setup.d/libarchive-mingw-answers.cmake

windows_libraries=(libsodium libarchive libpng libdeflate libcrypto googletest)

# The installed Debian package whose source version keys each library's cache.
declare -A version_package=(
    [libsodium]=libsodium-dev [libarchive]=libarchive-dev [libpng]=libpng-dev
    [libdeflate]=libdeflate-dev [libcrypto]=libssl-dev [googletest]=googletest)
# A file that a complete install leaves behind.
declare -A installed_file=(
    [libsodium]=lib/libsodium.a [libarchive]=lib/libarchive_static.a [libpng]=lib/libpng16.a
    [libdeflate]=lib/libdeflate.a [libcrypto]=lib/libcrypto_sha256.a
    [googletest]=lib/cmake/GTest/GTestConfig.cmake)

zlib_flags=(-DZLIB_LIBRARY="$mingw_sysroot/lib/libz.a" -DZLIB_INCLUDE_DIR="$mingw_sysroot/include")

package_version() {
    dpkg-query -W -f='${Version}' "$1"
}

debian_source_of() {
    dpkg-query -W -f='${source:Package} ${source:Version}\n' "$1"
}

# Everything that changes the built files: a change in any line rebuilds.
cache_key() {
    local lib=$1
    printf 'source %s\n' "$(debian_source_of "${version_package[$lib]}")"
    printf 'compiler %s\n' "$(package_version gcc-mingw-w64-x86-64-posix) $(package_version g++-mingw-w64-x86-64-posix)"
    printf 'zlib %s\n' "$(package_version libz-mingw-w64-dev)"
    printf 'recipe %s\n' "$({
        declare -f "build_$lib" fetch_debian_source apt_download_folder cross_cmake keep_source_record
        cat "$toolchain_file" "$libpng_options" "$libarchive_answers"
    } | sha256sum | cut -d' ' -f1)"
}

# Lines other than "built ..." are the key the library was built with.
stamp_matches() {
    local lib=$1 key=$2 stamp=$stamp_dir/$1.stamp
    [[ -f $stamp && -e $prefix/${installed_file[$lib]} ]] || return 1
    [[ $lib == googletest || -f $sources_dir/$lib/copyright ]] || return 1
    [[ "$(grep -v '^built ' "$stamp")" == "$key" ]]
}

ensure_source_index() {
    local package=$1
    if [[ -z "$(apt-cache showsrc --only-source "$package" 2>/dev/null)" ]]; then
        apt_update
        [[ -n "$(apt-cache showsrc --only-source "$package" 2>/dev/null)" ]] ||
            die "apt knows no source package $package; is deb-src enabled?"
    fi
}

# A fresh $1/download for apt-get source, which downloads as _apt when that user may write it.
apt_download_folder() {
    rm -rf "$1/download"
    mkdir -p "$1/download"
    chmod 755 "$1"
    chown _apt "$1/download" 2>/dev/null || true
}

# Downloads and unpacks (with Debian's patches) the wanted version into $3/src,
# or else the newest other version the mirror still has: a security revision's
# files are sometimes missing there. Writes the version used to $3/version.
fetch_debian_source() {
    local package=$1 wanted=$2 work=$3 version
    local -a versions
    mapfile -t versions < <({
        printf '%s\n' "$wanted"
        apt-cache showsrc --only-source "$package" | awk '/^Version:/ { print $2 }' | sort -rV
    } | awk '!seen[$0]++')
    for version in "${versions[@]}"; do
        apt_download_folder "$work"
        if (cd "$work/download" && apt-get source -q --only-source "$package=$version"); then
            mv "$(find "$work/download" -mindepth 1 -maxdepth 1 -type d)" "$work/src"
            printf '%s\n' "$version" >"$work/version"
            [[ $version == "$wanted" ]] || echo "note: $package $wanted unavailable, built $version"
            return 0
        fi
        echo "note: could not fetch $package $version"
    done
    echo "error: no version of source package $package could be fetched"
    return 1
}

# Keeps from the fetched source what the release's notices need (folder $sources_dir/NAME).
keep_source_record() {
    local record=$sources_dir/$1 work=$2 file name
    rm -rf "$record.new"
    mkdir -p "$record.new/licenses"
    cp "$work"/download/*.dsc "$record.new/"
    cp "$work/src/debian/copyright" "$record.new/copyright"
    for file in "$work"/src/*; do
        name=${file##*/}
        [[ -f $file && ${name,,} =~ ^(copying|licen[cs]e|notice)([.-].*)?$ ]] &&
            cp "$file" "$record.new/licenses/"
    done
    rm -rf "$record"
    mv "$record.new" "$record"
}

cross_cmake() {
    local source_dir=$1 build_dir=$2
    shift 2
    cmake -S "$source_dir" -B "$build_dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
}

build_libsodium() {
    local work=$1
    fetch_debian_source libsodium "$2" "$work"
    # shellcheck disable=SC2164 # errexit holds in the build job
    cd "$work/src"
    # The release tarball has no configure script; autogen.sh would download.
    autoreconf -ivf
    ./configure --host="$mingw_triple" --prefix="$prefix" --disable-shared --enable-static \
        --disable-dependency-tracking CC="$mingw_triple-gcc-posix" CFLAGS="-O2 $section_flags"
    make -j"$build_jobs"
    make install
}

# Only the objects of libarchive that its tar reader needs, as with libcrypto below: the
# static link takes in these and no more (a link map of the program lists them), and they
# build in seconds where the whole library takes minutes. A new libarchive call that the link
# reports undefined adds its object here.
build_libarchive() {
    local work=$1
    fetch_debian_source libarchive "$2" "$work"
    local off option name objects=()
    off=()
    for option in OPENSSL MBEDTLS NETTLE CNG LIBB2 LZ4 LZO LZMA ZSTD BZip2 LIBXML2 EXPAT PCREPOSIX \
        LIBGCC ICONV ACL XATTR TAR CPIO CAT TEST WERROR; do
        off+=("-DENABLE_$option=OFF")
    done
    for name in archive_acl archive_check_magic archive_entry archive_entry_sparse \
        archive_entry_xattr archive_read archive_read_support_format_tar archive_string \
        archive_string_sprintf archive_util archive_virtual archive_windows; do
        objects+=("libarchive/CMakeFiles/archive_static.dir/$name.c.obj")
    done
    # Without a regex library set, configure insists on one once LIBGCC is off.
    cross_cmake "$work/src" "$work/build" -C "$libarchive_answers" -DENABLE_ZLIB=ON \
        "${zlib_flags[@]}" "${off[@]}" -DPOSIX_REGEX_LIB=NONE
    cmake --build "$work/build" --target "${objects[@]}" -j "$build_jobs"
    rm -f "$prefix/lib/libarchive_static.a"
    (cd "$work/build" && "$mingw_triple-ar" rcs "$prefix/lib/libarchive_static.a" "${objects[@]}")
    install -D -m 644 -t "$prefix/include" "$work/src/libarchive/archive.h" \
        "$work/src/libarchive/archive_entry.h"
    mkdir -p "$prefix/lib/pkgconfig"
    sed -e 's/-larchive\b/-larchive_static/' -e 's/^Cflags:.*/& -DLIBARCHIVE_STATIC/' \
        "$work/build/build/pkgconfig/libarchive.pc" >"$prefix/lib/pkgconfig/libarchive.pc"
}

build_libpng() {
    local work=$1
    fetch_debian_source libpng1.6 "$2" "$work"
    cross_cmake "$work/src" "$work/build" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF \
        -DPNG_TESTS=OFF -DDFA_XTRA="$libpng_options" "${zlib_flags[@]}"
    cmake --build "$work/build" -j "$build_jobs"
    cmake --install "$work/build"
}

build_libdeflate() {
    local work=$1
    fetch_debian_source libdeflate "$2" "$work"
    # shellcheck disable=SC2164 # errexit holds in the build job
    cd "$work/src"
    # The makefile names a MinGW static library libdeflatestatic.lib.
    make -j"$build_jobs" CC="$mingw_triple-gcc-posix" AR="$mingw_triple-ar" \
        CFLAGS="-O2 $section_flags" libdeflatestatic.lib
    install -D -m 644 libdeflatestatic.lib "$prefix/lib/libdeflate.a"
    install -D -m 644 -t "$prefix/include" libdeflate.h
}

# Only the objects of OpenSSL's libcrypto that its SHA-256 functions need: a static
# link against the whole library would take in these and no more, and they build in
# seconds where all of it takes many minutes. The assembly one holds the SHA-extension
# code, chosen at run time.
build_libcrypto() {
    local work=$1
    local -a objects=(crypto/sha/libcrypto-lib-sha256.obj crypto/sha/libcrypto-lib-sha256-x86_64.obj
        crypto/libcrypto-lib-x86_64cpuid.obj crypto/libcrypto-lib-cpuid.obj
        crypto/libcrypto-lib-ctype.obj)
    fetch_debian_source openssl "$2" "$work"
    # shellcheck disable=SC2164 # errexit holds in the build job
    cd "$work/src"
    ./Configure mingw64 --cross-compile-prefix="$mingw_triple-" CC=gcc-posix no-shared no-module \
        no-dso no-engine no-threads no-tests no-ui-console no-sock no-async no-autoload-config
    make -j"$build_jobs" build_generated
    make -j"$build_jobs" "${objects[@]}"
    rm -f "$prefix/lib/libcrypto_sha256.a"
    "$mingw_triple-ar" rcs "$prefix/lib/libcrypto_sha256.a" "${objects[@]}"
    rm -rf "$prefix/include/openssl"
    cp -r include/openssl "$prefix/include/openssl"
}

build_googletest() {
    local work=$1
    printf '%s\n' "$2" >"$work/version"
    cross_cmake /usr/src/googletest "$work/build" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    cmake --build "$work/build" -j "$build_jobs"
    cmake --install "$work/build"
}

scratch_dir=
declare -A build_pids=() build_keys=() build_started=()

# Stops the running builds with all their compilers, then drops the scratch folder.
windows_libraries_cleanup() {
    local pid
    for pid in "${build_pids[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    build_pids=()
    [[ -z $scratch_dir ]] || rm -rf "$scratch_dir"
}

# Whether the library needs a build: its key is kept for the stamp, and its source index
# is made sure of before any build starts (an apt-get update must not run under a fetch).
windows_library_stale() {
    local lib=$1 key
    key=$(cache_key "$lib")
    if stamp_matches "$lib" "$key"; then
        say "$lib: up to date ($(grep '^built ' "$stamp_dir/$lib.stamp" | cut -d' ' -f2-))"
        return 1
    fi
    build_keys[$lib]=$key
    [[ $lib == googletest ]] || ensure_source_index "$(debian_source_of "${version_package[$lib]}" | cut -d' ' -f1)"
}

start_windows_library() {
    local lib=$1 source_package source_version
    read -r source_package source_version < <(debian_source_of "${version_package[$lib]}")
    # A build that stops half-way must not look finished.
    rm -f "$stamp_dir/$lib.stamp"
    [[ -n $scratch_dir ]] || scratch_dir=$(mktemp -d /var/tmp/vantrel-setup.XXXXXX)
    local work=$scratch_dir/$lib log=$log_dir/$lib.log
    mkdir -p "$work" "$log_dir" "$stamp_dir"
    say "$lib: building $source_package $source_version (log: $log)"
    # A background job keeps errexit in force inside the build (it would be off
    # under "if"), and its own process group lets the cleanup stop it whole.
    set -m
    ("build_$lib" "$work" "$source_version") >"$log" 2>&1 </dev/null &
    build_pids[$lib]=$!
    set +m
    build_started[$lib]=$SECONDS
}

finish_windows_library() {
    local lib=$1 work=$scratch_dir/$1
    { printf '%s\n' "${build_keys[$lib]}"; printf 'built %s %s\n' \
        "$(debian_source_of "${version_package[$lib]}" | cut -d' ' -f1)" "$(<"$work/version")"; } \
        >"$stamp_dir/$lib.stamp.new"
    [[ ! -d $work/src ]] || keep_source_record "$lib" "$work"
    mv "$stamp_dir/$lib.stamp.new" "$stamp_dir/$lib.stamp"
    rm -rf "$work"
    say "$lib: installed in $((SECONDS - build_started[$lib])) s"
}

# The builds are independent and mostly single-threaded (configure, fetch), so they run
# side by side; each reports as it ends.
wait_windows_libraries() {
    local pid lib status failed=()
    while ((${#build_pids[@]})); do
        pid=
        wait -n -p pid "${build_pids[@]}" && status=0 || status=$?
        for lib in "${!build_pids[@]}"; do
            [[ ${build_pids[$lib]} == "$pid" ]] || continue
            unset "build_pids[$lib]"
            if ((status == 0)); then
                finish_windows_library "$lib"
            else
                tail -n 25 "$log_dir/$lib.log" >&2
                say "$lib: build failed; full log: $log_dir/$lib.log"
                failed+=("$lib")
            fi
        done
    done
    ((${#failed[@]} == 0)) || die "failed to build: ${failed[*]}"
}

# mingw must not search /usr/include, so the header-only library is linked in.
link_nlohmann_json() {
    local link=$prefix/include/nlohmann target=/usr/include/nlohmann
    [[ -f $target/json.hpp ]] || die "$target/json.hpp is missing (nlohmann-json3-dev)"
    if [[ "$(readlink "$link" 2>/dev/null)" != "$target" ]]; then
        mkdir -p "$prefix/include"
        rm -rf "$link"
        ln -s "$target" "$link"
    fi
    say "nlohmann-json: $link -> $target"
}

check_zlib() {
    [[ -f $mingw_sysroot/lib/libz.a && -f $mingw_sysroot/include/zlib.h ]] ||
        die "static zlib for $mingw_triple is missing (libz-mingw-w64-dev)"
    say "zlib: $mingw_sysroot/lib/libz.a ($(package_version libz-mingw-w64-dev))"
}

# The Debian packages whose files the Windows link takes in as they are (the release tool's
# component table names them): their .dsc, fetched alone, and their copyright file, kept
# again only when the installed version changes.
keep_package_records() {
    local package source version record work
    local -a packages
    mapfile -t packages < <(python3 "$repo_root/tools/release/third_party.py" debian-packages)
    for package in "${packages[@]}"; do
        read -r source version < <(debian_source_of "$package")
        record=$sources_dir/$package
        if [[ -f $record/${source}_${version#*:}.dsc ]] &&
            cmp -s "$record/copyright" "/usr/share/doc/$package/copyright"; then
            continue
        fi
        ensure_source_index "$source"
        [[ -n $scratch_dir ]] || scratch_dir=$(mktemp -d /var/tmp/vantrel-setup.XXXXXX)
        work=$scratch_dir/$package
        mkdir -p "$work"
        apt_download_folder "$work"
        (cd "$work/download" && apt-get source -qq --dsc-only --only-source "$source=$version") ||
            die "$package: could not fetch the .dsc of source package $source $version"
        mkdir -p "$work/record"
        cp "$work"/download/*.dsc "$work/record/"
        cp "/usr/share/doc/$package/copyright" "$work/record/copyright"
        rm -rf "$record"
        mkdir -p "$sources_dir"
        mv "$work/record" "$record"
        rm -rf "$work"
        say "$package: kept the record of $source $version"
    done
}

build_windows_libraries() {
    check_zlib
    local lib stale=()
    for lib in "${windows_libraries[@]}"; do
        if windows_library_stale "$lib"; then stale+=("$lib"); fi
    done
    for lib in "${stale[@]}"; do
        start_windows_library "$lib"
    done
    wait_windows_libraries
    link_nlohmann_json
    keep_package_records
}
