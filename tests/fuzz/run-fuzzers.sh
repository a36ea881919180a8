#!/bin/sh
# Builds the libFuzzer targets in a build folder of their own and runs each for SECONDS
# (60 when not given), one after the other, printing the executions of each target.
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
targets="fuzz_portreading fuzz_commandcomposer fuzz_renderings fuzz_framers fuzz_commandframes fuzz_sessionindexline"

generator=
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DGPSA_FUZZ=ON -DBUILD_TESTING=OFF -DGPSA_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets

status=0
for target in $targets; do
    corpus="$build/corpus/$target"
    artifacts="$build/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    log="$build/$target.log"
    result=clean
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$target" \
        >"$log" 2>&1 || { result=FAILED; status=1; }
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "$target: ${executions:-?} executions in ${seconds} s, $result"
    if [ "$result" = FAILED ]; then
        tail -n 40 "$log"
        ls "$artifacts"
    fi
done
exit $status
