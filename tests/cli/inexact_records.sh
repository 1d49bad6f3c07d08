# Inexact records, each kind alone (a.txt) and between good lines (b.txt): the frame of every format,
# the warning, the report's count, the logs kept by -d ("0x123" is exact); time fields that are not the
# time they say (2^33 s is where six decimals stop being exact); then the candump lines of identifiers beyond 11 bits as
# python-can and log2asc read them.
frames() { case $1 in *.asc) sed -n '/Start of measurement/,/End TriggerBlock/{//!p}' "$1" ;;
  *.csv) tail -n +2 "$1" ;; *) grep -v '^;' "$1" ;; esac; }
kinds=("09:30:02.000;1;18FEF1" "09:30:02.000;0;123;1;11;X" "09:30:02.000;0;12G;1;11" "09:30:02.000;0;0x123;1;11"
  "09:30:02.000;0;;0;" "09:30:02.000;0;123;1x;11" "09:30:02.000;0;123;4;11 22 33 44" "09:30:02.000;0;123;3;AABBC"
  "09:30:02.000;1;18FEF100;8;1122334455667788AABB" "09:30:02.000;0;123;8;1122" "09:30:02.000;10;123;1;11"
  "09:30:02.000;2;123;1;11" "09:30:02.000;0;800;1;11" "09:30:02.000;8;FFF;1;11" "09:30:02.000;0;1000;1;11"
  "09:30:02.000;1;3FFFFFFF;1;11" "09:30:02.000;9;123456789;1;11")
for kind in "${kinds[@]}"; do
  echo "=== $kind"
  rm -rf d d_out; mkdir d
  log_header d/a.txt; echo "$kind" >>d/a.txt
  log_header d/b.txt 2; printf '%s\n' "09:30:01.000;0;100;1;00" "$kind" "09:30:03.000;9;18FEF100;2;AABB" >>d/b.txt
  run trcforge --verbosity 3 --report=r.json d
  grep -o '"inexact_records":[0-9]*' r.json | tr '\n' ' '; echo
  for format in version1 version2 asc candump csv; do
    trcforge -f $format d 2>/dev/null
    for f in d_out/*; do echo "$format ${f#d_out/}: $(frames "$f" | tr '\n' '|')"; done
    rm -rf d_out
  done
  run trcforge -d d
  tree d
done
echo "=== several kinds in one log"
log_header m.txt; printf '%s\n' "09:30:01.000;0;100;1;00" "09:30:01.500;0;7FF;1;00" "${kinds[@]:4:3}" >>m.txt
run trcforge --verbosity 3 -d m.txt
tree m.txt
echo "=== time fields (the whole date without separators is exact)"
for field in "" "9:30:02.000" "09:30:2.000" "09:30:02.5" "09:30:02.1234" "09:75:02.000" "24:00:02.000" \
    "09::30:02.000" "20240115093002000" "20240230093002000" "22420316125632000" "22420316125631999"; do
  log_header t.txt; printf '%s\n' "$field;0;101;1;01" >>t.txt
  echo "-- $field"; run trcforge --verbosity 3 -d -f csv t.txt; tail -n +2 t.csv; tree t.txt; rm -f t.csv
done
echo "-- fields that differ from the one before in their last digits only: 5 inexact, the first at line 10"
log_header t.txt; printf '%s;0;101;1;01\n' 09:30:01.000 9:40:00.000 9:40:00.500 09:75:02.000 09:75:02.500 09:76:03.000 >>t.txt
run trcforge --verbosity 3 t.txt
echo "=== read back"
log_header ids.txt; printf '%s\n' "${kinds[@]:12:5}" >>ids.txt
trcforge -f candump ids.txt
/usr/bin/python3 -c 'import can
for m in can.CanutilsLogReader("ids.log"): print(hex(m.arbitration_id), m.is_extended_id, m.data.hex())'
log2asc -I ids.log -O ids.asc can0 && tail -n +4 ids.asc
