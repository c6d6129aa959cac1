#!/usr/bin/env bash
# Installs what the Windows cross-build needs on a Debian machine: the mingw-w64 toolchain (posix
# thread model), wine and a headless X server to run the .exe files, and what `apt-get source`
# needs to fetch the libraries' Debian sources. Adds a deb-src entry for each deb entry of the
# machine's sources that has none (same archive, same suites, same components, same key).
# Installs only what is missing; uses sudo when not run as root.
#
#   scripts/windows/install-deps.sh                 deb-src entries, apt-get update when needed, packages
#   scripts/windows/install-deps.sh --sources-only  only the deb-src entries
#
# VELMORA_APT_ETC names another folder than /etc/apt to read and write the sources in (tests).
set -euo pipefail

apt_etc="${VELMORA_APT_ETC:-/etc/apt}"
sources_only=0
case "${1:-}" in
'') ;;
--sources-only) sources_only=1 ;;
*)
    echo "usage: $0 [--sources-only]" >&2
    exit 2
    ;;
esac

packages=(
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev
    wine wine64
    xvfb xauth xdotool zip
    dpkg-dev xz-utils bzip2 gnupg ca-certificates
    cmake make pkg-config
    libgl1-mesa-dri
    libasio-dev
)

die() {
    echo "install-deps: $*" >&2
    exit 1
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        die "not root and no sudo: cannot run $*"
    fi
}

# Writes FILE (as root where the folder needs it) from the temporary file TMP.
install_file() {
    if [ -w "$(dirname "$2")" ]; then
        install -m 0644 "$1" "$2" || die "cannot write $2"
    else
        as_root install -m 0644 "$1" "$2" || die "cannot write $2"
    fi
}

# --- deb-src entries -------------------------------------------------------------------------

# Prints "URI SUITE" for every enabled entry of the given type (deb or deb-src) in both formats:
# one-line (sources.list, *.list) and deb822 (*.sources).
entries_of_type() {
    local type="$1" f
    for f in "$apt_etc/sources.list" "$apt_etc"/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v want="$type" '
            { sub(/#.*/, "") }
            $1 == want {
                i = 2
                if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                uri = $i; suite = $(i + 1); sub(/\/+$/, "", uri)
                if (uri != "" && suite != "") print uri, suite
            }' "$f"
    done
    for f in "$apt_etc"/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk -v want="$type" '
            function flush(   i, j, nu, ns, u, s, ok, nt, t) {
                ok = 0; nt = split(types, t, /[ \t]+/)
                for (i = 1; i <= nt; i++) if (t[i] == want) ok = 1
                if (ok && tolower(enabled) != "no") {
                    nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
                    for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
                        if (u[i] != "" && s[j] != "") { sub(/\/+$/, "", u[i]); print u[i], s[j] }
                }
                types = uris = suites = enabled = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[Tt]ypes:/ { sub(/^[^:]*:[ \t]*/, ""); types = $0; next }
            /^URIs:/ { sub(/^[^:]*:[ \t]*/, ""); uris = $0; next }
            /^Suites:/ { sub(/^[^:]*:[ \t]*/, ""); suites = $0; next }
            /^Enabled:/ { sub(/^[^:]*:[ \t]*/, ""); enabled = $0; next }
            END { flush() }' "$f"
    done
}

# Writes deb-src entries for the deb entries whose archive and suite have none yet, in the same
# format as the entry they mirror, to files of our own (the machine's files stay untouched).
add_deb_src() {
    local have missing f list_out sources_out tmp_list tmp_sources
    have="$(entries_of_type deb-src | sort -u)"
    missing="$(comm -23 <(entries_of_type deb | sort -u) <(printf '%s\n' "$have" | sort -u))"
    [ -n "$missing" ] || return 0
    list_out="$apt_etc/sources.list.d/velmora-deb-src.list"
    sources_out="$apt_etc/sources.list.d/velmora-deb-src.sources"
    tmp_list="$(mktemp)"
    tmp_sources="$(mktemp)"
    # One-line entries: copy each deb line whose "URI SUITE" is missing, as deb-src.
    for f in "$apt_etc/sources.list" "$apt_etc"/sources.list.d/*.list; do
        [ -f "$f" ] && [ "$f" != "$list_out" ] || continue
        awk -v missing="$missing" '
            BEGIN { n = split(missing, m, "\n"); for (k = 1; k <= n; k++) want[m[k]] = 1 }
            { line = $0; sub(/#.*/, "") }
            $1 == "deb" {
                i = 2
                if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                uri = $i; sub(/\/+$/, "", uri)
                if ((uri " " $(i + 1)) in want) { $1 = "deb-src"; print }
            }' "$f" >>"$tmp_list"
    done
    # deb822 stanzas: copy each stanza of type deb with a missing archive and suite, with
    # "Types: deb-src" (Signed-By and other fields kept, including multi-line ones).
    for f in "$apt_etc"/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$sources_out" ] || continue
        awk -v missing="$missing" '
            BEGIN { n = split(missing, m, "\n"); for (k = 1; k <= n; k++) want[m[k]] = 1 }
            function flush(   i, j, nu, ns, u, s, nt, t, isdeb, hit) {
                isdeb = 0; hit = 0; nt = split(types, t, /[ \t]+/)
                for (i = 1; i <= nt; i++) if (t[i] == "deb") isdeb = 1
                if (isdeb && tolower(enabled) != "no") {
                    nu = split(uris, u, /[ \t]+/); ns = split(suites, s, /[ \t]+/)
                    for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) {
                        sub(/\/+$/, "", u[i])
                        if ((u[i] " " s[j]) in want) hit = 1
                    }
                }
                if (hit) printf "%s\n", "Types: deb-src" body "\n"
                types = uris = suites = enabled = body = ""
            }
            /^#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[Tt]ypes:/ { v = $0; sub(/^[^:]*:[ \t]*/, "", v); types = v; next }
            {
                body = body "\n" $0
                v = $0; sub(/^[^:]*:[ \t]*/, "", v)
                if ($0 ~ /^URIs:/) uris = v
                else if ($0 ~ /^Suites:/) suites = v
                else if ($0 ~ /^Enabled:/) enabled = v
            }
            END { flush() }' "$f" >>"$tmp_sources"
    done
    if [ -s "$tmp_list" ]; then
        echo "Adding deb-src entries to $list_out:"
        sed 's/^/    /' "$tmp_list"
        { [ -f "$list_out" ] && cat "$list_out"; cat "$tmp_list"; } >"$tmp_list.all" || die "cannot write $tmp_list.all"
        install_file "$tmp_list.all" "$list_out"
    fi
    if [ -s "$tmp_sources" ]; then
        echo "Adding deb-src entries to $sources_out:"
        sed 's/^/    /' "$tmp_sources"
        { [ -f "$sources_out" ] && { cat "$sources_out"; echo; }; cat "$tmp_sources"; } >"$tmp_sources.all" ||
            die "cannot write $tmp_sources.all"
        install_file "$tmp_sources.all" "$sources_out"
    fi
    rm -f "$tmp_list" "$tmp_sources" "$tmp_list.all" "$tmp_sources.all"
    sources_changed=1
}

# --- packages --------------------------------------------------------------------------------

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sources_changed=0
add_deb_src
[ $sources_only -eq 0 ] || exit 0
# apt-get source needs the Sources indexes: update when an entry was added or they are absent.
if [ "$sources_changed" = 1 ] || [ ${#missing[@]} -gt 0 ] ||
    ! ls /var/lib/apt/lists/*_Sources* >/dev/null 2>&1; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq || die "apt-get update failed"
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
        die "apt-get install failed for: ${missing[*]}"
fi
