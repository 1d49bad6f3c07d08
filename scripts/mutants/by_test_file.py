#!/usr/bin/python3
"""Which test files catch which planted faults, from the failing.txt that
scripts/mutants.sh leaves in <build>/mutants/.

    scripts/mutants/by_test_file.py [build/mutants/failing.txt]

Prints, per test file: the faults it catches, how many of them no other file
catches, and the files whose every caught fault some other file catches too.
"""
import collections
import glob
import os
import re
import sys

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
failing = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, 'build/mutants/failing.txt')

# GoogleTest cases by suite and name, to the file that defines them.
case_file = {}
for path in glob.glob(os.path.join(root, '**/*_test.cc'), recursive=True):
    if '/build' in path[len(root):]:
        continue
    for m in re.finditer(r'^\s*(?:TEST|TEST_F|TEST_P)\(\s*(\w+)\s*,\s*(\w+)', open(path).read(), re.M):
        case_file[(m.group(1), m.group(2))] = os.path.relpath(path, root)


def file_of(test):
    if test == 'readback_python':
        return 'tests/readback_test.py'
    if test.startswith('packaging.'):
        return 'tests/packaging_test.sh'
    if test.startswith(('cli.', 'cli_j4.')):
        return 'tests/cli/%s.sh' % test.split('.', 1)[1]
    core = next(part for part in test.split('/') if '.' in part)
    return case_file.get(tuple(core.split('.', 1)), '?' + test)


caught_by = collections.defaultdict(set)  # test file -> faults
files_of = {}                             # fault -> test files
for line in open(failing):
    fields = line.split()
    if len(fields) < 2 or fields[1] != 'CAUGHT':
        continue
    fault = fields[0][:2]
    files = {file_of(t) for t in fields[2:] if not t.startswith('(')}
    files_of[fault] = files
    for f in files:
        caught_by[f].add(fault)

print('%-32s %6s %6s  %s' % ('test file', 'caught', 'alone', 'faults (* = no other file catches it)'))
for f, faults in sorted(caught_by.items(), key=lambda item: -len(item[1])):
    alone = {x for x in faults if files_of[x] == {f}}
    listed = ' '.join(x + ('*' if x in alone else '') for x in sorted(faults))
    print('%-32s %6d %6d  %s' % (f, len(faults), len(alone), listed))
redundant = sorted(f for f, faults in caught_by.items() if all(len(files_of[x]) > 1 for x in faults))
print('files that catch no fault on their own:', ' '.join(redundant) or 'none')

# A small set of files that still catches every caught fault: each step takes
# the file that catches the most faults not caught yet.
left = set(files_of)
cover = []
while left:
    best = max(caught_by, key=lambda f: (len(caught_by[f] & left), -len(caught_by[f])))
    cover.append('%s (+%d)' % (best, len(caught_by[best] & left)))
    left -= caught_by[best]
print('greedy cover of all caught faults:', ', '.join(cover))
