# The report never replaces a log the run converts or an output it writes,
# however its path reaches them (links, "..", -X, -O): such a run, and one
# with an empty report name, is refused before anything is converted (exit
# 129), with one line naming both.
mkdir card e e/sub out out/e_out; ln -s e link
small_log card/x.txt; small_log e/x.txt; small_log e/Y.TXT 2; small_log e/sub/z.txt 3
trcforge e
while read -r args; do run trcforge $args; done <<'ROWS'
-d -X -f candump --report=card/x.log card
-d --report=e_out/x.trc e
--report=e/x.txt e
-d --report=link/../e/sub/../x.txt e
--report=link/sub/z.txt e
-d -X --report=e/sub/z.trc e
-d --report=link/../e_out/Y.trc e
-d -O out --report=out/e_out/x.trc e
-d --report=e/x.trc e/x.txt
-d --report= e
ROWS
tree
# Beside the outputs, under another name, it goes ahead.
run trcforge -d --report=e_out/sub/z.json e
names
