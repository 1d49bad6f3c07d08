# Header time fields missing or garbage: the log cannot be read right, so it
# must fail and stay, with a message. Each variant without and with -d.
variant() {  # NAME EXAMPLE SED-SCRIPT
  echo "=== $1: $3"
  for d in "" -d; do
    rm -rf f; mkdir f; sed "$3" "$EXAMPLES/$2" >f/$1.txt
    run trcforge $d --verbosity 5 f/$1.txt
    tree f
    if [ -z "$d" ]; then show f/$1.trc; cp f/$1.trc first.trc 2>/dev/null; else compare first.trc f/$1.trc; fi
  done
  rm -f first.trc
}
variant no_date_separator vorlat_beta_body.txt '/^# Time and date separator/d'
variant no_time_separator vorlat_beta_body.txt '/^# Time separator:/d'
variant garbage_time_alpha vorlat_alpha_engine.txt 's/^# Time: .*/# Time: garbage/'
variant garbage_time_gamma night_shift/vorlat_gamma_split01.txt 's/^# Time: .*/# Time: garbage/'
variant no_time_separator_gamma night_shift/vorlat_gamma_split01.txt '/^# Time separator:/d'
