# A link named like the trace pointing at the log itself: the trace must not
# be written through it over the log. Without and with -d.
mkdir ref; cp "$EXAMPLES/vorlat_beta_body.txt" ref/b.txt; trcforge ref/b.txt
for d in "" -d; do
  rm -rf logs; mkdir logs; cp ref/b.txt logs; ln -s b.txt logs/b.trc
  run trcforge -X $d logs
  tree logs; compare ref/b.txt logs/b.txt; compare ref/b.trc logs/b.txt
done
