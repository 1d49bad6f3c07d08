# Logs deep below the folder named on the command line, made with relative
# steps. One whose path just fits PATH_MAX while its trace's ("_out" longer)
# does not: it fails with a message and stays. One whose path is longer than
# PATH_MAX: it must not be skipped in silence under exit 0. Without and with
# -d. (Messages are cut at 510 characters.)
deep() {  # FOLDER EXTRA: a log at a path EXTRA characters over 4095 (PATH_MAX less its zero)
  local room=$((4095 + $2 - ${#PWD} - ${#1} - 1 - 9)) here=$PWD name
  mkdir "$1"; cd "$1"
  while [ $room -gt 201 ]; do name=$(printf 'n%.0s' {1..100}); mkdir $name; cd $name; room=$((room - 101)); done
  name=$(printf 'm%.0s' $(seq $((room - 1)))); mkdir $name; cd $name
  small_log deep.txt; cd "$here"
}
for d in "" -d; do
  rm -rf fits fits_out over over_out
  deep fits 0; small_log fits/a.txt 2
  run trcforge $d fits
  echo "logs left: $(find fits -name '*.txt' | sed 's#/.*/#/.../#' | sort | tr '\n' ' ')"
  deep over 300; small_log over/a.txt 2
  run trcforge $d over
  echo "logs left: $(find over -name '*.txt' | sed 's#/.*/#/.../#' | sort | tr '\n' ' ')"
  echo "traces: $(find fits_out over_out -name '*.trc' 2>/dev/null | sed 's#/.*/#/.../#' | sort | tr '\n' ' ')"
done
