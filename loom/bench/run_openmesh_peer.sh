#!/usr/bin/env bash
# Runs the loom benchmark with the OpenMesh peer: installs Debian's libopenmesh-dev when it is
# missing, builds loom_bench in Release with the peer and runs it at full size (10k, 100k and 1M
# triangles, a 100-frame sequence). Nothing else in the build needs OpenMesh.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if ! dpkg -s libopenmesh-dev >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq libopenmesh-dev
fi
build="$root/build/loom-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWORK_TESTS=OFF \
    -DMESHWORK_BENCH=ON >/dev/null
cmake --build "$build" -j 2 --target loom_bench >/dev/null
"$build/loom/loom_bench" "$@"
