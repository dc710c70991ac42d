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

echo "== knit: compress the sample's connectivity, decode it, report the size"
"$build/knit/knit" "$sample" "$out/sphere.knit" "$out/sphere.raw" >/dev/null 2>"$out/knit-encode.log"
"$build/knit/knit" x "$out/sphere.knit" "$out/sphere.raw" "$out/sphere.iv" 2>/dev/null
knit_bytes=$(stat -c %s "$out/sphere.knit")
knit_vertices=$(( $(stat -c %s "$out/sphere.raw") / 12 ))
echo "knit: $knit_vertices vertices in $knit_bytes bytes," \
    "$(awk -v b="$knit_bytes" -v v="$knit_vertices" 'BEGIN { printf "%.3f", b * 8 / v }') bits per vertex;" \
    "decoded to $out/sphere.iv"
