#!/usr/bin/env bash
# Builds the recognition fuzz targets with clang and libFuzzer and runs each one for a bounded
# time (FUZZ_SECONDS, default 20). Fails when a target finds a crash, a leak or a time-out.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-20}
targets=(fuzz_page_files fuzz_mark_cut fuzz_decoder)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZERIK_BUILD_FUZZ=ON \
    -DZERIK_BUILD_TESTS=OFF -DZERIK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" fuzz_seeds
"$build/bin/fuzz_seeds" "$build/fuzz-seeds"

status=0
for target in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target for ${seconds}s"
    if ! "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$build/fuzz-seeds/$target" 2>"$build/$target.log"; then
        echo "!! $target found a problem; see $build/$target.log and $artifacts" >&2
        tail -n 40 "$build/$target.log" >&2
        status=1
    else
        grep -E "stat::number_of_executed_units|cov:" "$build/$target.log" | tail -n 2
    fi
done
exit $status
