#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# New inputs go to build-fuzz/corpus/<target>; the seeds in fuzz/corpus are not touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_history fuzz_desktop_entry fuzz_kernel_text)
if [ -z "${FUZZ_SKIP_BUILD:-}" ]; then
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKMB_FUZZ=ON -DKMB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
fi
[ "$seconds" = 0 ] && exit 0
for t in "${targets[@]}"; do
  seeds="$root/fuzz/corpus/${t#fuzz_}"
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/findings/$t"
  echo "== $t for ${seconds}s"
  "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=2048 \
    -max_len=1048576 -artifact_prefix="$build/findings/$t/" "$work" "$seeds"
done
