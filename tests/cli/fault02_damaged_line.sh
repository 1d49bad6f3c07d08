# One damaged line in the middle of a log whose record times are only a time
# of day: random bytes, a zero byte inside the time or the data, a line longer
# than 199 bytes. The frames after it must keep their times. Each without and
# with -d; the trace against that of the undamaged log.
cp "$EXAMPLES/vorlat_alpha_engine.txt" clean.txt; trcforge clean.txt
line21=$(sed -n 21p clean.txt)
variant() {  # NAME, then the damaged line on standard input
  cat >line.bin
  echo "=== $1: $(cat -v line.bin | cut -c1-72)"
  for d in "" -d; do
    rm -rf f; mkdir f
    { head -n 20 clean.txt; cat line.bin; tail -n +21 clean.txt; } >f/$1.txt
    run trcforge $d --verbosity 3 f/$1.txt
    tree f/$1.txt; changes clean.trc f/$1.trc
  done
}
printf '\x1c\x6e\xcd\x36\xeb\x3b\x7c\xf8\x9c\xf3\x3e\x37\x61\xb9\x16\x66\xbc\x67\x6a\x5b\xb8\x09\x41\x13\xf4\xf0\x70\x77\x7c\x8b\x6e\x63\x1f\x4b\xc6\xe0\x01\x5b\x55\x2c\n' |
  variant random_bytes
{ printf '%s\0%s\n' "${line21:0:10}" "${line21:10}"; } | variant zero_in_time
{ printf '%s\0%s\n' "${line21:0:30}" "${line21:30}"; } | variant zero_in_data
printf '07:15:02.225;1;CF00400;8;F07D7DF82CFFF07D%s\n' "$(printf 'A%.0s' {1..250})" | variant long_line
{ printf '\r%.0s' {1..250}; printf '\n'; } | variant carriage_returns
