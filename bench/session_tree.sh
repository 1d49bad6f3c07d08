#!/usr/bin/env bash
# A folder of one logger session cut into split logs, for timing a joined run
# against an unjoined one: a generated log of SPLITS x SIZE is cut at record
# lines into SPLITS logs that keep its header, each with its own "Split No."
# (1, 2, ...), so that --join-splits makes one output of them all and its
# frames run on in time across every boundary (no record is skipped).
#
#   bench/session_tree.sh FOLDER            (64 splits of 16 MiB)
#   SPLITS=8 SIZE=1M bench/session_tree.sh FOLDER
#
# gen_log is taken from $GEN_LOG, else built in build-bench.
set -euo pipefail
folder=$(realpath -m "${1:?usage: bench/session_tree.sh FOLDER}")
gen_log=$(realpath -m "${GEN_LOG:-$(dirname "$0")/../build-bench/bench/gen_log}")
cd "$(dirname "$0")/.."

splits=${SPLITS:-64}
size=${SIZE:-16M}
if [ ! -x "$gen_log" ]; then
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-bench -j2 --target gen_log >/dev/null
fi

bytes=$(numfmt --from=iec "$size")
mkdir -p "$folder"
"$gen_log" --size $((bytes * splits)) --out "$folder/whole.log" >/dev/null
# The header and title go into every split; the records are dealt out in
# runs of equal count.
awk -v splits="$splits" -v folder="$folder" '
  FNR == NR { if (!titled) { header = header $0 "\n"; if ($0 !~ /^#/) titled = 1 } else records++; next }
  FNR == 1 { per = int((records + splits - 1) / splits); titled = 0 }
  !titled { if ($0 !~ /^#/) titled = 1; next }
  {
    split_no = int(n / per) + 1; n++
    if (split_no != current) {
      if (current) close(name)
      current = split_no
      name = sprintf("%s/session_split%02d.txt", folder, split_no)
      text = header; sub(/# Split No\.: [0-9]+/, "# Split No.: " split_no, text)
      printf "%s", text > name
    }
    print > name
  }' "$folder/whole.log" "$folder/whole.log"
rm "$folder/whole.log"
printf '%s split logs in %s\n' "$(ls "$folder" | wc -l)" "$folder"
