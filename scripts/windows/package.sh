#!/usr/bin/env bash
# Makes the Windows package, dist/velmora-windows-x64.zip, on a Debian machine:
#
#   scripts/windows/package.sh [--no-check]
#
# Installs what is missing, builds the dependencies the first time (a few minutes) and the two
# programs (cross-build.sh --programs, in build-windows), then zips the folder velmora-windows-x64:
# velmora.exe and velmora-track.exe (static: they need only DLLs that come with Windows; checked in
# their import tables), data/, editor/ (the sync editor's page, as the edit server serves it) and
# README.txt. The zip is written under a temporary name and renamed into place when complete.
# Unless --no-check, the unpacked zip is tried under wine: --version and --check of the data.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
check=1
case "${1:-}" in
'') ;;
--no-check) check=0 ;;
*)
    echo "usage: $0 [--no-check]" >&2
    exit 2
    ;;
esac
build="$root/build-windows"
dist="$root/dist"
name=velmora-windows-x64
host=x86_64-w64-mingw32

die() {
    echo "package: $*" >&2
    exit 1
}

"$root/scripts/windows/cross-build.sh" --programs "$build"

# DLLs that every Windows 10 and 11 has: anything else would have to come with the zip.
system_dlls="advapi32 bcrypt comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 opengl32 setupapi
    shell32 shlwapi user32 version winmm ws2_32 mswsock"
check_imports() { # EXE
    local dll lower
    while read -r dll; do
        lower="$(tr '[:upper:]' '[:lower:]' <<<"$dll" | sed 's/\.dll$//')"
        grep -qw -- "$lower" <<<"$system_dlls" || die "$(basename "$1") needs $dll, which Windows does not have"
    done < <("$host-objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p')
}

mkdir -p "$dist" || die "cannot create $dist"
stage="$(mktemp -d "$dist/.stage-XXXXXX")" || die "cannot create a folder in $dist"
wine_run="$root/scripts/windows/wine-run.sh"
# The wine server of the check goes with us.
trap 'rm -rf "$stage"; [ $check -eq 0 ] || "$wine_run" --stop' EXIT
folder="$stage/$name"
mkdir -p "$folder/editor"

for program in app/velmora.exe tools/track/velmora-track.exe; do
    [ -f "$build/$program" ] || die "$build/$program was not built"
    check_imports "$build/$program"
    # Without the symbol table: a third of the size, nothing a user needs.
    "$host-strip" -o "$folder/$(basename "$program")" "$build/$program" || die "cannot strip $program"
done

# The data folder as committed (no stray local files), and the page's own files.
(cd "$root" && git ls-files -z data | xargs -0 cp --parents -t "$folder") || die "cannot copy data/"
(cd "$root/editor" && cp -r index.html style.css src "$folder/editor/") || die "cannot copy editor/"

# README.txt with Windows line ends.
sed 's/$/\r/' "$root/scripts/windows/README-windows.txt" >"$folder/README.txt" || die "cannot write README.txt"

if [ $check -eq 1 ]; then
    echo "package: trying the package under wine" >&2
    version="$(cd "$folder" && "$wine_run" ./velmora.exe --version | tr -d '\r')" || die "velmora.exe --version failed"
    (cd "$folder" && "$wine_run" ./velmora.exe --check >/dev/null) || die "velmora.exe --check of the packaged data failed"
    (cd "$folder" && "$wine_run" ./velmora-track.exe --help >/dev/null) || die "velmora-track.exe --help failed"
    echo "package: $version runs, and its data passes the check" >&2
fi

zip_file="$dist/$name.zip"
(cd "$stage" && zip -q -r -9 -X "$stage/$name.zip" "$name") || die "zip failed"
mv -f "$stage/$name.zip" "$zip_file" || die "cannot write $zip_file"
echo "package: $zip_file ($(du -k "$zip_file" | cut -f1) KiB; $(unzip -Z1 "$zip_file" | wc -l) entries)" >&2
echo "$zip_file"
