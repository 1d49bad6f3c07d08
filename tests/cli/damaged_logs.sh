# Logs damaged by a power loss, converted with -d. Cut off: in the header (no
# log), in the title line (no records), in the last record (the whole records
# come out, the cut one as far as it goes). Padded with zero bytes to the
# length the file system kept: the zeros end the records. Zero bytes with
# records after them (a lost block in the middle): the log fails and stays.
# Every read buffer kind (so the bare binary, without the extra arguments).
gen_log whole.txt 3
title=$(grep -b -m1 '^Timestamp' whole.txt | cut -d: -f1)
last=$(grep -b '^07:00:00.002' whole.txt | cut -d: -f1)
for cut in $((title - 9)) $((title + 12)) $((last + 5)) $((last + 20)) $(($(stat -c %s whole.txt) - 1)); do
  head -c "$cut" whole.txt >c.txt
  echo "== cut at $cut: $(tail -c 20 c.txt | tr '\n' '|')"
  run trcforge -d c.txt
  show c.trc; tree c.txt; rm -f c.trc
done
gen_log p.txt 50; trcforge p.txt; mv p.trc ref.trc
head -c $(grep -b '^07:00:00.020' p.txt | cut -d: -f1) p.txt >before.txt; trcforge before.txt
for b in -1 0 64; do
  { cat p.txt; head -c 65536 /dev/zero; } >d.txt
  run trcforge_bare -d -b "$b" d.txt
  compare ref.trc d.trc; tree d.txt
  { cat before.txt; head -c 4096 /dev/zero; tail -n +30 p.txt; } >m.txt
  run trcforge_bare -d -b "$b" m.txt
  compare before.trc m.trc; tree m.txt
done
