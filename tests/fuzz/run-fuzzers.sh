#!/bin/sh
# Builds the libFuzzer targets in a build folder of their own and runs each for SECONDS
# (60 when not given), as many at once as there are processors, printing the executions of
# each target.
# A crash, a sanitizer report or a broken property fails the run and leaves the input
# that caused it in the build folder.
#
#   tests/fuzz/run-fuzzers.sh [SECONDS]
#
# GPSA_FUZZ_BUILD names the build folder (build-fuzz in the source tree by default).
set -eu

seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${GPSA_FUZZ_BUILD:-$root/build-fuzz}
targets="fuzz_portreading fuzz_commandcomposer fuzz_renderings fuzz_framers fuzz_decoders fuzz_commandframes fuzz_sessionindexline"

generator=
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DGPSA_FUZZ=ON -DBUILD_TESTING=OFF -DGPSA_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

# Runs one target; its verdict goes to its own file, read once every target has run.
fuzz() {
    target=$1
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    log="$build/$target.log"
    result=clean
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$target" \
        >"$log" 2>&1 || result=FAILED
    echo "$result" >"$build/$target.result"
}

# As many targets at once as there are processors: each target is one process.
jobs=$(nproc 2>/dev/null || echo 1)
running=0
for target in $targets; do
    fuzz "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait
        running=0
    fi
done
wait

status=0
for target in $targets; do
    result=$(cat "$build/$target.result" 2>/dev/null || echo FAILED)
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$target.log" | tail -n 1)
    echo "$target: ${executions:-?} executions in ${seconds} s, $result"
    if [ "$result" = FAILED ]; then
        status=1
        tail -n 40 "$build/$target.log"
        ls "$build/artifacts/$target/"
    fi
done
exit $status
