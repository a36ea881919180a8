#!/bin/sh
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a build folder
# of its own and runs the whole test suite there. Any sanitizer report fails its test.
#
#   tests/run-sanitized.sh
#
# GPSA_SANITIZE_BUILD names the build folder (build-sanitize in the source tree by default).
# The flood test streams GPSA_FLOOD_MIB MiB (16 here unless set), as the sanitizers slow
# every byte down.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${GPSA_SANITIZE_BUILD:-$root/build-sanitize}

generator=
if command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DGPSA_SANITIZE=ON -DGPSA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1}
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
GPSA_FLOOD_MIB=${GPSA_FLOOD_MIB:-16}
export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS GPSA_FLOOD_MIB

cd "$build"
ctest --output-on-failure --timeout 600
