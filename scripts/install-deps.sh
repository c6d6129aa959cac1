#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and play, and the sync editor's
# npm packages (editor/package-lock.json) when they are missing or older than the lockfile.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
packages=(
    build-essential cmake pkg-config clang-format git ccache
    libglfw3-dev libglew-dev libglm-dev libstb-dev libgl-dev
    libsdl2-dev libmpg123-dev libkissfft-dev libgtk-3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool libgl1-mesa-dri mesa-utils
    lame ffmpeg libdeflate-dev
    libasio-dev libcpp-httplib-dev nlohmann-json3-dev
    chromium fonts-dejavu-core
    slurmctld slurmd slurm-client munge parallel
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js and npm for the editor's tests: the machine's own when it has them (any package that
# provides node), else Debian's.
if ! command -v node >/dev/null 2>&1; then
    missing+=(nodejs)
fi
if ! command -v npm >/dev/null 2>&1; then
    missing+=(npm)
fi
if [ ${#missing[@]} -ne 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The editor's test tools, exactly as locked; never a browser download (the tests use Debian's).
editor="$root/editor"
if [ ! -d "$editor/node_modules" ] || [ "$editor/package-lock.json" -nt "$editor/node_modules" ]; then
    echo "Installing the sync editor's npm packages (editor/package-lock.json)"
    (cd "$editor" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
    touch "$editor/node_modules"
fi
