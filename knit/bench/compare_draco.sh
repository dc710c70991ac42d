#!/usr/bin/env bash
# Compares knit with Debian's Draco command-line tools on the same generated OBJ files: knit at
# -g 12 (12-bit positions in the stream) against draco_encoder -qp 12 -cl 10. Prints, per mesh,
# both file sizes, the size ratio knit/draco and the ratio of the decode times (both tools
# reading their stream and writing an OBJ file). Installs the `draco` package when missing.
#
# usage: knit/bench/compare_draco.sh [build-dir] [--quick]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build="${1:-$root/build/release}"
quick=0
for arg in "$@"; do
    [ "$arg" = "--quick" ] && quick=1
done

if ! command -v draco_encoder >/dev/null || ! command -v draco_decoder >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y draco >/dev/null
fi
if [ ! -x "$build/knit/knit" ] || [ ! -x "$build/meshgen/meshgen" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWORK_TESTS=OFF \
        -DMESHWORK_BENCH=OFF >/dev/null
    cmake --build "$build" -j2 --target knit meshgen_tool >/dev/null
fi
knit="$build/knit/knit"
meshgen="$build/meshgen/meshgen"
work=$(mktemp -d /tmp/knit-draco-XXXXXX)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }

sizes="100000 1000000"
[ "$quick" -eq 1 ] && sizes="100000"
cases=()
for n in $sizes; do
    cases+=("sphere:$n:" "torus:$n:--irregular" "grid:$n:" "cylinder:$n:--irregular")
done
[ "$quick" -eq 0 ] && cases+=("torus:1000000:--quads")

printf "%-32s %10s %10s %8s %10s %10s %8s\n" mesh knit_bytes draco_bytes size_x \
    knit_dec_ms draco_dec_ms time_x
for c in "${cases[@]}"; do
    IFS=: read -r kind n flags <<<"$c"
    name="$kind $n ${flags#--}"
    obj="$work/in.obj"
    # shellcheck disable=SC2086
    "$meshgen" "$kind" "$n" "$obj" $flags >/dev/null 2>&1
    "$knit" -g12 "$obj" "$work/s.knit" >/dev/null 2>&1
    t0=$(now)
    "$knit" -g12 -o x "$work/s.knit" unused "$work/knit.obj" 2>/dev/null
    t1=$(now)
    draco_encoder -i "$obj" -o "$work/s.drc" -qp 12 -cl 10 >/dev/null
    t2=$(now)
    draco_decoder -i "$work/s.drc" -o "$work/draco.obj" >/dev/null
    t3=$(now)
    kb=$(stat -c %s "$work/s.knit")
    db=$(stat -c %s "$work/s.drc")
    kt=$(elapsed "$t0" "$t1")
    dt=$(elapsed "$t2" "$t3")
    printf "%-32s %10d %10d %8.3f %10s %10s %8.3f\n" "$name" "$kb" "$db" \
        "$(awk -v a="$kb" -v b="$db" 'BEGIN { print a / b }')" "$kt" "$dt" \
        "$(awk -v a="$kt" -v b="$dt" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
