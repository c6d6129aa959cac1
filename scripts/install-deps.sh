#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and play.
set -euo pipefail
packages=(
    build-essential cmake pkg-config clang-format git
    libglfw3-dev libglew-dev libglm-dev libstb-dev libgl-dev
    libsdl2-dev libmpg123-dev libkissfft-dev libgtk-3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool libgl1-mesa-dri mesa-utils
    lame ffmpeg libdeflate-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
