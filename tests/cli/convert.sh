# A small log in both trace versions, every spelling of the version and every
# kind of read buffer, byte for byte; then the bundled examples.
mkdir data && small_log data/a.txt
for args in "$PWD/data/a.txt" "--trace-format=version1 data/a.txt" "-fVERSION1 data/a.txt" \
    "-f Version2 data/a.txt -b 0" "-b -1 data/a.txt" "-b 1 data/a.txt" "-b 7 data/a.txt" \
    "-b 64KB data/a.txt" "-b 0x10 data/a.txt -f version1"; do
  rm -f data/a.trc
  run trcforge_bare $args
  show data/a.trc
done
cp -r "$EXAMPLES" examples
run trcforge --verbosity 5 examples
tree examples_out
show examples_out/vorlat_beta_body.trc examples_out/night_shift/vorlat_gamma_split01.trc
run trcforge -f version1 -O examples_out examples/vorlat_alpha_engine.txt
show examples_out/vorlat_alpha_engine.trc
