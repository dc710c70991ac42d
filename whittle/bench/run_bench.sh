#!/usr/bin/env bash
# Simplifier benchmark with its peer: runs whittle's whole job on generated irregular tori of the
# given triangle counts (default 100000,1000000,4000000), then OpenMesh's quadric decimater on the
# same files down to the same final vertex count, and prints our time over its time (wall and
# CPU). The peer runs as often as whittle did on each mesh and its best times count, like ours:
# the machine's speed drifts from run to run, and the best of one peer run against the best of
# several of ours would favour us. Installs Debian's libopenmesh-dev when it is missing. The peer
# is never part of the project's build or tests.
#
# usage: whittle/bench/run_bench.sh [sizes]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
sizes=${1:-100000,1000000,4000000}
build="$root/build/bench-whittle"
data="${TMPDIR:-/tmp}/whittle-bench"
mkdir -p "$data"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWORK_TESTS=OFF \
    -DMESHWORK_BUILD_LOOM=OFF >/dev/null
cmake --build "$build" --target whittle_bench -j 2 >/dev/null

if ! dpkg -s libopenmesh-dev >/dev/null 2>&1; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
    $sudo apt-get install -y libopenmesh-dev >/dev/null
fi
c++ -O2 -DNDEBUG -std=c++17 "$root/whittle/bench/openmesh_peer.cpp" -o "$build/openmesh_peer" \
    -lOpenMeshTools -lOpenMeshCore

"$build/whittle/whittle_bench" --keep "$data" --sizes "$sizes" | while read -r line; do
    echo "$line"
    # whittle torus-irregular triangles T vertices V levels L collapses C base B best-of-N
    #   wall W s R triangles/s cpu U s Q triangles/s
    set -- $line
    triangles=$4 base=${12} runs=${13#best-of-} wall=${15} cpu=${20}
    peerWall="" peerCpu=""
    for ((run = 0; run < runs; ++run)); do
        peer=$("$build/openmesh_peer" "$data/torus_$triangles.obj" \
            "$data/torus_$triangles.peer.obj" "$base")
        echo "$peer"
        # openmesh triangles T vertices V wall W s cpu U s
        set -- $peer
        peerWall=$(awk -v a="$peerWall" -v b="$7" 'BEGIN { print (a == "" || b < a) ? b : a }')
        peerCpu=$(awk -v a="$peerCpu" -v b="${10}" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    echo "openmesh triangles $triangles best-of-$runs wall $peerWall s cpu $peerCpu s"
    awk -v t="$triangles" -v w="$wall" -v c="$cpu" -v pw="$peerWall" -v pc="$peerCpu" 'BEGIN {
        printf "ratio triangles %d whittle/openmesh wall %.3f cpu %.3f\n", t, w / pw, c / pc }'
    rm -f "$data/torus_$triangles.peer.obj"
done
