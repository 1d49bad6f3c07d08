# Started with standard input and standard error closed: the trace must not
# take descriptor 2 and get the diagnostic lines written into it. The log
# repeats a record, which gives a warning at verbosity 3. Without and with -d.
{ head -n 20 "$EXAMPLES/vorlat_beta_body.txt"; sed -n 18p "$EXAMPLES/vorlat_beta_body.txt"
  tail -n +21 "$EXAMPLES/vorlat_beta_body.txt"; } >ref.txt
trcforge --verbosity 3 ref.txt
for d in "" -d; do
  rm -rf d; mkdir d; cp ref.txt d/b.txt
  echo "\$ trcforge ${d:+$d }--verbosity 3 d/b.txt <&- 2>&-"
  trcforge $d --verbosity 3 d/b.txt <&- 2>&-; echo "[exit $?]"
  tree d; changes ref.trc d/b.trc
done
