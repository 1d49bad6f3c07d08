# Two cards whose logs have the same names, converted into one server folder
# one after the other: the second must not overwrite the traces of the
# first, whose logs are gone. Without and with -d.
mkdir -p ref card1/logs card2/logs srv
cp "$EXAMPLES/vorlat_alpha_engine.txt" ref/card1.txt; cp "$EXAMPLES/vorlat_beta_body.txt" ref/card2.txt
trcforge ref/card1.txt ref/card2.txt
for d in "" -d; do
  rm -rf srv/*; cp ref/card1.txt card1/logs/log.txt; cp ref/card2.txt card2/logs/log.txt
  run trcforge $d -O srv card1/logs
  run trcforge $d -O srv card2/logs
  tree card1 card2 srv; compare ref/card1.trc srv/logs_out/log.trc; compare ref/card2.trc srv/logs_out/log.trc
done
