#!/usr/bin/python3
"""instructions.py: instructions per frame of a whole conversion, counted by
valgrind's callgrind, for every output format, on one fixed generated slice.

    bench/instructions.py                    # the 32 MiB slice, every format
    bench/instructions.py -f version2 -f blf # some formats only
    bench/instructions.py --bin PATH         # another binary (an A/B of two trees)

Instruction counts do not depend on what else the machine is doing: the same
binary on the same input gives the same count within a few hundred
instructions, so two builds can be compared on a shared machine where wall
times scatter by a third.

The input is the first 32 MiB of the 128 MiB benchmark log (bench/gen_log.cc,
layout 0, seed 1, cut after a line feed), cached as bench/throughput.py caches
its inputs. Each format converts it once under callgrind, at -j 1 with the
default window, into a temporary folder; the count covers the whole process
(start-up, reading, parsing, formatting, writing, the rename). Frames are the
record lines of the slice (every one becomes a frame in this layout).

The binary is --bin, or $TRCFORGE_BIN, or build-bench/app/trcforge (the
optimised build of bench/throughput.py, built when missing or out of date).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from bench_run import FORMATS, MIB, cache_dir, ensure_input, ensure_slice, trcforge_binary

SOURCE_BYTES = 128 * MIB
SLICE_BYTES = 32 * MIB
COLLECTED = re.compile(r"^==\d+== Collected : (\d+)", re.M)


def count_instructions(binary, log, out_dir, fmt):
    """Runs one conversion under callgrind; returns the instructions counted."""
    argv = ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
            binary, "--non-interactive", "-f", fmt, "-O", out_dir, log]
    result = subprocess.run(argv, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed ({result.returncode}):\n{result.stderr}")
    match = COLLECTED.search(result.stderr)
    if match is None:
        sys.exit(f"no instruction count in the output of {' '.join(argv)}:\n{result.stderr}")
    return int(match.group(1))


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--bin", help="trcforge binary (default: build-bench/app/trcforge)")
    p.add_argument("--no-build", action="store_true", help="measure the binary as it is")
    p.add_argument("-f", dest="formats", action="append", help="a format (default: every format)")
    args = p.parse_args()
    if shutil.which("valgrind") is None:
        sys.exit("valgrind is not installed (Debian package valgrind)")
    binary = trcforge_binary(args)
    if binary is None:
        sys.exit("no trcforge binary")
    cache = cache_dir()
    os.makedirs(cache, exist_ok=True)
    source, source_bytes, _ = ensure_input(cache, SOURCE_BYTES, 0, 1)
    log, log_bytes, frames = ensure_slice(cache, source, source_bytes, SLICE_BYTES)
    print(f"input: {log}: {log_bytes} bytes, {frames} frames")
    print(f"binary: {binary}")
    print(f"{'format':<10} {'instructions':>14} {'per frame':>10} {'per byte':>9}")
    formats = args.formats or list(FORMATS)
    for fmt in formats:
        with tempfile.TemporaryDirectory(prefix="trcforge-instructions-") as out_dir:
            total = count_instructions(binary, log, out_dir, fmt)
        print(f"{fmt:<10} {total:>14,} {total / frames:>10.1f} {total / log_bytes:>9.2f}", flush=True)


if __name__ == "__main__":
    main()
