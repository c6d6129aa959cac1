#!/usr/bin/env bash
# Builds the libraries the Windows build links, from Debian's own sources, as static libraries
# for x86_64-w64-mingw32, into a cache folder outside the clone:
#
#   prefix="$(scripts/windows/build-deps.sh)"
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DVELMORA_WINDOWS_DEPS="$prefix"
#
# Progress goes to stderr; the prefix is the only line written to stdout. The prefix holds
# include/, lib/ (static .a), lib/pkgconfig/ (relocatable .pc files, meant for
# `pkg-config --static` with PKG_CONFIG_LIBDIR pointing there), lib/cmake/ and share/cmake/
# (GTest, benchmark, glm, glfw3, SDL2 config files) and share/velmora-windows-deps/ (what was
# built, from which source versions, and how long each took).
#
# The cache entry is named by a hash of the source package versions (and their files' hashes),
# of this script, of the toolchain file and of the cross compilers' versions: a second run with
# the same inputs reuses it and takes seconds. An entry is built in a temporary folder and renamed
# into place only when complete, so an interrupted or failed build never looks finished.
#
#   scripts/windows/build-deps.sh --print-prefix   prints the prefix for the current sources and
#                                                   exits 0 if it is built, 1 if not (builds nothing)
#
# Environment:
#   VELMORA_WINDOWS_DEPS_CACHE  cache root (default ${XDG_CACHE_HOME:-$HOME/.cache}/velmora/windows-deps)
#   VELMORA_WINDOWS_DEPS_JOBS   parallel compile jobs (default 2)
#
# Needs the packages of scripts/windows/install-deps.sh (run it first) and a deb-src entry.
set -euo pipefail

script="$(readlink -f "${BASH_SOURCE[0]}")"
root="$(cd "$(dirname "$script")/../.." && pwd)"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
cache_root="${VELMORA_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmora/windows-deps}"
jobs="${VELMORA_WINDOWS_DEPS_JOBS:-2}"

host=x86_64-w64-mingw32
# The -posix compilers by name: the plain name follows whichever thread model was installed last.
CC="$host-gcc-posix"
CXX="$host-g++-posix"
AR="$host-ar"
RANLIB="$host-ranlib"

# Debian source packages, in build order. mpg123's upstream signature file is listed in its .dsc
# but missing from the archive, so `apt-get source` fails on it: its other files are fetched by
# hand (each checked against the hash in apt's signed Sources index) and unpacked without the
# signature check.
packages=(glm nlohmann-json3 cpp-httplib libstb kissfft libdeflate glfw3 glew googletest benchmark mpg123
    libsdl2)
by_hand=(mpg123)

print_only=0
case "${1:-}" in
'') ;;
--print-prefix) print_only=1 ;;
*)
    echo "usage: $0 [--print-prefix]" >&2
    exit 2
    ;;
esac

log() { echo "build-deps: $*" >&2; }
die() {
    echo "build-deps: ERROR: $*" >&2
    exit 1
}

# --- checks ----------------------------------------------------------------------------------

for tool in "$CC" "$CXX" "$AR" "$RANLIB" cmake make pkg-config apt-get dpkg-source flock sha256sum; do
    command -v "$tool" >/dev/null ||
        die "'$tool' not found; run scripts/windows/install-deps.sh first"
done
[ -x /usr/lib/apt/apt-helper ] || die "/usr/lib/apt/apt-helper not found (package apt)"
[ -f "$toolchain" ] || die "toolchain file $toolchain is missing"
case "$jobs" in '' | *[!0-9]* | 0) die "VELMORA_WINDOWS_DEPS_JOBS must be a positive number, not '$jobs'" ;; esac

apt_opts=(-qq)
if [ "$(id -u)" -eq 0 ]; then
    # As root apt drops to the _apt user to download, which cannot write into a private folder.
    apt_opts+=(-o APT::Sandbox::User=root)
fi

# --- the cache key ---------------------------------------------------------------------------

# The cross compilers' and the mingw-w64 runtime's package versions (the compilers' --version
# says only "12-posix").
toolchain_versions() {
    dpkg-query -W -f='${Package} ${Version}\n' gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
        binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev 2>/dev/null || "$CXX" --version | head -n 1
}

# apt-get source --print-uris: one line per file: 'URI' NAME SIZE SHA256:HASH
uris="$(apt-get source --print-uris "${apt_opts[@]}" "${packages[@]}" 2>&1)" ||
    die "apt-get source --print-uris failed (no deb-src entry? run scripts/windows/install-deps.sh):
$uris"
for p in "${packages[@]}"; do
    grep -q "/${p}_[^ ]*\.dsc'" <<<"$uris" ||
        die "no source package '$p' in apt's Sources index (run scripts/windows/install-deps.sh):
$uris"
done
versions="$(sed -n "s/^'[^']*' \([^ ]*\)\.dsc .*/\1/p" <<<"$uris" | sort)"
# Asio is header-only and the same on every platform: Debian's own headers (libasio-dev, installed
# by scripts/windows/install-deps.sh and used by the Linux build too) are copied as they are.
asio_version="$(dpkg-query -W -f='${Version}' libasio-dev 2>/dev/null)" ||
    die "libasio-dev is not installed; run scripts/windows/install-deps.sh first"
key="$(
    {
        echo "$uris" | awk '{print $2, $3, $4}' | sort
        echo "libasio-dev $asio_version"
        sha256sum <"$script"
        sha256sum <"$toolchain"
        toolchain_versions
    } | sha256sum | cut -c1-16
)"
prefix="$cache_root/$key"

if [ $print_only -eq 1 ]; then
    echo "$prefix"
    [ -f "$prefix/share/velmora-windows-deps/manifest.txt" ]
    exit
fi
if [ -f "$prefix/share/velmora-windows-deps/manifest.txt" ]; then
    log "reusing $prefix"
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache_root" || die "cannot create the cache folder $cache_root"
exec 9>"$cache_root/.lock" || die "cannot open $cache_root/.lock"
if ! flock -n 9; then
    log "another build holds $cache_root/.lock; waiting for it"
    flock 9 || die "cannot lock $cache_root/.lock"
fi
# The build that held the lock may have made this very entry.
if [ -f "$prefix/share/velmora-windows-deps/manifest.txt" ]; then
    log "reusing $prefix"
    echo "$prefix"
    exit 0
fi
[ ! -e "$prefix" ] || die "$prefix exists but has no manifest: an incomplete entry not made by this script; remove it"
# Folders of builds that were interrupted (we hold the lock, so none is running).
rm -rf "$cache_root"/.tmp-* || die "cannot remove old temporary folders in $cache_root"

work="$(mktemp -d "$cache_root/.tmp-$key-XXXXXX")" || die "cannot create a temporary folder in $cache_root"
stage="$work/prefix"
mkdir -p "$stage/include" "$stage/lib/pkgconfig" "$stage/share/velmora-windows-deps" "$work/src" \
    "$work/build" "$work/logs" "$work/downloads"
failure_log="$cache_root/last-failure.log"
current=""
cleanup() {
    local status=$?
    if [ $status -ne 0 ]; then
        if [ -n "$current" ] && [ -f "$work/logs/$current.log" ]; then
            cp "$work/logs/$current.log" "$failure_log" 2>/dev/null &&
                echo "build-deps: the full log of '$current' is in $failure_log" >&2
        fi
        echo "build-deps: FAILED; nothing was added to the cache" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log "building into $prefix ($jobs jobs); sources:"
sed 's/^/    /' <<<"$versions" >&2

# Runs a command with its output in the current package's log; on failure shows the log's end.
run() {
    local logfile="$work/logs/$current.log"
    echo "+ $*" >>"$logfile"
    if ! "$@" >>"$logfile" 2>&1; then
        echo "----- last lines of the log of '$current' -----" >&2
        tail -n 40 "$logfile" >&2
        echo "-----" >&2
        die "'$current': command failed: $*"
    fi
}

# --- fetching --------------------------------------------------------------------------------

# Fetches and unpacks the Debian source package $1 into $work/src/$1 (Debian's patches applied).
fetch() {
    local p="$1" dl="$work/downloads/$1" dsc line uri name hash manual=0 q
    mkdir -p "$dl"
    for q in "${by_hand[@]}"; do [ "$q" = "$p" ] && manual=1; done
    if [ $manual -eq 0 ]; then
        (cd "$dl" && run apt-get source --download-only "${apt_opts[@]}" "$p")
    else
        while read -r line; do
            read -r uri name _ hash <<<"$line"
            uri="${uri//\'/}"
            [ -n "$name" ] || continue
            case "$name" in *.asc) continue ;; esac
            run /usr/lib/apt/apt-helper download-file "$uri" "$dl/$name" "$hash"
        done < <(grep "/${p}_" <<<"$uris")
    fi
    dsc="$(ls "$dl"/*.dsc 2>/dev/null | head -n 1)"
    [ -n "$dsc" ] || die "'$p': no .dsc was downloaded"
    if [ $manual -eq 0 ]; then
        run dpkg-source -x "$dsc" "$work/src/$p"
    else
        run dpkg-source --no-check -x "$dsc" "$work/src/$p"
    fi
    rm -rf "$dl"
}

# --- building --------------------------------------------------------------------------------

# Given explicitly: projects that include GNUInstallDirs only on UNIX would leave them empty and
# install to the file system's root.
install_dirs=(-DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_INSTALL_INCLUDEDIR=include -DCMAKE_INSTALL_BINDIR=bin
    -DCMAKE_INSTALL_DATADIR=share -DCMAKE_INSTALL_DATAROOTDIR=share)

cmake_build() { # SOURCE_DIR [CMAKE_ARGS...]: configure, build and install one CMake project
    local src="$1" build="$work/build/$current"
    shift
    run cmake -S "$src" -B "$build" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELMORA_WINDOWS_DEPS="$stage" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" "${install_dirs[@]}" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@"
    run cmake --build "$build" -j"$jobs"
    run cmake --install "$build"
}

build_glm() { # header-only: configure and install, nothing to compile
    local build="$work/build/glm"
    run cmake -S "$work/src/glm" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVELMORA_WINDOWS_DEPS="$stage" -DCMAKE_INSTALL_PREFIX="$stage" "${install_dirs[@]}" -DBUILD_TESTING=OFF \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=OFF
    run cmake --install "$build"
}

build_nlohmann_json3() { # header-only: headers, CMake config and .pc file
    local build="$work/build/nlohmann-json3"
    run cmake -S "$work/src/nlohmann-json3" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVELMORA_WINDOWS_DEPS="$stage" -DCMAKE_INSTALL_PREFIX="$stage" "${install_dirs[@]}" \
        -DJSON_BuildTests=OFF -DJSON_Install=ON -DBUILD_TESTING=OFF
    run cmake --install "$build"
}

build_cpp_httplib() { # the upstream single header, used header-only (no TLS, no compression)
    local src="$work/src/cpp-httplib" version
    version="$(sed -n 's/^#define CPPHTTPLIB_VERSION "\(.*\)"/\1/p' "$src/httplib.h")"
    [ -n "$version" ] || die "cpp-httplib: no CPPHTTPLIB_VERSION in httplib.h"
    run install -m 0644 "$src/httplib.h" "$stage/include/"
    # Winsock is all it needs on Windows without OpenSSL (crypt32 and cryptui only serve TLS).
    cat >"$stage/lib/pkgconfig/cpp-httplib.pc" <<PC || die "cpp-httplib: cannot write cpp-httplib.pc"
prefix=$stage
includedir=\${prefix}/include

Name: cpp-httplib
Description: A C++ HTTP server and client library (header-only)
Version: $version
Libs: -lws2_32
Cflags: -I\${includedir}
PC
}

build_asio() { # header-only: Debian's installed headers, the same files as its source package's include/
    [ -f /usr/include/asio.hpp ] && [ -d /usr/include/asio ] ||
        die "asio: /usr/include/asio.hpp is missing (package libasio-dev)"
    run cp -r /usr/include/asio.hpp /usr/include/asio "$stage/include/"
}

build_libstb() { # Debian's Makefile compiles each header with its implementation into libstb
    local src="$work/src/libstb"
    local vars=(CC="$CC" AR="$AR" CFLAGS="-O2 -fwrapv" MULTIARCH="$host" PREFIX="$stage"
        INCLUDEDIR=include/stb LIBDIR=lib)
    run make -C "$src" -j"$jobs" "${vars[@]}" libstb.a stb.pc
    run make -C "$src" "${vars[@]}" install-static install-header
}

build_kissfft() {
    cmake_build "$work/src/kissfft" -DKISSFFT_STATIC=ON -DKISSFFT_DATATYPE=float \
        -DKISSFFT_TEST=OFF -DKISSFFT_TOOLS=OFF -DKISSFFT_OPENMP=OFF -DKISSFFT_PKGCONFIG=ON
}

build_libdeflate() { # plain Makefile; for mingw it names the static library libdeflatestatic.lib
    local src="$work/src/libdeflate" version
    run make -C "$src" -j"$jobs" CC="$CC" AR="$AR" STATIC_LIB_SUFFIX=.a libdeflate.a
    version="$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[ \t]*"\(.*\)"/\1/p' "$src/libdeflate.h")"
    [ -n "$version" ] || die "libdeflate: no version in libdeflate.h"
    run install -m 0644 "$src/libdeflate.a" "$stage/lib/"
    run install -m 0644 "$src/libdeflate.h" "$stage/include/"
    sed -e "s|@PREFIX@|$stage|" -e "s|@LIBDIR@|$stage/lib|" -e "s|@INCDIR@|$stage/include|" \
        -e "s|@VERSION@|$version|" "$src/libdeflate.pc.in" >"$stage/lib/pkgconfig/libdeflate.pc" ||
        die "libdeflate: cannot write libdeflate.pc"
}

build_glfw3() {
    cmake_build "$work/src/glfw3" -DGLFW_BUILD_EXAMPLES=OFF -DGLFW_BUILD_TESTS=OFF \
        -DGLFW_BUILD_DOCS=OFF -DGLFW_INSTALL=ON
}

build_glew() { # GLEW's own CMake project; only the static library (glew32 + GLEW_STATIC)
    cmake_build "$work/src/glew/build/cmake" -DBUILD_UTILS=OFF
    # glew.pc asks for glu (absent on Windows) and lacks GLEW_STATIC and opengl32.
    local pc="$stage/lib/pkgconfig/glew.pc"
    [ -f "$pc" ] || die "glew: glew.pc was not installed"
    sed -i -e 's/^Requires:.*/Requires:/' -e 's/^Cflags:.*/& -DGLEW_STATIC/' \
        -e 's/^Libs:.*/Libs: -L${libdir} -lglew32 -lopengl32/' "$pc" || die "glew: cannot fix $pc"
}

build_googletest() {
    cmake_build "$work/src/googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

build_benchmark() {
    # Debian's patches stop it reading the version from git tags and pass it in GIT_VERSION;
    # 0.0.0 there means "the version of the project() command".
    cmake_build "$work/src/benchmark" -DGIT_VERSION=0.0.0 -DBENCHMARK_ENABLE_TESTING=OFF \
        -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF \
        -DBENCHMARK_ENABLE_LTO=OFF -DBENCHMARK_ENABLE_INSTALL=ON -DBENCHMARK_INSTALL_DOCS=OFF
    # On Windows the library also needs shlwapi (its CMake target says so, its .pc does not).
    local pc="$stage/lib/pkgconfig/benchmark.pc"
    [ -f "$pc" ] || die "benchmark: benchmark.pc was not installed"
    sed -i 's/^Libs.private:.*/& -lshlwapi/' "$pc" || die "benchmark: cannot fix $pc"
}

build_mpg123() { # autotools; only libmpg123 is used, the player and output modules are left out
    local src="$work/src/mpg123" build="$work/build/mpg123"
    mkdir -p "$build"
    (cd "$build" && run "$src/configure" --host="$host" --prefix="$stage" --enable-static \
        --disable-shared --with-cpu=x86-64 --with-audio=dummy --with-default-audio=dummy \
        --disable-modules --enable-network=no CC="$CC" AR="$AR" RANLIB="$RANLIB" CFLAGS="-O2")
    run make -C "$build" -j"$jobs"
    run make -C "$build" install
    rm -rf "${stage:?}/bin" "$stage/share/man" "$stage"/lib/libout123.* "$stage"/lib/libsyn123.* \
        "$stage/lib/pkgconfig/libout123.pc" "$stage/lib/pkgconfig/libsyn123.pc" \
        "$stage/include/out123.h" "$stage/include/syn123.h"
}

build_libsdl2() { # audio (and what it rests on) only, static, without SDL2main
    local src="$work/src/libsdl2" dynapi="$work/src/libsdl2/src/dynapi/SDL_dynapi.h"
    # SDL's dynamic API (an SDL2.dll named in an environment variable replaces the linked code)
    # can only be switched off by editing this header; with video off a static link needs it off.
    grep -q '^#define SDL_DYNAMIC_API 1$' "$dynapi" || die "libsdl2: SDL_DYNAMIC_API default not found in $dynapi"
    sed -i 's/^#define SDL_DYNAMIC_API 1$/#define SDL_DYNAMIC_API 0/' "$dynapi" || die "libsdl2: cannot edit $dynapi"
    cmake_build "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON \
        -DSDL2_DISABLE_UNINSTALL=ON -DSDL_CCACHE=OFF \
        -DSDL_VIDEO=OFF -DSDL_RENDER=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
        -DSDL_SENSOR=OFF -DSDL_POWER=OFF -DSDL_OPENGL=OFF -DSDL_OPENGLES=OFF -DSDL_VULKAN=OFF \
        -DSDL_XINPUT=OFF -DSDL_RENDER_D3D=OFF -DSDL_DIRECTX=ON -DSDL_WASAPI=ON
    # A static-only sdl2.pc puts the system libraries in Libs, with -lmingw32 -mwindows (a
    # GUI-subsystem program with SDL's WinMain): our programs have their own main and are console
    # programs. Libs keeps -lSDL2, the system libraries go to Libs.private, and SDL_MAIN_HANDLED
    # keeps SDL.h from renaming main.
    local pc="$stage/lib/pkgconfig/sdl2.pc" private
    [ -f "$pc" ] || die "libsdl2: sdl2.pc was not installed"
    private="$(sed -n 's/^Libs:[ \t]*//p' "$pc" | tr ' \t' '\n\n' |
        awk '$0 != "" && $0 !~ /^-L/ && $0 != "-lSDL2" && $0 != "-lmingw32" && $0 != "-mwindows" && !seen[$0]++' |
        tr '\n' ' ')"
    grep -q -- '-lwinmm' <<<"$private" || die "libsdl2: unexpected Libs in sdl2.pc: $(grep '^Libs' "$pc")"
    sed -i -e "s/^Libs:.*/Libs: -L\${libdir} -lSDL2\nLibs.private: ${private% }/" \
        -e 's/^Cflags:.*/& -DSDL_MAIN_HANDLED/' "$pc" || die "libsdl2: cannot fix $pc"
    rm -f "$stage/bin/sdl2-config"
}

# --- finishing -------------------------------------------------------------------------------

# Makes the prefix relocatable (it is renamed after the build): .pc files locate themselves
# through ${pcfiledir}; libtool archives are dropped; nothing may name the temporary folder.
relocate() {
    local pc left
    if [ -d "$stage/share/pkgconfig" ]; then
        mv "$stage"/share/pkgconfig/*.pc "$stage/lib/pkgconfig/" || die "cannot move share/pkgconfig"
        rmdir "$stage/share/pkgconfig"
    fi
    for pc in "$stage"/lib/pkgconfig/*.pc; do
        # (some .pc files have no prefix variable, only absolute paths)
        sed -i -e '1i prefix=${pcfiledir}/../..' -e '/^prefix=/d' -e "s|$stage|\${prefix}|g" "$pc" ||
            die "cannot fix $pc"
    done
    rm -f "$stage"/lib/*.la
    rmdir "$stage/bin" 2>/dev/null || true
    left="$(grep -rIl -- "$stage" "$stage" || true)"
    [ -z "$left" ] || die "files still name the temporary build folder:
$left"
}

# Every module the project asks pkg-config for must resolve with the static link line, its
# folders must exist and each library must be in the prefix or in the mingw-w64 runtime.
check_pkgconfig() {
    local m out word lib
    for m in glfw3 glew sdl2 libmpg123 kissfft-float libdeflate stb gtest gtest_main gmock \
        benchmark glm nlohmann_json cpp-httplib; do
        out="$(PKG_CONFIG_LIBDIR="$stage/lib/pkgconfig" PKG_CONFIG_PATH="" pkg-config --static \
            --cflags --libs "$m" 2>&1)" || die "pkg-config --static $m fails in the new prefix: $out"
        for word in $out; do
            case "$word" in
            -I* | -L*)
                [ -d "${word:2}" ] || die "pkg-config $m: ${word:2} does not exist ($out)"
                ;;
            -l*)
                lib="lib${word:2}.a"
                [ -f "$stage/lib/$lib" ] || [ "$("$CC" -print-file-name="$lib")" != "$lib" ] ||
                    die "pkg-config $m: no $lib in the prefix or the mingw-w64 runtime ($out)"
                ;;
            esac
        done
    done
}

times_file="$stage/share/velmora-windows-deps/build-times.txt"
total_start=$(date +%s.%N)
for p in "${packages[@]}"; do
    current="$p"
    start=$(date +%s.%N)
    log "$p: fetching"
    fetch "$p"
    log "$p: building"
    "build_${p//-/_}"
    rm -rf "$work/src/$p" "$work/build/$p"
    seconds="$(awk "BEGIN{print $(date +%s.%N) - $start}")"
    printf '%-12s %7.1f s\n' "$p" "$seconds" | tee -a "$times_file" >&2
done
current="asio"
start=$(date +%s.%N)
log "asio: copying Debian's headers (libasio-dev $asio_version)"
build_asio
printf '%-12s %7.1f s\n' asio "$(awk "BEGIN{print $(date +%s.%N) - $start}")" | tee -a "$times_file" >&2
current="finish"
relocate
check_pkgconfig
printf '%-12s %7.1f s\n' total "$(awk "BEGIN{print $(date +%s.%N) - $total_start}")" | tee -a "$times_file" >&2
{
    echo "key: $key"
    echo "host: $host"
    echo "toolchain:"
    toolchain_versions | sed 's/^/  /'
    echo "sources:"
    sed 's/^/  /' <<<"$versions"
    echo "  libasio-dev $asio_version (headers)"
} >"$stage/share/velmora-windows-deps/manifest.txt" || die "cannot write the manifest"

# The rename is what makes the entry visible: all or nothing.
mv -T "$stage" "$prefix" || die "cannot rename $stage to $prefix"
log "done: $(du -sh "$prefix" | cut -f1) in $prefix"
echo "$prefix"
