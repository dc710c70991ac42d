#!/usr/bin/env bash
# Runs the desktop program once under ThreadSanitizer: builds loom (and its unit tests) with
# -fsanitize=thread in a build folder of its own, then plays a GUI script under xvfb-run that
# keeps both viewers animating while the dialog loads, converts, subdivides and saves, moves the
# camera between viewers, closes and reopens a viewer and captures a picture. Reports inside the
# GUI, font and GL libraries are suppressed (tsan_desktop.supp); any other report fails the run
# (ThreadSanitizer's exit status 66). Not part of the default test run: it takes a few minutes
# to build.
#   loom/tsan_desktop.sh [BUILD_DIR]        (default: build/tsan)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/tsan}
jobs=${JOBS:-2}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DMESHWORK_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target loom loom_gui_tests

export GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
export TSAN_OPTIONS="suppressions=$root/loom/tsan_desktop.supp second_deadlock_stack=1"

echo "== loom_gui_tests under ThreadSanitizer =="
"$build/loom/loom_gui_tests" --gtest_brief=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/testdata/loom/wave*.obj "$work"
cat >"$work/script.txt" <<'EOF'
file wave1.obj
press Load OBJ sequence...
sync glance
key glance space
wait 300
select 1
press convert
sync basemesh
press loop
key basemesh 2 2
key basemesh g
wait 300
press loop
press subdivide
key basemesh 2 2 2
wait 200
file out-fine.obj
press save loop...
file out-seq.obj
press save seq
key basemesh f9
sync basemesh
key glance c
sync glance
drag glance left 320 240 400 200
key glance space
press convert
sync basemesh
close basemesh
press convert
sync basemesh
key basemesh g
wait 200
key glance 0
sync glance
exit
EOF

echo "== the desktop program under ThreadSanitizer =="
status=0
(cd "$work" && xvfb-run -a -s "-screen 0 1280x1024x24" "$build/loom/loom" --gui-script script.txt \
    >out.txt 2>err.txt) || status=$?
reports=$(grep -c "WARNING: ThreadSanitizer" "$work/err.txt" || true)
if [ "$status" -ne 0 ] || [ "$reports" -ne 0 ]; then
    cat "$work/err.txt"
    echo "ThreadSanitizer run failed: exit status $status, $reports reports"
    exit 1
fi
echo "no ThreadSanitizer reports; exit status 0"
