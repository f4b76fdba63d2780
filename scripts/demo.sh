#!/usr/bin/env bash
# The main job: builds everything, starts the simulated scanner, and runs the
# example application against it; shows the library's log afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null

work=$(mktemp -d /tmp/zerik-demo-XXXXXX)
export ZERIK_DEVICE_DIR="$work/dev" ZERIK_LOG="$work/zerik_dll.log"
mkdir -m 700 "$ZERIK_DEVICE_DIR"

sleep 3600 | "$root/build/bin/zerik_sim" --dir "$ZERIK_DEVICE_DIR" > "$work/zerik_sim.out" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S "$ZERIK_DEVICE_DIR/ZERIK-0" ] && break; sleep 0.05; done

echo "== zerik_open against the simulated scanner"
"$root/build/bin/zerik_open" || true
echo "== library log ($ZERIK_LOG), GBK shown as UTF-8"
iconv -f GBK -t UTF-8 "$ZERIK_LOG"
