#!/usr/bin/env bash
# The main job: builds everything, then runs the road of one sheet: the simulated scanner
# feeds its built-in answer sheet, dspmon scans it into 000.prt, sheetsim, prtview and mapgen
# read it, and the marks and the barcode read are checked against the sheet that was drawn.
# Results stay in build/demo (pictures page.bmp and columns.bmp). An argument names a form
# description to draw instead (see the form.txt the run leaves in build/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null

exec "$root/scripts/road.sh" "$root/build" "$root/build/demo" "$@"
