#!/usr/bin/env bash
# Builds the toolkit and runs its main jobs on the bundled sample mesh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/bootstrap.sh"
build="$root/build/demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWORK_TESTS=OFF \
    -DMESHWORK_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
out="$root/build/demo-out"
mkdir -p "$out"
sample="$root/testdata/sphere.obj"
echo "sample: $sample"
# Each program adds its step below.

echo "== mesh core: read the sample mesh and print what the mesh core sees"
"$build/mesh/meshinfo" "$sample"
