#!/usr/bin/env bash
# Checks what a lab rolls out: the installed tree, the manual page, the bash
# completion and the Debian package.
#
#   packaging_test.sh install     SOURCE BUILD BINARY
#   packaging_test.sh manual-page SOURCE BUILD [BINARY]
#   packaging_test.sh completion  SOURCE BUILD [BINARY]
#   packaging_test.sh deb         SOURCE BUILD BINARY
#
# SOURCE is the project root, BUILD the build folder, BINARY the trcforge
# program built there. Exits 0 when every check of the group passed, 1 after
# printing each failed check.
set -uo pipefail

group=${1:?group}
src=${2:?source folder}
build=${3:?build folder}
binary=${4:-}

failures=0
# fail MESSAGE...: records one failed check.
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: runs the command, records a failure when it
# exits non-zero.
check() {
    local what=$1
    shift
    if ! "$@"; then fail "$what"; fi
}

work=$(mktemp -d "${TMPDIR:-/tmp}/trcforge-packaging.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

# help_options: prints every option name (short and long) that the program's
# help lists, one per line.
help_options() {
    "$binary" --help | grep -E '^  -' | sed -E 's/^  (-[^ ,]*(, -[^ ]*)?) .*/\1/' |
        grep -oE '(^| )--?[A-Za-z][A-Za-z-]*' | sed 's/^ //' | sort -u
}

# help_glossary: prints the glossary texts of the program's help, one per line
# (the text after the option column).
help_glossary() {
    "$binary" --help | sed -nE 's/^  -.{39} (.*)$/\1/p; s/^  -[^ ].* {2,}(.*)$/\1/p' | sort -u
}

# write_small_log FILE: a VorlatBeta log with two frames, one standard and
# one extended.
write_small_log() {
    printf '%s\n' \
        '# Logger type: VorlatBeta' \
        '# Session No.: 1' \
        '# Split No.: 1' \
        '# Time: 20240115T093000' \
        '# Value separator: ";"' \
        '# Time separator: ":"' \
        '# Time separator ms: "."' \
        'Timestamp;Type;ID;Length;Data' \
        '09:30:01.123;0;123;8;1122334455667788' \
        '09:30:02.623;9;18FEF100;3;A00BFF' >"$1"
}

expected_v21=';$FILEVERSION=2.1
;$STARTTIME=45306.3958463310
;$COLUMNS=N,O,T,B,I,d,L,D
      1         0.000 DT 1     0123 Rx 8    11 22 33 44 55 66 77 88
      2      1500.000 DT 1 18FEF100 Tx 3    A0 0B FF'
expected_v11=';$FILEVERSION=1.1
;$STARTTIME=45306.3958463310
     1)         0.0 Rx        0123 8  11 22 33 44 55 66 77 88
     2)      1500.0 Tx    18FEF100 3  A0 0B FF'

# ---------------------------------------------------------------------------
# The installed tree holds the program, the page and the completion, and the
# installed program converts.
test_install() {
    local prefix=$work/prefix
    if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
        cat "$work/install.log" >&2
        fail "cmake --install $build --prefix $prefix"
        return
    fi
    local bin=$prefix/bin/trcforge
    local page=$prefix/share/man/man1/trcforge.1
    local comp=$prefix/share/bash-completion/completions/trcforge
    check "installed program $bin is an executable file" test -f "$bin" -a -x "$bin"
    check "installed manual page equals the built one" cmp -s "$page" "$build/packaging/trcforge.1"
    check "installed completion equals packaging/trcforge.bash-completion" \
        cmp -s "$comp" "$src/packaging/trcforge.bash-completion"
    [ -x "$bin" ] || return

    local out status
    out=$("$bin" --version)
    status=$?
    check "installed trcforge --version exits 0 (got $status)" test "$status" -eq 0
    check "installed trcforge --version prints a Version line" grep -q '^Version: ' <<<"$out"

    # A log with known content, converted into both trace versions.
    mkdir -p "$work/data" "$work/o"
    write_small_log "$work/data/a.txt"
    (cd "$work" && TZ=UTC "$bin" data/a.txt)
    status=$?
    check "installed trcforge data/a.txt exits 0 (got $status)" test "$status" -eq 0
    check "data/a.trc holds the version 2.1 trace" \
        test "$(cat "$work/data/a.trc" 2>/dev/null)" = "$expected_v21"
    TZ=UTC "$bin" --trace-format=version1 -O "$work/o" "$work/data/a.txt"
    status=$?
    check "installed trcforge -f version1 -O o exits 0 (got $status)" test "$status" -eq 0
    check "o/a.trc holds the version 1.1 trace" \
        test "$(cat "$work/o/a.trc" 2>/dev/null)" = "$expected_v11"

    # The bundled examples: the installed program must give the same trace
    # files and the same exit status as the program in the build folder.
    local logs
    logs=$(find "$src/examples" -type f -iname '*.txt' 2>/dev/null | wc -l)
    if [ "$logs" -eq 0 ]; then
        echo "note: examples/ holds no log file; only the generated log was converted"
        return
    fi
    local side s_inst s_built
    for side in installed built; do
        mkdir -p "$work/ex-$side"
        cp -R "$src/examples" "$work/ex-$side/"
        rm -rf "$work/ex-$side/examples/"*_out "$work/ex-$side/examples_out"
        find "$work/ex-$side" -name '*.trc' -delete
    done
    (cd "$work/ex-installed" && TZ=UTC "$bin" --verbosity=3 examples 2>"$work/ex-installed.err")
    s_inst=$?
    (cd "$work/ex-built" && TZ=UTC "$binary" --verbosity=3 examples 2>"$work/ex-built.err")
    s_built=$?
    check "installed and built trcforge exit alike on examples/ ($s_inst vs $s_built)" \
        test "$s_inst" -eq "$s_built"
    check "installed trcforge converts examples/ with exit status 0 (got $s_inst)" \
        test "$s_inst" -eq 0
    [ "$s_inst" -eq 0 ] || cat "$work/ex-installed.err" >&2
    local traces
    traces=$(find "$work/ex-installed/examples_out" -name '*.trc' 2>/dev/null | wc -l)
    check "examples_out/ holds a trace file ($traces of $logs logs)" test "$traces" -gt 0
    check "installed and built trcforge write identical examples_out/" \
        diff -r "$work/ex-installed/examples_out" "$work/ex-built/examples_out"
    echo "examples: $logs logs, $traces trace files, exit status $s_inst"
}

# ---------------------------------------------------------------------------
# The manual page formats without a warning and documents every option.
test_manual_page() {
    local page=$src/packaging/trcforge.1
    local err
    err=$(groff -ww -z -man "$page" 2>&1)
    check "groff -ww -z -man exits 0" groff -ww -z -man "$page"
    check "groff -ww -z -man prints no warning: $err" test -z "$err"

    local text=$work/page.txt
    MANWIDTH=100 man --warnings=w -E ascii -l "$page" >"$work/page.raw" 2>"$work/man.err"
    check "man -l renders the page" test -s "$work/page.raw"
    check "man -l prints no warning: $(cat "$work/man.err")" test ! -s "$work/man.err"
    # Strip overstriking, then join everything into one line of single blanks.
    sed -e 's/.\x08//g' "$work/page.raw" | tr -s ' \t\n' ' ' >"$text"

    local section
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT "EXIT STATUS" EXAMPLES FILES; do
        check "the page has the section $section" grep -q "^$section\$" <(sed -e 's/.\x08//g' "$work/page.raw")
    done
    local status
    for status in 0 1 8 9 129 130 131 132 134 137; do
        check "EXIT STATUS lists $status" grep -qE "^       $status +[A-Z]" <(sed -e 's/.\x08//g' "$work/page.raw")
    done
    check "the page states the _out rule" grep -q 'gets _out after its name' "$text"
    check "the page shows a placement with _out" grep -q 'logs_out/a.trc' "$text"
    check "the page names version1 and version2" grep -q 'version1|version2' "$text"

    [ -n "$binary" ] || return
    # The built page carries the program's version (the source page a
    # placeholder).
    local version
    version=$("$binary" --version | sed -n 's/^Version: //p')
    check "--version prints a semantic version and revision ($version)" \
        grep -qE '^[0-9]+\.[0-9]+\.[0-9]+\+[0-9a-f]{8}$' <<<"$version"
    local title
    title=$(grep '^\.TH ' "$build/packaging/trcforge.1")
    check "the built page's title line names trcforge $version: $title" grep -qF "\"trcforge $version\"" <<<"$title"
    # Every option and every glossary text of the program's own help.
    local opt line
    while read -r opt; do
        check "the page documents $opt" grep -qF -- " $opt" "$text"
    done < <(help_options)
    while IFS= read -r line; do
        check "the page carries the glossary text '$line'" grep -qF -- "$line" "$text"
    done < <(help_glossary)
    check "the program's help lists options" test "$(help_options | wc -l)" -ge 16
}

# ---------------------------------------------------------------------------
# The completion loads and completes options, trace formats and paths, with
# and without bash-completion's helpers.
completion_script() {
    # $1: "plain", "helpers" or "lookup"; $2: the completion file; $3: the
    # folder to complete in; $4: the options of the help (one per line) or "".
    cat <<'EOF'
mode=$1 file=$2 dir=$3 help_opts=$4
bad=0
if [ "$mode" != plain ]; then
    source /usr/share/bash-completion/bash_completion || { echo "FAIL: bash_completion"; exit 1; }
fi
if [ "$mode" = lookup ]; then
    # Found through bash-completion's own search of XDG_DATA_DIRS.
    __load_completion trcforge || { echo "FAIL: __load_completion trcforge"; exit 1; }
else
    source "$file" || { echo "FAIL: source $file"; exit 1; }
fi
registered=$(complete -p trcforge) || { echo "FAIL: complete -p trcforge"; exit 1; }
[ "$registered" = "complete -F _trcforge trcforge" ] || { echo "FAIL: registered as $registered"; bad=1; }
cd "$dir" || exit 1

# comp LINE: completes LINE with the cursor at its end. COMP_WORDS is split
# as bash splits it: at blanks, with "=" a word of its own.
comp() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    local s=${1//=/ = }
    read -ra COMP_WORDS <<<"$s"
    [[ $1 == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    [[ $cur == = ]] && cur=
    COMPREPLY=()
    _trcforge trcforge "$cur" "$prev"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
# expect LINE WANTED: the sorted replies for LINE must be WANTED.
expect() {
    local got
    got=$(comp "$1")
    if [ "$got" != "$2" ]; then
        echo "FAIL: [$1] completes to [$got], expected [$2]"
        bad=1
    fi
}
# offers LINE WORD / lacks LINE WORD
offers() { comp "$1" | tr ' ' '\n' | grep -qxF -- "$2" || { echo "FAIL: [$1] does not offer $2"; bad=1; }; }
lacks() { ! comp "$1" | tr ' ' '\n' | grep -qxF -- "$2" || { echo "FAIL: [$1] offers $2"; bad=1; }; }

expect 'trcforge --trace-format=' 'asc candump csv version1 version2'
expect 'trcforge --trace-format=version' 'version1 version2'
expect 'trcforge --trace-format=version2' 'version2'
expect 'trcforge -X --trace-format=' 'asc candump csv version1 version2'
expect 'trcforge -f ' 'asc candump csv version1 version2'
expect 'trcforge --trace-format ' 'asc candump csv version1 version2'
expect 'trcforge --trace-fo' '--trace-format='
expect 'trcforge -O ' 'folder'
expect 'trcforge --output-directory=' 'folder'
expect 'trcforge --report=' 'B.TXT a.txt folder notes.csv'
expect 'trcforge --rep' '--report='
expect 'trcforge ' 'B.TXT a.txt folder'
expect 'trcforge -f version1 ' 'B.TXT a.txt folder'
expect 'trcforge -- ' 'B.TXT a.txt folder'
expect 'trcforge --non-interactive=' ''
expect 'trcforge --ver' '--verbosity --version'
lacks 'trcforge -X -' '-X'
lacks 'trcforge -X -' '--no-append-root'
lacks 'trcforge --trace-format=version1 -' '-f'
offers 'trcforge -X -' '-d'
all=" $(comp 'trcforge -') "
for opt in $help_opts; do
    [[ $all == *" $opt "* ]] || { echo "FAIL: [trcforge -] does not offer $opt"; bad=1; }
done
exit $bad
EOF
}

test_completion() {
    local comp=$src/packaging/trcforge.bash-completion
    mkdir -p "$work/tree/folder"
    touch "$work/tree/a.txt" "$work/tree/B.TXT" "$work/tree/notes.csv"
    local opts=""
    if [ -n "$binary" ]; then
        opts=$(help_options | tr '\n' ' ')
        check "the program's help lists options" test -n "$opts"
    fi
    local script=$work/completion.bash
    completion_script >"$script"
    check "completion without bash-completion" bash --norc --noprofile "$script" plain "$comp" "$work/tree" "$opts"
    if [ -r /usr/share/bash-completion/bash_completion ]; then
        check "completion with bash-completion" bash --norc --noprofile "$script" helpers "$comp" "$work/tree" "$opts"
        # bash-completion finds the script where the install puts it.
        mkdir -p "$work/share/bash-completion/completions"
        cp "$comp" "$work/share/bash-completion/completions/trcforge"
        check "bash-completion loads the script from share/bash-completion/completions" \
            env XDG_DATA_DIRS="$work/share" BASH_COMPLETION_USER_DIR="$work/none" \
            bash --norc --noprofile "$script" lookup "$comp" "$work/tree" "$opts"
    else
        echo "note: bash-completion is not installed; checked the plain mode only"
    fi
}

# ---------------------------------------------------------------------------
# The Debian package: control fields, contents, and a program that runs.
test_deb() {
    local config=$build/CPackConfig.cmake
    check "$config exists" test -f "$config"
    if ! cpack -G DEB --config "$config" -B "$work/pkg" >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log" >&2
        fail "cpack -G DEB"
        return
    fi
    local deb
    deb=$(find "$work/pkg" -maxdepth 1 -name 'trcforge_*.deb' | head -n 1)
    check "cpack wrote trcforge_*.deb" test -n "$deb"
    [ -n "$deb" ] || return

    local field
    for field in Package Version Architecture Maintainer Section Description Depends; do
        check "control field $field is set" test -n "$(dpkg-deb -f "$deb" "$field")"
    done
    check "Package is trcforge" test "$(dpkg-deb -f "$deb" Package)" = trcforge
    local version
    version=$("$binary" --version | sed -n 's/^Version: //p')
    check "Version is the program's ($version)" test "$(dpkg-deb -f "$deb" Version)" = "$version"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    check "Depends names libargtable2" grep -q 'libargtable2' <<<"$depends"
    check "Depends names libstb" grep -q 'libstb' <<<"$depends"

    local listing
    listing=$(dpkg-deb -c "$deb")
    local path
    for path in ./usr/bin/trcforge ./usr/share/man/man1/trcforge.1 \
        ./usr/share/bash-completion/completions/trcforge; do
        check "the package holds $path" grep -qE " $path\$" <<<"$listing"
    done

    # Every shared library that the packaged program names as needed belongs
    # to a package named in Depends.
    dpkg-deb -x "$deb" "$work/root"
    local bin=$work/root/usr/bin/trcforge
    check "the packaged program prints its version" grep -q "^Version: " <(TZ=UTC "$bin" --version)
    local names
    names=$(sed -E 's/ *\([^)]*\)//g; s/ *\| */,/g; s/ //g' <<<"$depends" | tr ',' '\n')
    local needed lib file owner
    needed=$(readelf -d "$bin" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p')
    check "the packaged program needs shared libraries" test -n "$needed"
    for lib in $needed; do
        file=$(ldd "$bin" | awk -v l="$lib" '$1 == l && $2 == "=>" { print $3 }')
        owner=$(package_of "$file")
        if [ -z "$owner" ]; then
            fail "no Debian package owns ${file:-the library} (needed $lib)"
        elif ! grep -qxF "$owner" <<<"$names"; then
            # Without dpkg-shlibdeps the package names the project's own
            # libraries and the C and C++ runtimes only: sanitizer runtimes
            # are then missing.
            if command -v dpkg-shlibdeps >/dev/null || [[ $owner == libargtable2* || $owner == libstb* ]]; then
                fail "Depends lacks $owner, which provides $lib"
            else
                echo "note: $owner ($lib) is not in Depends (no dpkg-shlibdeps here)"
            fi
        else
            echo "$lib: $owner"
        fi
    done
}

# package_of FILE: prints the Debian package that installed FILE, trying the
# path as given, resolved, and with or without the /usr of a merged /usr;
# prints nothing when no package owns it.
package_of() {
    [ -n "$1" ] || return
    local p real
    real=$(readlink -f "$1")
    for p in "$1" "$real" "${real#/usr}" "/usr$1"; do
        if dpkg-query -S "$p" >/dev/null 2>&1; then
            dpkg-query -S "$p" 2>/dev/null | head -n 1 | sed -E 's/[:,].*//'
            return
        fi
    done
}

case $group in
    install) test_install ;;
    manual-page) test_manual_page ;;
    completion) test_completion ;;
    deb) test_deb ;;
    *)
        echo "unknown group $group" >&2
        exit 2
        ;;
esac

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "packaging $group: all checks passed"
