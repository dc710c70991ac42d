#!/usr/bin/env bash
# Builds and runs every test twice: a warnings-as-errors build, then a build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/bootstrap.sh"

jobs=$(nproc)
export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1

run_suite() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -DMESHWORK_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== tests =="
run_suite "$root/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DMESHWORK_SANITIZE=ON \
    -DMESHWORK_BENCH=OFF
echo "all tests passed"
