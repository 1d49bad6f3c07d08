# A folder link loop in the tree: each log must be converted once, not into
# nested copies. One link back to its own folder (and a link to itself, which
# cannot be followed), without and with -d; then two links (to the folder and
# to its parent), whose walk grows without bound today: bounded here by a
# timeout and a tree of two logs.
traces() {  # the count of traces, and where they are when at most 10
  local n; n=$(find logs_out -name '*.trc' | wc -l)
  echo "traces: $([ "$n" -le 100 ] && echo "$n" || echo "more than 100")"
  [ "$n" -le 10 ] && find logs_out -name '*.trc' | sort |
    awk '{ n = gsub(/self\//, ""); print "  " $0 (n ? " (below self/ " n " times)" : "") }'
}
setup() {
  rm -rf logs logs_out; mkdir -p logs/sub; ln -s . logs/self; ln -s loop.txt logs/loop.txt
  cp "$EXAMPLES/vorlat_beta_body.txt" logs/a.txt; cp "$EXAMPLES/vorlat_alpha_engine.txt" logs/sub/b.txt
}
for d in "" -d; do
  setup
  run trcforge $d --verbosity 3 logs 2>warnings.txt
  sed -E 's/^.* ([WE]) /\1 /' warnings.txt | uniq -c
  traces; tree logs
done
for d in "" -d; do
  setup; ln -s .. logs/sub/up
  echo "\$ timeout 2 trcforge ${d:+$d }--verbosity 0 logs"
  command_of trcforge $d --verbosity 0 logs; timeout 2 "${CMD[@]}"
  echo "still running after 2 s: $([ $? = 124 ] && echo yes || echo no)"
  traces; tree logs
done
