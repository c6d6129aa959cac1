#!/usr/bin/env bash
# Tests of the Windows build scripts that run in seconds:
# - install-deps.sh --sources-only on made-up apt configurations (one-line and deb822 formats),
#   checked with apt's own parser;
# - wine-run.sh: exit statuses, arguments and output of a cross-compiled program, and its own
#   errors (skipped when mingw-w64 or wine is missing).
#   tests/windows/test-scripts.sh
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
install_deps="$root/scripts/windows/install-deps.sh"
wine_run="$root/scripts/windows/wine-run.sh"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

passed=0
failed=0
skipped=0
check() { # NAME COMMAND...: passes when the command succeeds
    local name="$1"
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name" >&2
    fi
}

# "TYPE URI SUITE" of every index target apt reads from the sources in folder $1.
apt_targets() {
    apt-get -o Dir::Etc::SourceList="$1/sources.list" -o Dir::Etc::SourceParts="$1/sources.list.d" \
        indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE)' 2>/dev/null | sort -u
}

add_sources() { # FOLDER: runs install-deps.sh --sources-only on it, output in FOLDER/out
    VELMORA_APT_ETC="$1" "$install_deps" --sources-only >"$1/out" 2>&1
}

# --- deb-src entries: one-line format with options and a deb-src already there for one entry ---
t="$tmp/oneline"
mkdir -p "$t/sources.list.d"
cat >"$t/sources.list" <<'EOF'
# deb-src http://commented.example.org/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://one.example.org/debian/ bookworm main contrib
deb http://two.example.org/debian bookworm-updates main # trailing comment
deb http://three.example.org/debian bookworm main
deb-src http://three.example.org/debian/ bookworm main
EOF
check "one-line: runs" add_sources "$t"
check "one-line: adds the two missing entries, keeps options and components" diff -u \
    <(printf '%s\n' \
        "deb-src [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://one.example.org/debian/ bookworm main contrib" \
        "deb-src http://two.example.org/debian bookworm-updates main") \
    "$t/sources.list.d/velmora-deb-src.list"
check "one-line: writes no deb822 file" test ! -e "$t/sources.list.d/velmora-deb-src.sources"
check "one-line: apt reads a deb-src target for every deb target" diff -u \
    <(apt_targets "$t" | awk '$1 == "deb" {print $2, $3}') \
    <(apt_targets "$t" | awk '$1 == "deb-src" {print $2, $3}')
check "one-line: the machine's own file is left alone" grep -qc "three.example.org/debian/ bookworm" "$t/sources.list"
cp "$t/sources.list.d/velmora-deb-src.list" "$t/before"
check "one-line: a second run changes nothing" add_sources "$t"
check "one-line: second run, same file" cmp -s "$t/before" "$t/sources.list.d/velmora-deb-src.list"
check "one-line: second run says nothing" test ! -s "$t/out"

# --- deb822: several suites, an inline key, a disabled stanza, a stanza with both types ---------
t="$tmp/deb822"
mkdir -p "$t/sources.list.d"
: >"$t/sources.list"
cat >"$t/sources.list.d/debian.sources" <<'EOF'
# the archive
Types: deb
URIs: http://deb.example.org/debian
Suites: bookworm bookworm-updates
Components: main non-free-firmware
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mDMEZH0wBBYJKwYBBAHaRw8BAQdA
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://off.example.org/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb deb-src
URIs: http://both.example.org/debian
Suites: bookworm
Components: main
EOF
cat >"$t/sources.list.d/security.sources" <<'EOF'
Types: deb
URIs: http://security.example.org/debian-security/
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
check "deb822: runs" add_sources "$t"
check "deb822: copies the stanzas as deb-src, inline key included" diff -u - \
    "$t/sources.list.d/velmora-deb-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.example.org/debian
Suites: bookworm bookworm-updates
Components: main non-free-firmware
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mDMEZH0wBBYJKwYBBAHaRw8BAQdA
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb-src
URIs: http://security.example.org/debian-security/
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

EOF
check "deb822: apt reads a deb-src target for every deb target" diff -u \
    <(apt_targets "$t" | awk '$1 == "deb" {print $2, $3}') \
    <(apt_targets "$t" | awk '$1 == "deb-src" {print $2, $3}')
check "deb822: the disabled archive gets nothing" bash -c "! grep -q off.example.org '$t'/sources.list.d/velmora-*"
check "deb822: a second run changes nothing" add_sources "$t"
check "deb822: second run says nothing" test ! -s "$t/out"

# --- nothing to do: no deb entries at all ------------------------------------------------------
t="$tmp/empty"
mkdir -p "$t/sources.list.d"
: >"$t/sources.list"
check "no entries: runs" add_sources "$t"
check "no entries: writes nothing" bash -c "! ls '$t'/sources.list.d/velmora-* 2>/dev/null"

# --- build-deps.sh: the cache, without building anything -------------------------------------
build_deps="$root/scripts/windows/build-deps.sh"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
    apt-get source --print-uris -qq glfw3 >/dev/null 2>&1; then
    cache="$tmp/cache"
    VELMORA_WINDOWS_DEPS_CACHE="$cache" "$build_deps" --print-prefix >"$tmp/prefix" 2>/dev/null
    check "build-deps: --print-prefix says an empty cache has no entry" test $? -eq 1
    entry="$(cat "$tmp/prefix")"
    check "build-deps: the entry is named by a key under the cache root" \
        bash -c "[[ '$entry' =~ ^$cache/[0-9a-f]{16}\$ ]]"
    check "build-deps: --print-prefix creates nothing" test ! -e "$cache"
    # A temporary folder of an interrupted build, complete-looking inside, is not an entry.
    mkdir -p "$cache/.tmp-$(basename "$entry")-x/prefix/share/velmora-windows-deps"
    touch "$cache/.tmp-$(basename "$entry")-x/prefix/share/velmora-windows-deps/manifest.txt"
    VELMORA_WINDOWS_DEPS_CACHE="$cache" "$build_deps" --print-prefix >/dev/null 2>&1
    check "build-deps: a temporary folder is not taken as built" test $? -eq 1
    # A folder at the entry's name without the manifest (not made by the script) is left alone.
    mkdir -p "$entry/lib"
    VELMORA_WINDOWS_DEPS_CACHE="$cache" "$build_deps" >"$tmp/out" 2>"$tmp/err"
    check "build-deps: refuses an incomplete entry" test $? -ne 0
    check "build-deps: ... says so" grep -q "has no manifest" "$tmp/err"
    check "build-deps: ... prints no prefix" test ! -s "$tmp/out"
    check "build-deps: ... and does not remove it" test -d "$entry/lib"
    # A complete entry is reused: only its path on stdout.
    mkdir -p "$entry/share/velmora-windows-deps"
    touch "$entry/share/velmora-windows-deps/manifest.txt"
    VELMORA_WINDOWS_DEPS_CACHE="$cache" "$build_deps" >"$tmp/out" 2>/dev/null
    check "build-deps: reuses a complete entry" test $? -eq 0
    check "build-deps: ... printing only its prefix" diff -u <(echo "$entry") "$tmp/out"
    VELMORA_WINDOWS_DEPS_JOBS=two VELMORA_WINDOWS_DEPS_CACHE="$tmp/cache2" "$build_deps" >/dev/null 2>"$tmp/err"
    check "build-deps: a bad job count is refused" test $? -ne 0
    check "build-deps: ... before anything is made" test ! -e "$tmp/cache2"
else
    echo "skipped: build-deps.sh tests (no mingw-w64 or no deb-src entries; run scripts/windows/install-deps.sh)" >&2
    skipped=$((skipped + 1))
fi

# --- wine-run.sh -------------------------------------------------------------------------------
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
    cat >"$tmp/probe.cpp" <<'EOF'
#include <cstdio>
#include <cstdlib>
#include <cstring>
// probe STATUS ARGS...: prints its arguments one a line on stdout, "stderr" on stderr, exits STATUS.
int main(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
    std::fprintf(stderr, "stderr\n");
    return argc > 1 ? std::atoi(argv[1]) : 0;
}
EOF
    if x86_64-w64-mingw32-g++-posix -static -O1 "$tmp/probe.cpp" -o "$tmp/probe.exe"; then
        "$wine_run" "$tmp/probe.exe" 0 >/dev/null 2>&1
        check "wine-run: status 0" test $? -eq 0
        "$wine_run" "$tmp/probe.exe" 7 >/dev/null 2>&1
        check "wine-run: status 7 passes through" test $? -eq 7
        "$wine_run" "$tmp/probe.exe" 255 >/dev/null 2>&1
        check "wine-run: status 255 passes through" test $? -eq 255
        "$wine_run" "$tmp/probe.exe" 0 "two words" "" 'quote"d' "a\\b" >"$tmp/stdout" 2>"$tmp/stderr"
        # (the program writes text mode: CR LF line ends)
        check "wine-run: arguments arrive intact" diff -u \
            <(printf '%s\n' "[two words]" "[]" '[quote"d]' "[a\\b]") <(tr -d '\r' <"$tmp/stdout")
        check "wine-run: stderr stays apart" diff -u <(echo stderr) <(tr -d '\r' <"$tmp/stderr")
        (cd "$tmp" && "$wine_run" probe.exe 3 >/dev/null 2>&1)
        check "wine-run: a program named relative to the working folder" test $? -eq 3
        env -u DISPLAY "$wine_run" "$tmp/probe.exe" 4 >/dev/null 2>&1
        check "wine-run: runs without DISPLAY on its own X server" test $? -eq 4
    else
        check "wine-run: the probe cross-compiles" false
    fi
    "$wine_run" "$tmp/absent.exe" >/dev/null 2>"$tmp/err"
    check "wine-run: a missing program is its own error (125)" test $? -eq 125
    check "wine-run: ... and it names the program" grep -q "absent.exe" "$tmp/err"
    "$wine_run" >/dev/null 2>&1
    check "wine-run: no arguments is an error" test $? -eq 125
else
    echo "skipped: wine-run.sh tests (no mingw-w64 or wine; run scripts/windows/install-deps.sh)" >&2
    skipped=$((skipped + 1))
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
