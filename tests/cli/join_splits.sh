# Joined sessions (--join-splits): a session's split logs make one output
# named after the first split's; frames numbered on, offsets from the
# session's first frame. A missing, repeated or earlier split, a split of
# another session or logger between, or a split in another folder ends the
# chain (a warning names the first three in any run); a failed split adds no
# frame and the next one begins an output of its own; a split's frame
# earlier than the last one before it is skipped. -d removes a split only
# when the joined output is safe and the split lost nothing.
split() {  # FILE SPLIT [SESSION] [LOGGER] [FIRST-SECOND]: three frames a second apart
  printf '%s\n' "# Logger type: VorlatBeta" "# Logger ID: ${4:-L1}" "# Session No.: ${3:-7}" "# Split No.: $2" \
    "# Time: 20240115T093000" '# Value separator: ";"' '# Time separator: ":"' '# Time separator ms: "."' \
    "Timestamp;Type;ID;Length;Data" >"$1"
  local s=${5:-$((2 * $2))}
  for i in 0 1 2; do printf '09:30:%02d.%03d;0;%X;1;%02X\n' $((s + i)) $((10 * $2)) $((0x100 + $2)) $i >>"$1"; done
}
# The night session of the examples, and chains ended in every way.
mkdir -p a b/sub c d
cp "$EXAMPLES"/night_shift/*.txt a/
split b/s1.txt 1; split b/s2.txt 2; split b/s4.txt 4; split b/s5.txt 5; split b/s6.txt 5     # 3 missing, 5 repeated
split b/t1.txt 3 8; split b/t2.txt 1 8                                                         # goes back
split b/u1.txt 1 9; split b/u2.txt 1 9 L2; split b/u3.txt 2 9                                  # another logger between
split b/v1.txt 1 10; split b/sub/v2.txt 2 10                                                   # another folder
split c/w1.txt 1; split c/w2.txt 2; printf '\0\0\n09:30:09.000;0;1;1;00\n' >>c/w2.txt; split c/w3.txt 3  # fails
split d/x1.txt 1 11; split d/x2.txt 2 11 L1 3                                                  # earlier frames
run trcforge --verbosity 3 --join-splits a b c d
names a_out b_out c_out d_out
show a_out/vorlat_gamma_split01.trc b_out/s1.trc b_out/s4.trc b_out/s6.trc c_out/w1.trc c_out/w3.trc \
  d_out/x1.trc
# Without the join: one output each, and the same warnings.
rm -rf b_out; run trcforge --verbosity 3 b; names b_out
# -d: the chain with the failed split keeps it, and the split with skipped records.
rm -rf c_out d_out
run trcforge -d --join-splits --report=r.json c d
sed 's/,"seconds":[^,}]*//' r.json
names c d c_out d_out
show d_out/x1.trc
# Many sessions of large splits (read in chunks by several threads with -j):
# the same outputs for any number of jobs.
big() {  # FILE SESSION SPLIT: 120,000 frames a millisecond apart, the splits one after the other
  awk -v se="$2" -v sp="$3" 'BEGIN {
    printf "# Logger ID: BIG\n# Session No.: %d\n# Split No.: %d\n# Time: 20240611T070000\n", se, sp
    printf "# Value separator: \";\"\n# Time format: 3\n# Time separator: \":\"\n# Time separator ms: \".\"\n"
    printf "Timestamp;Type;ID;Length;Data\n"
    for (i = (sp - 1) * 120000; i < sp * 120000; i++)
      printf "%02d:%02d:%02d.%03d;1;%X;8;%016X\n", 7 + int(i / 3600000), int(i / 60000) % 60,
        int(i / 1000) % 60, i % 1000, 256 + i % 1536, i * se
  }' >"$1"
}
mkdir e; for se in 1 2; do for sp in 1 2 3; do big e/s$se-$sp.txt $se $sp; done; done
run trcforge --join-splits -f asc e
ls e_out; md5sum e_out/*.asc | sed 's/ .*\// /'
