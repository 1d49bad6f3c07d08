#!/usr/bin/env bash
# Checks what a lab rolls out: the installed tree, the manual page, the bash
# completion and the Debian package.
#   packaging_test.sh install|manual-page|completion|deb SOURCE BUILD [BINARY]
# Exits 1 after printing each failed check.
set -uo pipefail
group=$1 src=$2 build=$3 binary=${4:-}
failures=0
check() {  # DESCRIPTION COMMAND...: a failed check when the command fails
  local what=$1; shift
  "$@" || { echo "FAIL: $what" >&2; failures=$((failures + 1)); }
}
work=$(mktemp -d "${TMPDIR:-/tmp}/trcforge-packaging.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Every option name (short and long) that the program's help lists.
help_options() { "$binary" --help | grep -E '^  -' | cut -c1-43 | grep -oE -- '--?[A-Za-z][A-Za-z-]*' | sort -u; }

test_install() {  # the installed tree, and the installed program converts
  cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; check "cmake --install" false; return; }
  check "the built manual page is installed" cmp -s "$work/prefix/share/man/man1/trcforge.1" "$build/packaging/trcforge.1"
  check "the completion is installed" cmp -s "$work/prefix/share/bash-completion/completions/trcforge" "$src/packaging/trcforge.bash-completion"
  printf '%s\n' '# Session No.: 1' '# Split No.: 1' '# Time: 20240115T093000' '# Value separator: ";"' '# Time separator: ":"' \
    '# Time separator ms: "."' 'Timestamp;Type;ID;Length;Data' '09:30:01.123;0;123;8;1122334455667788' \
    '09:30:02.623;9;18FEF100;3;A00BFF' >"$work/a.txt"
  check "the installed program converts" env TZ=UTC "$work/prefix/bin/trcforge" -f version1 "$work/a.txt"
  check "into the version 1.1 trace" test "$(cat "$work/a.trc")" = ';$FILEVERSION=1.1
;$STARTTIME=45306.3958463310
     1)         0.0 Rx        0123 8  11 22 33 44 55 66 77 88
     2)      1500.0 Tx    18FEF100 3  A0 0B FF'
}

test_manual_page() {  # formats without a warning and documents every option and status
  local page=$src/packaging/trcforge.1 opt status
  check "groff warns of nothing" test -z "$(groff -ww -z -man "$page" 2>&1)"
  MANWIDTH=100 man --warnings=w -E ascii -l "$page" 2>"$work/man.err" | sed -e 's/.\x08//g' >"$work/page.txt"
  check "man -l renders the page without a warning" test -s "$work/page.txt" -a ! -s "$work/man.err"
  for status in 0 1 8 9 129 130 131 132 134 137; do
    check "EXIT STATUS lists $status" grep -qE "^ +$status +[A-Z]" "$work/page.txt"
  done
  [ -n "$binary" ] || return
  # The program, the built page and the package carry one semantic version.
  local version; version=$("$binary" --version | sed -n 's/^Version: //p')
  check "--version prints a semantic version and revision ($version)" grep -qE '^[0-9]+\.[0-9]+\.[0-9]+\+[0-9a-f]{8}$' <<<"$version"
  check "the built page's title names trcforge $version" grep -qF "\"trcforge $version\"" <(grep '^\.TH ' "$build/packaging/trcforge.1")
  check "the help lists the options" test "$(help_options | wc -l)" -ge 16
  while read -r opt; do check "the page documents $opt" grep -qF -- " $opt" <(tr -s ' \n' ' ' <"$work/page.txt"); done < <(help_options)
}

test_completion() {  # with and without bash-completion's helpers
  mkdir -p "$work/tree/folder" && touch "$work/tree/a.txt" "$work/tree/B.TXT" "$work/tree/notes.csv"
  cat >"$work/completion.bash" <<'SCRIPT'
[ "$1" = helpers ] && { source /usr/share/bash-completion/bash_completion || exit 1; }
source "$2" && cd "$3" || exit 1
bad=0
comp() {  # LINE: the sorted replies to LINE, the cursor at its end, as bash splits it ("=" a word)
  local s=${1//=/ = }
  COMP_LINE=$1 COMP_POINT=${#1}
  read -ra COMP_WORDS <<<"$s"
  [[ $1 == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
  local cur=${COMP_WORDS[COMP_CWORD]}
  _trcforge trcforge "${cur#=}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
expect() { [ "$(comp "$1")" = "$2 " ] || { echo "FAIL: [$1] completes to [$(comp "$1")], expected [$2]"; bad=1; }; }
expect 'trcforge --trace-format=' 'asc blf candump csv version1 version2'
expect 'trcforge -f ' 'asc blf candump csv version1 version2'
expect 'trcforge --trace-format=version' 'version1 version2'
expect 'trcforge --report=' 'B.TXT a.txt folder notes.csv'
expect 'trcforge --trace-fo' '--trace-format='
expect 'trcforge -O ' 'folder'
expect 'trcforge ' 'B.TXT a.txt folder'
expect 'trcforge -X --no' '--non-interactive'
for opt in $4; do [[ " $(comp 'trcforge -')" == *" $opt "* ]] || { echo "FAIL: [trcforge -] lacks $opt"; bad=1; }; done
exit $bad
SCRIPT
  local opts; opts=$([ -n "$binary" ] && help_options | tr '\n' ' ')
  check "completion without bash-completion" bash --norc --noprofile "$work/completion.bash" plain "$src/packaging/trcforge.bash-completion" "$work/tree" "$opts"
  [ -r /usr/share/bash-completion/bash_completion ] &&
    check "completion with bash-completion" bash --norc --noprofile "$work/completion.bash" helpers "$src/packaging/trcforge.bash-completion" "$work/tree" "$opts"
}

test_deb() {  # control fields, contents, dependencies, and a program that runs
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; check "cpack -G DEB" false; return; }
  local deb lib owner; deb=$(ls "$work"/pkg/trcforge_*.deb)
  check "the package is trcforge" test "$(dpkg-deb -f "$deb" Package)" = trcforge
  [ -z "$binary" ] || check "the package's version is the program's" \
    test "$(dpkg-deb -f "$deb" Version)" = "$("$binary" --version | sed -n 's/^Version: //p')"
  for field in Version Architecture Maintainer Section Description; do check "$field is set" test -n "$(dpkg-deb -f "$deb" $field)"; done
  for path in bin/trcforge share/man/man1/trcforge.1 share/bash-completion/completions/trcforge; do
    check "the package holds /usr/$path" grep -qE " ./usr/$path\$" <(dpkg-deb -c "$deb")
  done
  dpkg-deb -x "$deb" "$work/root"
  check "the packaged program prints its version" grep -q '^Version: ' <("$work/root/usr/bin/trcforge" --version)
  for lib in argtable2 stb isal; do  # the libraries it needs belong to packages it depends on
    owner=$(dpkg-query -S "$(readlink -f "$(ldd "$work/root/usr/bin/trcforge" | awk -v l="lib$lib" 'index($1, l) == 1 { print $3 }')")" 2>/dev/null | sed 's/[:,].*//' | head -n1)
    check "Depends names ${owner:-the package of lib$lib}" grep -qw -- "${owner:-lib$lib}" <<<"$(dpkg-deb -f "$deb" Depends)"
  done
}

case $group in
  install) test_install ;; manual-page) test_manual_page ;; completion) test_completion ;; deb) test_deb ;;
  *) echo "unknown group $group" >&2; exit 2 ;;
esac
[ "$failures" -eq 0 ] && echo "packaging $group: all checks passed"
