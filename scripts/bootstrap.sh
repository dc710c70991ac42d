#!/usr/bin/env bash
# Installs, through Debian packages, everything the project needs to build and test on a fresh
# Debian 12 machine. Idempotent: when every package is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential cmake g++ git
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    # loom: dialog, windows, OpenGL; Xvfb and Mesa for the GUI tests
    libgtk-3-dev libx11-dev libgl-dev libglu1-mesa-dev
    xvfb xauth libgl1-mesa-dri
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
