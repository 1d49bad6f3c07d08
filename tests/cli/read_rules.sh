# Each without and with -d: column titles the reader does not know, given twice or a missing column, DEL in a
# record, the start time before the first record (time formats 1 to 3, the first record a minute, an
# hour, a day on), frames before 1970, non-increasing times, blank lines of 50 and 300 CRs.
header() { log_header h.txt; sed -i "s/^# Time: .*/# Time: $1/" h.txt; [ -z "$2" ] || echo "# Time format: $2" >>h.txt; }
both() {  # TITLE RECORD-LINE...: a log x.txt converted to CSV, then with -d
  rm -rf d; mkdir d
  grep '^#' h.txt >d/x.txt; printf '%s\n' "$@" >>d/x.txt
  echo "== $(printf '%s|' "$@" | tr '\r\177' 'R?' | cut -c1-100)"
  run trcforge --verbosity 3 -f csv d/x.txt; show d/x.csv; rm -f d/x.csv
  run trcforge -d -f csv d/x.txt; tree d
}
header 20240115T093000
good="09:30:01.123;1;18FEF100;8;1122334455667788"
for title in "Timestamp;Type;ID;DLC;Payload" "Timestamp;Typ;ID;Length;Data" "Type;ID;Length;Data" \
    "Timestamp ;Type ;ID ;Length ;Data" "Timestamp;Type;ID;Length;Data;"; do
  both "$title" "$good"
done
both "Timestamp;Type;ID;Length;Data;Data" "09:30:01.123;1;18FEF100;8;1122334455667788;8877665544332211"
both "Timestamp;Lost;Bus;Type;ID;Length;Data;Note" "09:30:01.123;0;2;1;18FEF100;8;1122334455667788;x"
both "Timestamp;Type;ID;Length;Data" "09:30:01.000;0;123;1;11" $'09:30:02.000;0;124;2;11\1772'
for format in 1 2 3; do
  header 20240305T235959 $format
  both "Timestamp;Type;ID;Length;Data" "$(echo "00:00:00.100" | cut -c$((10 - 3 * format))-);0;100;1;00"
done
header 19691231T235958
both "Timestamp;Type;ID;Length;Data" "23:59:59.000;0;100;1;00" "00:00:00.500;0;101;1;01"
header 20240115T093000
both "Timestamp;Type;ID;Length;Data" "09:30:05.000;0;100;1;00" "09:30:04.500;0;101;1;01" "09:30:06.000;0;102;1;02" \
  "09:30:05.500;0;103;1;03" "09:30:05.600;0;104;1;04" "09:30:05.700;0;105;1;05"
for n in 50 300; do
  echo "-- a line of $n carriage returns"
  both "Timestamp;Type;ID;Length;Data" "09:30:05.000;0;100;1;00" "$(head -c $n /dev/zero | tr '\0' '\r')" \
    "09:30:06.000;0;102;1;02"
done
