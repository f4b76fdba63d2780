#!/usr/bin/env bash
# The road of one sheet: the simulated scanner feeds its answer sheet, dspmon scans it into
# 000.prt, sheetsim reads the marks and the barcode, prtview draws the page and the column
# chart and lists the events, mapgen reads the marks again from the column chart's 1.41.
# Then every reading is compared with the sheet that was rendered.
#
#   scripts/road.sh BUILD_DIR WORK_DIR [FORM]
#
# BUILD_DIR holds bin/ with the programs; WORK_DIR (created, emptied of earlier results) gets
# every file of the road; FORM is a form description for zerik_sim --form (default: the
# built-in sheet). Exit status 0 when everything read matches the rendered sheet, 1 when
# something differs, 2 when a step failed.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_DIR WORK_DIR [FORM]" >&2
  exit 2
fi
bin=$(cd "$1/bin" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
form_args=()
[ $# -ge 3 ] && form_args=(--form "$(cd "$(dirname "$3")" && pwd)/$(basename "$3")")

fail() { echo "road: $*" >&2; exit 2; }
step() { printf '\n== %s\n' "$*"; }

cd "$work"
rm -rf dev ./*.prt ./*.bmp ./*.map 1.41 ./*.out ./*.log
mkdir -m 700 dev
# A private device folder and log: several roads can run at once.
export ZERIK_DEVICE_DIR="$work/dev" ZERIK_LOG="$work/zerik_dll.log"

step "zerik_sim: the simulated scanner, with its answer sheet"
"$bin/zerik_sim" --dir "$ZERIK_DEVICE_DIR" --write-demo-files "$work" "${form_args[@]}" \
  < /dev/null > zerik_sim.out 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 200); do
  [ -S "$ZERIK_DEVICE_DIR/ZERIK-0" ] && break
  kill -0 "$sim" 2>/dev/null || { cat zerik_sim.out >&2; fail "zerik_sim ended"; }
  sleep 0.05
done
[ -S "$ZERIK_DEVICE_DIR/ZERIK-0" ] || fail "zerik_sim did not come up"
columns=$(( $(head -n 1 c5502.par) - 1 ))
rows=$(grep -c '^[0-9]*: ' expected.txt)
echo "serving $ZERIK_DEVICE_DIR/ZERIK-0; sheet: $rows rows of $columns mark columns" \
     "($(wc -l < form.txt) lines of form.txt), c5502.par, red.tbl, blue.tbl, posi.asc, stop.asc"

step "dspmon: w (tables and positions), g (scan one sheet), q"
# dspmon runs the viewer command \"b 000.prt\" after a scan; there is none here, so its
# complaint goes to dspmon.err with the rest of standard error.
printf 'w\ng\nq\n' | "$bin/dspmon" > dspmon.out 2> dspmon.err || true
tr '\r' '\n' < dspmon.out | grep -v '^-*$' | sed 's/^-*//' || true
[ -s 000.prt ] || fail "dspmon saved no 000.prt"
lines=$(( $(stat -c %s 000.prt) / 1728 ))
# The device sends the whole sheet; the page assembly keeps all but its last three lines.
if cmp -s 000.prt <(head -c "$(( ($(stat -c %s sheet.raw) / 1728 - 3) * 1728 ))" sheet.raw); then
  page_check="the page as rendered, less its last 3 lines"
else
  page_check="DIFFERS from the rendered page"
fi
echo "000.prt: $lines lines of 1728 bytes, $page_check"

step "sheetsim 000.prt"
"$bin/sheetsim" 000.prt > sheetsim.out || fail "sheetsim failed"
grep -v '^[0-9]*: ' sheetsim.out | sed '/^$/d'
[ -s j00.prt ] || fail "sheetsim wrote no j00.prt"

step "prtview j00.prt 1 (page picture), 2 (column chart and 1.41), 3 (events)"
"$bin/prtview" j00.prt 1 > prtview1.out && mv j00.bmp page.bmp
"$bin/prtview" j00.prt 2 > prtview2.out && mv j00.bmp columns.bmp
"$bin/prtview" j00.prt 3 > prtview3.out
[ -s page.bmp ] && [ -s columns.bmp ] && [ -s 1.41 ] || fail "prtview wrote no pictures"
echo "page picture $work/page.bmp, column chart $work/columns.bmp, 1.41"

step "mapgen (1.41 -> 001.map)"
"$bin/mapgen" > mapgen.out || fail "mapgen failed"
[ -s 001.map ] || fail "mapgen wrote no 001.map"
grep -v '^[0-9]*: \|^=*$' mapgen.out | sed '/^$/d'

# Row lines ("NN: " and a three-character field per mark column, blank or a hex mark code)
# as one character per column: X = grade 10..15, h = grade 3..9, . = no mark, ? = other.
marks() {
  awk -v n="$columns" '
    function hex(s,   i, v) { v = 0; s = tolower(s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v }
    match($0, /^[0-9][0-9]+: /) {
      row = substr($0, 1, RLENGTH - 2) + 0; out = ""
      for (c = 0; c < n; c++) {
        f = substr($0, RLENGTH + 1 + 3 * c, 3); gsub(/ /, "", f)
        if (f == "" || hex(f) == 0) out = out "."
        else if (f !~ /^[0-9a-fA-F][0-9a-fA-F]$/) out = out "?"
        else if (hex(f) % 16 >= 10) out = out "X"
        else if (hex(f) % 16 >= 3) out = out "h"
        else out = out "?"
      }
      printf "%02d %s\n", row, out }' "$1"
}
sed -n 's/^\([0-9][0-9]*\): /\1 /p' expected.txt > expected.rows
marks sheetsim.out > sheetsim.rows
marks prtview3.out > prtview.rows
marks mapgen.out > mapgen.rows
expected_bar=$(sed -n 's/^& //p' expected.txt)
sheetsim_bar=$(sed -n 's/^& \([0-9]*\) [-0-9]*_[-0-9]*: /\1 /p' sheetsim.out)
prtview_bar=$(sed -n 's/^err: .*bar: \([0-9]*\)   /\1 /p' prtview3.out)

step "the marks read in each row (X filled, h half-filled, . none), against the sheet"
group() { sed 's/\(.....\)/\1 /g; s/ $//'; }
printf '%-4s %-28s %-28s %s\n' row "read by sheetsim" "drawn on the sheet" "prtview/mapgen"
differences=0
while read -r row drawn; do
  read_s=$(awk -v r="$row" '$1 == r { print $2 }' sheetsim.rows)
  read_p=$(awk -v r="$row" '$1 == r { print $2 }' prtview.rows)
  read_m=$(awk -v r="$row" '$1 == r { print $2 }' mapgen.rows)
  verdict="same"
  if [ "$read_s" != "$drawn" ] || [ "$read_p" != "$drawn" ] || [ "$read_m" != "$drawn" ]; then
    verdict="DIFFERENT (prtview ${read_p:-none}, mapgen ${read_m:-none})"
    differences=$((differences + 1))
  fi
  printf '%-4s %-28s %-28s %s\n' "$row" "$(echo "${read_s:--}" | group)" "$(echo "$drawn" | group)" "$verdict"
done < expected.rows
extra=$(awk 'NR == FNR { want[$1] = 1; next } !($1 in want)' expected.rows sheetsim.rows | wc -l)
if [ "$extra" -ne 0 ]; then
  echo "sheetsim read $extra rows that the sheet does not have"
  differences=$((differences + extra))
fi

step "barcode"
printf 'drawn:    %s\nsheetsim: result %s\nprtview:  result %s\n' "${expected_bar:-(none)}" \
  "${sheetsim_bar:-(none)}" "${prtview_bar:-(none)}"
if [ -n "$expected_bar" ]; then
  [ "$sheetsim_bar" = "0 $expected_bar" ] || differences=$((differences + 1))
  [ "$prtview_bar" = "0 $expected_bar" ] || differences=$((differences + 1))
fi
[ "$page_check" = "the page as rendered, less its last 3 lines" ] || differences=$((differences + 1))

step "result"
echo "files in $work: 000.prt, j00.prt, page.bmp, columns.bmp, 1.41, 001.map"
if [ "$differences" -eq 0 ]; then
  echo "everything read matches the rendered sheet: $rows rows, barcode ${expected_bar:-none}"
  exit 0
fi
echo "$differences DIFFERENCES between the rendered sheet and what was read"
exit 1
