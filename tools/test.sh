#!/usr/bin/env bash
# Builds gps-analyzer and runs every test: the suite, the suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, and the benchmark's
# smoke run. --quick runs the suite alone.
set -euo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
jobs="${JOBS:-$(nproc)}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGPSA_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

[ "${1:-}" = "--quick" ] && exit 0

echo "== tests/run-sanitized.sh"
tests/run-sanitized.sh
# 20 s for each fuzz target, as many at once as there are processors, keeps the whole run
# within 15 minutes on two cores.
echo "== tests/fuzz/run-fuzzers.sh"
tests/fuzz/run-fuzzers.sh "${GPSA_FUZZ_SECONDS:-20}"
