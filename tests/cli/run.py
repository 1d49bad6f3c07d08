#!/usr/bin/python3
"""Runs the command-line cases: each tests/cli/<name>.sh runs in a fresh
temporary folder as `bash lib.sh-then-case` (no errexit: every command runs,
and one that fails shows in the output), its standard output and standard
error merged; the masked output must equal tests/cli/<name>.out byte for byte.

Masked: the context of diagnostic lines ("12-07 11:44:56.123  4711  4711 W
text" becomes "W text"; a line whose process or thread column is not
right-aligned in five is left whole, so it shows), and the temporary folder's
path (becomes $TMP). A case that calls `skip REASON` exits 77 and is reported
as skipped, never as passed.

  run.py --bin PATH --examples DIR [--extra-args "..."] [--update] [NAME-GLOB...]
"""
import argparse
import difflib
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
CONTEXT = re.compile(rb'^\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ( *\d+) ( *\d+) ([VDIWEF]) ', re.M)
# The random part of a temporary output's name (".a.trc.Ab12Cd").
TEMPORARY = re.compile(rb'(/|\s|^)(\.[^/\s]+\.)[A-Za-z0-9]{6}\b', re.M)


def aligned(column):
    return len(column) == 5 or (len(column) > 5 and b' ' not in column)


def mask(output, folder):
    def cut(match):
        if aligned(match.group(1)) and aligned(match.group(2)):
            return match.group(3) + b' '
        return match.group(0)
    output = CONTEXT.sub(cut, output)
    output = TEMPORARY.sub(rb'\1\2XXXXXX', output)
    for path in sorted({folder, os.path.realpath(folder)}, key=len, reverse=True):
        output = output.replace(path.encode(), b'$TMP')
    return output


def remove(folder):
    # Cases take permissions away; give them back so that all can go.
    subprocess.run(['chmod', '-R', 'u+rwx', folder], stderr=subprocess.DEVNULL)
    shutil.rmtree(folder, ignore_errors=True)


def on_disk_temp():
    """/tmp, unless it is held in memory (the program keeps every log whose
    output lies there under -d): then /var/tmp."""
    mounts = [line.split() for line in open('/proc/mounts')]
    tmp = max((m for m in mounts if '/tmp/'.startswith(m[1].rstrip('/') + '/')), key=lambda m: len(m[1]))
    return '/var/tmp' if tmp[2] in ('tmpfs', 'ramfs') else '/tmp'


def run_case(name, args):
    folder = tempfile.mkdtemp(prefix='trcforge-cli-', dir=on_disk_temp())
    os.chmod(folder, 0o755)  # an unprivileged user must reach it
    env = dict(os.environ, TRCFORGE_BIN=os.path.abspath(args.bin),
               TRCFORGE_EXTRA_ARGS=args.extra_args, EXAMPLES=os.path.abspath(args.examples),
               LC_ALL='C', TZ='UTC')
    try:
        result = subprocess.run(
            ['bash', '--noprofile', '--norc', '-c', '. "$1"; . "$2"', 'bash',
             os.path.join(HERE, 'lib.sh'), os.path.join(HERE, name + '.sh')],
            cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, timeout=args.timeout)
        output, status = result.stdout, result.returncode
    except subprocess.TimeoutExpired as timeout:
        output, status = (timeout.stdout or b'') + b'\n[case timed out]\n', -1
    finally:
        remove(folder)
    output = mask(output, folder)
    if status == SKIP:
        return 'skipped', output.decode(errors='replace').strip().splitlines()[-1:]
    if status != 0:
        output += b'[case exit %d]\n' % status
    golden = os.path.join(HERE, name + '.out')
    if args.update:
        with open(golden, 'wb') as out:
            out.write(output)
        return 'updated', []
    expected = open(golden, 'rb').read() if os.path.exists(golden) else b''
    if output == expected:
        return 'passed', []
    diff = difflib.diff_bytes(difflib.unified_diff, expected.splitlines(True), output.splitlines(True),
                              golden.encode(), b'actual output')
    return 'failed', [b''.join(diff).decode(errors='replace')]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--bin', required=True, help='the trcforge binary')
    parser.add_argument('--examples', required=True, help="the repository's examples folder")
    parser.add_argument('--extra-args', default='', help='added to every trcforge call of the cases')
    parser.add_argument('--update', action='store_true', help='rewrite the goldens')
    parser.add_argument('--timeout', type=float, default=float(os.environ.get('TRCFORGE_CASE_TIMEOUT', 600)),
                        help='seconds per case (default: $TRCFORGE_CASE_TIMEOUT, else 600)')
    parser.add_argument('names', nargs='*', help='case names or globs (default: all)')
    args = parser.parse_args()
    names = sorted(f[:-3] for f in os.listdir(HERE) if f.endswith('.sh') and f != 'lib.sh')
    if args.names:
        names = [n for n in names if any(fnmatch.fnmatchcase(n, g) for g in args.names)]
    if not names:
        sys.exit('no case matches ' + ' '.join(args.names))
    counts = {}
    for name in names:
        start = time.monotonic()
        verdict, notes = run_case(name, args)
        counts[verdict] = counts.get(verdict, 0) + 1
        print('%-8s %s (%.1f s)' % (verdict.upper(), name, time.monotonic() - start), flush=True)
        for note in notes:
            print(note, end='' if note.endswith('\n') else '\n')
    print('%d passed, %d failed, %d skipped' % (counts.get('passed', 0) + counts.get('updated', 0),
                                               counts.get('failed', 0), counts.get('skipped', 0)))
    if counts.get('failed'):
        sys.exit(1)
    if counts.get('skipped') == len(names):
        sys.exit(SKIP)


if __name__ == '__main__':
    main()
