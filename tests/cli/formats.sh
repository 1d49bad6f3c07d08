# Every bundled example in each output format (the name in any letter case),
# byte for byte as the golden files in tests/golden/formats hold them, beside
# the traces; a log without frames leaves no output in any format.
cp -r "$EXAMPLES" ex
log_header ex/empty.txt
for format in asc CANDUMP Csv Blf; do run trcforge -f $format ex; done
names ex_out
rm ex_out/*.trc ex_out/night_shift/*.trc 2>/dev/null
diff -r ex_out "$EXAMPLES/../tests/golden/formats" && echo "every output as the golden files hold it"
run trcforge -f xml ex
