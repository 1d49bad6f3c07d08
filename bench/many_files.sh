#!/usr/bin/env bash
# Memory against the number of files: a tree of 100,000 small logs in nested
# folders converts with the same peak memory as a tree of 10,000, since the
# walk holds only one listing per folder level (not part of CI).
#
#   bench/many_files.sh [work-folder]      (default: a new folder under /tmp)
#   BUILD=build bench/many_files.sh
#
# Both trees have the same shape per level (top folders of 10 sub-folders of
# 100 logs each; 10 top folders for 10,000 logs, 100 for 100,000), so one
# listing is never wider than 100 entries. Peak resident memory is taken by
# bench/measure_run.cc, which reports the command's own peak, not its
# parent's. Prints both runs and exits 0 when the larger tree's peak is
# within 10% (or 1 MiB) of the smaller one's and every trace was written.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build}
work=${1:-$(mktemp -d /tmp/trcforge-many-XXXXXX)}
mkdir -p "$work"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target trcforge >/dev/null
trcforge=$(pwd)/$build/app/trcforge
g++ -O2 -o "$work/measure_run" bench/measure_run.cc

# make_tree FOLDER TOP: TOP x 10 x 100 logs, each with its own split number.
make_tree() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import os, sys
root, top = sys.argv[1], int(sys.argv[2])
head = ("# Logger type: VorlatBeta\n# Logger ID: L{n}\n# Session No.: 1\n# Split No.: {n}\n"
        "# Time: 20240115T093000\n# Value separator: \";\"\n# Time separator: \":\"\n"
        "# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n"
        "09:30:01.123;0;123;8;1122334455667788\n09:30:02.623;9;18FEF100;3;A00BFF\n")
n = 0
for t in range(top):
    for s in range(10):
        folder = os.path.join(root, "t%03d" % t, "s%02d" % s)
        os.makedirs(folder)
        for f in range(100):
            n += 1
            with open(os.path.join(folder, "log%03d.txt" % f), "w") as out:
                out.write(head.format(n=n))
print(n)
PY
}

ok=1
declare -A peak
for count in 10000 100000; do
  top=$((count / 1000))
  tree="$work/tree$count"
  made=$(make_tree "$tree" "$top")
  (cd "$work" && ./measure_run "result$count" "$trcforge" "tree$count")
  result=$(cat "$work/result$count")
  traces=$(find "$work/tree${count}_out" -name '*.trc' | wc -l)
  echo "$made logs: $result traces=$traces"
  peak[$count]=$(sed -n 's/.*maxrss_kib=\([0-9]*\).*/\1/p' <<<"$result")
  if ! grep -q 'status=0' <<<"$result" || [ "$traces" -ne "$count" ]; then ok=0; fi
  rm -rf "$tree" "$work/tree${count}_out"
done

small=${peak[10000]}
large=${peak[100000]}
allowed=$((small / 10 > 1024 ? small / 10 : 1024))
echo "peak RSS: 10,000 logs ${small} KiB, 100,000 logs ${large} KiB (growth $((large - small)) KiB, allowed ${allowed} KiB)"
if ((large - small > allowed)); then ok=0; fi
if ((ok)); then echo "PASS"; else echo "FAIL"; fi
if [ $# -eq 0 ]; then rm -rf "$work"; fi
((ok))
