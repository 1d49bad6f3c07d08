# A small log in both trace versions, the version's names in any letter case,
# byte for byte; then the bundled examples. (Every read buffer kind is in the
# equivalence test.)
mkdir data && small_log data/a.txt
for args in "$PWD/data/a.txt" "--trace-format=version1 data/a.txt" "-fVERSION1 data/a.txt" \
    "-f Version2 data/a.txt -b 0"; do
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
