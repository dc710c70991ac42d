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

echo "== whittle: simplify the sample level by level into a progressive mesh file"
"$build/whittle/whittle" "$sample" "$out/sphere.pm"
echo "whittle: $(grep -c '^l ' "$out/sphere.pm") levels, $(grep -c '^c ' "$out/sphere.pm")" \
    "collapses, $(grep -c '^v ' "$out/sphere.pm") base vertices in $out/sphere.pm"

echo "== ripple: transform the sample over its whittle hierarchy (-s 0.5), rebuild it with -r"
"$build/whittle/whittle" "$sample" "$out/ripple-hierarchy.pm" 2>/dev/null
"$build/ripple/ripple" "$sample" "$out/ripple-hierarchy.pm" "$sample" "$out/ripple-coef.pm" -s 0.5
"$build/ripple/ripple" "$sample" "$out/ripple-hierarchy.pm" "$out/ripple-coef.pm" \
    "$out/ripple-rebuilt.obj" -r -s 0.5
awk 'FNR == NR && $1 == "v" { n++; x[n] = $2; y[n] = $3; z[n] = $4
         for (i = 2; i <= 4; i++) { if (n == 1 || $i < lo[i]) lo[i] = $i; if (n == 1 || $i > hi[i]) hi[i] = $i } }
     FNR != NR && $1 == "v" { m++; d = sqrt(($2 - x[m])^2 + ($3 - y[m])^2 + ($4 - z[m])^2); if (d > worst) worst = d }
     END { diag = sqrt((hi[2] - lo[2])^2 + (hi[3] - lo[3])^2 + (hi[4] - lo[4])^2)
           printf "ripple: %d collapses; rebuilt %d of %d vertices, largest distance to the original %.2g of the bounding-box diagonal\n",
               collapses, m, n, worst / diag }' \
    collapses="$(grep -c '^c ' "$out/ripple-coef.pm")" "$sample" "$out/ripple-rebuilt.obj"

echo "== loom: load an OBJ sequence, convert, Loop-subdivide, save the finest level and a sequence"
"$build/loom/loom" load-seq "$root/testdata/loom/wave1.obj" convert loop \
    save-loop "$out/wave-loop.obj" save-seq "$out/wave-seq.obj" save-md3 "$out/wave.md3" \
    >"$out/loom.log"
grep -m 3 -E "frames to be read|dedge pairs to merge|verts to remove" "$out/loom.log"
echo "loom: finest level $out/wave-loop.obj ($(grep -c '^v ' "$out/wave-loop.obj") points)," \
    "sequence $out/wave-seq1.obj .. wave-seq$(ls "$out"/wave-seq*.obj | wc -l).obj, model $out/wave.md3"
