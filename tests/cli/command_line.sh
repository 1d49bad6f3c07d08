# Every exit status of the command line, the help, the version and the parse
# errors (on standard output). The bare binary: the arguments are the subject.
mkdir d empty empty/sub csv
small_log d/good.txt; bad_log d/bad.txt; echo x >d/notes.csv; echo x >csv/notes.csv
mkfifo d/pipe.txt
while read -r args; do
  rm -f d/good.trc
  run trcforge_bare $args
  [ -e d/good.trc ] && echo "(wrote d/good.trc)"
done <<'ROWS'
d/good.txt d/notes.csv
d//good.txt d/notes.csv
empty csv
d/good.txt d/missing.txt
d/good.txt d/bad.txt
d/missing.txt d/bad.txt
d/pipe.txt d/good.txt
d/pipe.txt d/bad.txt
d/pipe.txt d/bad.txt d/missing.txt
d/good.txt --verbosity
-b abc d/good.txt
--verbosity 6 d/good.txt
--verbosity=-1 d/good.txt
--verbosity 0 d/good.txt d/sub/b.txt
--foo d/good.txt
-d -d d/good.txt
-f 2.1 d/good.txt
--foo -q -d -d d/good.txt
-f abc d/good.txt
-d
-O out -O out d/good.txt
ROWS
tree
# Help wins over the version and over parse errors, and converts nothing; the
# syntax line shows one more optional path per further argument.
run trcforge_bare
run trcforge_bare --help -v --foo
run trcforge_bare d/good.txt --help
# The version wins over parse errors (its dates and revision masked here);
# the version is the project's, its revision's first eight digits after it.
run trcforge_bare -v d/good.txt --foo --verbosity 9 >v.txt
sed -E 's/^(Version: [0-9]+\.[0-9]+\.[0-9]+\+)[0-9a-f]{8}$/\1rrrrrrrr/
  s/^(Build date: )[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$/\1Mmm dd yyyy hh:mm:ss/
  s/^(GIT SHA: )[0-9a-f]{40}$/\1<40 hex digits>/' v.txt
[ "$(sed -n 's/^Version: .*+//p' v.txt)" = "$(sed -n 's/^GIT SHA: \(.\{8\}\).*/\1/p' v.txt)" ] &&
  echo "(the version ends in the revision)"
tree d
