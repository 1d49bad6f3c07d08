#!/usr/bin/env bash
# A single text log larger than 4 GiB converts in full: positions past 4 GiB
# are read and written like any other (not part of CI: it needs about 13 GB
# of free disk in the work folder and a few minutes).
#
#   bench/big_file.sh [work-folder]      (default: a new folder under /tmp)
#   SIZE=4300M BUILD=build bench/big_file.sh
#   SIZE=20M SMALL_OK=1 bench/big_file.sh   (a quick trial of the script)
#
# Checks, each printed with its numbers:
# - the trace has one line per record the generator wrote, plus the three
#   header lines, and its last line carries that record count as its number;
# - its first lines equal the trace of a smaller log cut from the start of
#   the big one (the same records, so the same lines byte for byte);
# - its last lines, past the 4 GiB mark of the input, match the trace of a
#   log made of the header and the last records alone: the same fields, and
#   the same times relative to the first of them (to the rounding of the
#   last decimal).
# Exits 0 when every check holds, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

size=${SIZE:-4300M}
build=${BUILD:-build}
tail_records=${TAIL_RECORDS:-2000}
work=${1:-$(mktemp -d /tmp/trcforge-big-XXXXXX)}
mkdir -p "$work"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target trcforge gen_log >/dev/null
trcforge=$build/app/trcforge

echo "work folder: $work"
df -h "$work" | tail -n 1

echo "== generating $size (layout 0: time of day, day wraps)"
generated=$("$build/bench/gen_log" --size "$size" --layout 0 --seed 42 --out "$work/big.txt")
echo "$generated"
records=$(sed -n 's/.*records=\([0-9]*\).*/\1/p' <<<"$generated")
bytes=$(stat -c %s "$work/big.txt")
if ((bytes <= 4294967296)) && [ -z "${SMALL_OK:-}" ]; then
  echo "FAIL: the log is only $bytes bytes, not above 4 GiB"
  exit 1
fi

echo "== converting"
start=$(date +%s.%N)
status=0
"$trcforge" --verbosity 3 "$work/big.txt" 2>"$work/big.err" || status=$?
end=$(date +%s.%N)
echo "exit status $status, $(wc -l <"$work/big.err") diagnostic lines, $(echo "$end - $start" | bc) s"
ok=1
if [ "$status" -ne 0 ]; then echo "FAIL: exit status $status"; head "$work/big.err"; ok=0; fi

lines=$(wc -l <"$work/big.trc")
last_number=$(tail -n 1 "$work/big.trc" | awk '{print $1}')
echo "input bytes $bytes, records $records; trace bytes $(stat -c %s "$work/big.trc"), lines $lines, last line number $last_number"
if [ "$lines" -ne $((records + 3)) ]; then echo "FAIL: expected $((records + 3)) lines"; ok=0; fi
if [ "$last_number" != "$records" ]; then echo "FAIL: expected last number $records"; ok=0; fi

echo "== the first lines against a conversion of the log's first 64 MiB"
header_lines=$(grep -c '^#' <(head -n 40 "$work/big.txt"))
head -c 67108864 "$work/big.txt" | sed '$d' >"$work/head.txt"  # whole lines only
"$trcforge" "$work/head.txt"
head_lines=$(wc -l <"$work/head.trc")
if cmp -s "$work/head.trc" <(head -n "$head_lines" "$work/big.trc"); then
  echo "first $head_lines lines identical"
else
  echo "FAIL: the first $head_lines lines differ"; ok=0
fi

echo "== the last $tail_records lines against a conversion of the header and the last records"
{ head -n $((header_lines + 1)) "$work/big.txt"; tail -n "$tail_records" "$work/big.txt"; } >"$work/tail.txt"
tail_offset=$(( $(stat -c %s "$work/big.txt") - $(tail -n "$tail_records" "$work/big.txt" | wc -c) ))
echo "the last records start at input byte $tail_offset"
"$trcforge" "$work/tail.txt"
if awk -v n="$tail_records" '
    function rest(    i, text) { text = $3; for (i = 4; i <= NF; ++i) text = text " " $i; return text }
    NR == FNR { if (FNR > 3) { small_offset[FNR - 3] = $2; small_rest[FNR - 3] = rest() }; next }
    { big_offset[FNR] = $2; big_rest[FNR] = rest(); big_number[FNR] = $1 }
    END {
      if (FNR != n || length(small_rest) != n) { print "FAIL: " length(small_rest) " tail lines"; exit 1 }
      for (i = 1; i <= n; ++i) {
        if (small_rest[i] != big_rest[i]) { print "FAIL: line " big_number[i] " differs: " big_rest[i] " / " small_rest[i]; exit 1 }
        d = (big_offset[i] - big_offset[1]) - small_offset[i]
        if (d > 0.0011 || d < -0.0011) { print "FAIL: line " big_number[i] " time differs by " d " ms"; exit 1 }
      }
      print "lines " big_number[1] " to " big_number[n] ": same fields and relative times"
    }' "$work/tail.trc" <(tail -n "$tail_records" "$work/big.trc"); then
  :
else
  ok=0
fi

if ((ok)); then echo "PASS"; else echo "FAIL"; fi
if [ -z "${KEEP:-}" ] && [ $# -eq 0 ]; then rm -rf "$work"; fi
((ok))
