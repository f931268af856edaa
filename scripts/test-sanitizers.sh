#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UBSan into build-asan/ and runs the unit and
# widget tests under it; leaks count as failures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$root/build-asan}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKMB_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kmb_core_tests kmb_ui_tests
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
ctest --output-on-failure --timeout 600 -j2 -L 'unit|widget'
