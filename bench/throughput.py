#!/usr/bin/python3
"""throughput.py: one command that measures how fast trcforge converts a large
text log, beside the tools a user has today, on the same file in the same run.

    bench/throughput.py                      # 256 MiB log, 5 interleaved rounds
    bench/throughput.py --size 1G --runs 7
    bench/throughput.py --scaling            # 16 MiB, 64 MiB, 256 MiB, 1 GiB
    bench/throughput.py --jobs               # -j 1 against -j 2 on trees and a 1 GiB log
    bench/throughput.py --clean              # remove the cached inputs

The input comes from bench/gen_log.cc (compiled on first use) and is cached by
size, layout, seed and generator version in $TRCFORGE_BENCH_DIR (default
/tmp/trcforge-bench). Outputs go to a temporary folder that is emptied after
every run and removed at the end ($TRCFORGE_BENCH_OUT picks its parent).

Every tool runs once per round, in an order that rotates from round to round,
so slow drifts of a shared machine hit all tools alike. Each run goes through
bench/measure_run.cc, a small launcher that takes the wall time around the
command and its peak resident memory and CPU time from wait4 (started
straight from Python, a command would inherit the interpreter's peak). Sizes and rates use binary units: 1 MiB = 2^20
bytes. The page cache is warm: the input was read or written just before, and
one untimed run of the first tool with the largest input precedes the rounds.

The trcforge binary is --bin, or $TRCFORGE_BIN, or build-bench/app/trcforge
below the project root, which is configured (Release) when missing and built
incrementally before every measurement unless --no-build is given.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

from bench_run import (BENCH, MIB, Tool, binary_line, cache_dir, count_lines, cpu_rate, ensure_input,
                       ensure_slice, ensure_space, machine_line, measure, parse_size, rate, report, size_name,
                       trcforge_binary, verdict)

# The targets the numbers are held against.
TARGET_MIB_S = 300.0
TARGET_VS_AWK = 20.0
TARGET_VS_PYCAN = 60.0
TARGET_SAME_WITHIN = 0.10
TARGET_FORMAT_SHARE = 0.80  # each of asc, candump, csv against version 2.1
TARGET_RSS_MIB = 32.0
TARGET_SCALING = 1.2



def throughput(args, binary):
    cache = cache_dir()
    size = parse_size(args.size)
    path, nbytes, records = ensure_input(cache, size, args.layout, args.seed)
    out_parent = os.environ.get("TRCFORGE_BENCH_OUT", cache)
    # One output at a time: a version 2.1 trace is about 1.4 times its input.
    ensure_space(out_parent, int(nbytes * 1.6) + 64 * MIB, "the outputs")

    def trc(*options):
        return lambda p, o: [binary, *options, "-O", o, p]

    tools = []
    if binary:
        tools += [
            Tool("trcforge", trc(), path, nbytes, records, args.runs, output="file"),
            Tool("trcforge -f version1", trc("-f", "version1"), path, nbytes, records,
                 args.runs, output="file"),
            Tool("trcforge -f version2", trc("-f", "version2"), path, nbytes, records,
                 args.runs, output="file"),
            Tool("trcforge -b 65536", trc("-b", "65536"), path, nbytes, records, args.runs,
                 output="file"),
        ] + [Tool(f"trcforge -f {f}", trc("-f", f), path, nbytes, records, args.runs, output="file")
             for f in ("asc", "candump", "csv")]
    tools += [
        Tool("wc -l", lambda p, o: ["wc", "-l", p], path, nbytes, records, args.runs),
        Tool("cat > /dev/null", lambda p, o: ["cat", p], path, nbytes, records, args.runs),
    ]
    if not args.no_awk:
        awk = shutil.which("mawk") or shutil.which("awk")
        tools.append(Tool(f"awk ({os.path.basename(awk)})",
                          lambda p, o: [awk, "-f", os.path.join(BENCH, "awk_convert.awk"), p],
                          path, nbytes, records, args.runs, output="stdout"))
    pycan = None
    if not args.no_pycan:
        slice_size = parse_size(args.pycan_slice)
        spath, sbytes, srecords = ensure_slice(cache, path, nbytes, slice_size)
        note = ""
        if spath != path:
            note = (f"measured on the first {sbytes / MIB:.1f} MiB ({srecords} frames) of the "
                    f"same file, {min(args.pycan_runs, args.runs)} runs; rates apply to the "
                    f"whole file, est. {nbytes / sbytes:.1f} x the slice time")
        pycan = Tool("python-can",
                     lambda p, o: ["/usr/bin/python3", os.path.join(BENCH, "pycan_convert.py"),
                                   p, os.path.join(o, "pycan.trc")],
                     spath, sbytes, srecords, min(args.pycan_runs, args.runs), note=note)
        tools.append(pycan)

    print(f"input: {path}")
    print(f"       {nbytes} bytes ({nbytes / MIB:.1f} MiB), {records} frames, "
          f"{nbytes / max(records, 1):.1f} bytes per record line, layout {args.layout}, "
          f"seed {args.seed}")
    print(f"machine: {machine_line()}")
    print(f"trcforge: {binary_line(binary)}")
    print(f"rounds: {args.runs}, interleaved, rotating order")
    digests = measure(tools, args.runs, out_parent)
    report(tools)
    print(f"\nmachine after the runs: {machine_line()}")

    by_name = {t.name: t for t in tools}
    awk_tool = next((t for t in tools if t.name.startswith("awk")), None)
    if awk_tool and "trcforge -f version2" in digests and awk_tool.name in digests:
        same = digests[awk_tool.name] == digests["trcforge -f version2"]
        print(f"  awk output byte-identical to trcforge -f version2: {'yes' if same else 'no'}")
    if not binary:
        return
    print("\ntargets:")
    main = by_name["trcforge"]
    r = rate(main)
    verdict(f"throughput >= {TARGET_MIB_S:.0f} MiB/s", r >= TARGET_MIB_S,
            f"{r:.1f} MiB/s, {main.frames / statistics.median(main.walls):,.0f} frames/s "
            f"(by CPU time {cpu_rate(main):.1f} MiB/s)")
    if awk_tool:
        x = r / rate(awk_tool)
        verdict(f">= {TARGET_VS_AWK:.0f} x awk", x >= TARGET_VS_AWK,
                f"{x:.1f} x (by CPU time {cpu_rate(main) / cpu_rate(awk_tool):.1f} x)")
    if pycan:
        x = r / rate(pycan)
        verdict(f">= {TARGET_VS_PYCAN:.0f} x python-can", x >= TARGET_VS_PYCAN,
                f"{x:.1f} x (by CPU time {cpu_rate(main) / cpu_rate(pycan):.1f} x)")
    v1, v2 = rate(by_name["trcforge -f version1"]), rate(by_name["trcforge -f version2"])
    d = abs(v1 - v2) / max(v1, v2)
    verdict("version1 and version2 within 10%", d <= TARGET_SAME_WITHIN,
            f"{v1:.1f} vs {v2:.1f} MiB/s ({100 * d:.1f}%)")
    for f in ("asc", "candump", "csv"):
        x = rate(by_name[f"trcforge -f {f}"])
        verdict(f"-f {f} >= {100 * TARGET_FORMAT_SHARE:.0f}% of version2",
                x >= TARGET_FORMAT_SHARE * v2, f"{x:.1f} vs {v2:.1f} MiB/s ({100 * x / v2:.0f}%)")
    b = rate(by_name["trcforge -b 65536"])
    d = abs(b - r) / max(b, r)
    verdict("-b 65536 within 10% of the default", d <= TARGET_SAME_WITHIN,
            f"{b:.1f} vs {r:.1f} MiB/s ({100 * d:.1f}%)")
    rss = max(main.rss) / 1024
    verdict(f"peak RSS (default options) < {TARGET_RSS_MIB:.0f} MiB", rss < TARGET_RSS_MIB,
            f"{rss:.1f} MiB on a {nbytes / MIB:.0f} MiB input")


def scaling(args, binary):
    if not binary:
        sys.exit("scaling needs the trcforge binary")
    cache = cache_dir()
    sizes = [parse_size(s) for s in args.sizes.split(",")]
    inputs = [ensure_input(cache, s, args.layout, args.seed) for s in sizes]
    out_parent = os.environ.get("TRCFORGE_BENCH_OUT", cache)
    ensure_space(out_parent, int(max(n for _, n, _ in inputs) * 1.6) + 64 * MIB, "the outputs")
    tools = [Tool(f"trcforge {size_name(s)}", lambda p, o: [binary, "-O", o, p], path, n, rec,
                  args.runs, output="file")
             for s, (path, n, rec) in zip(sizes, inputs)]
    print(f"machine: {machine_line()}")
    print(f"trcforge: {binary_line(binary)}, default options")
    print(f"rounds: {args.runs}, interleaved, rotating order")
    measure(tools, args.runs, out_parent)
    print()
    print(f"{'input':>8} {'frames':>11} {'median s':>9} {'min-max s':>17} {'ms/MiB':>8} "
          f"{'cpu ms/MiB':>10} {'MiB/s':>8} {'frames/s':>11} {'peak RSS':>10}")
    per_mib, cpu_per_mib = [], []
    for t in tools:
        med = statistics.median(t.walls)
        mib = t.bytes / MIB
        per_mib.append(1000 * med / mib)
        cpu_per_mib.append(1000 * statistics.median(t.cpus) / mib)
        print(f"{mib:>7.0f}M {t.frames:>11} {med:>9.3f} {min(t.walls):>8.3f}-{max(t.walls):<8.3f} "
              f"{per_mib[-1]:>8.3f} {cpu_per_mib[-1]:>10.3f} {mib / med:>8.1f} "
              f"{t.frames / med:>11,.0f} {max(t.rss) / 1024:>6.1f} MiB")
    for t in tools:
        if t.checked:
            print(f"  {t.name}: {t.checked}")
    print(f"\nmachine after the runs: {machine_line()}")
    print("\ntargets:")
    ratio = per_mib[-1] / per_mib[0]
    verdict(f"time per MiB at the largest within {TARGET_SCALING} x the smallest",
            ratio <= TARGET_SCALING,
            f"{ratio:.2f} x (by CPU time {cpu_per_mib[-1] / cpu_per_mib[0]:.2f} x)")
    rss = max(max(t.rss) for t in tools) / 1024
    verdict(f"peak RSS < {TARGET_RSS_MIB:.0f} MiB at every size", rss < TARGET_RSS_MIB,
            f"largest {rss:.1f} MiB")


def tree_of_logs(cache, name, count, source, per_folder):
    """A folder of `count` copies of the log at source, `per_folder` to a
    sub-folder (hard links to one copy per sub-folder: a file system limits
    the links to one file), cached by name. Returns (path, bytes, frames)."""
    path = os.path.join(cache, name)
    size, frames = os.path.getsize(source), count_lines(source) - 10
    if not os.path.isdir(path):
        building = path + ".part"
        shutil.rmtree(building, ignore_errors=True)
        for i in range(count):
            folder = os.path.join(building, f"d{i // per_folder:04d}")
            target = os.path.join(folder, f"log{i:06d}.txt")
            if i % per_folder == 0:
                os.makedirs(folder, exist_ok=True)
                shutil.copyfile(source, target)
                first = target
            else:
                os.link(first, target)
        os.rename(building, path)
    return path, size * count, frames * count


def disk_speed(folder, source):
    """Reads source and writes as many bytes beside it past the page cache
    (O_DIRECT), once each. Returns (read MiB/s, write MiB/s)."""
    nbytes = os.path.getsize(source)
    target = os.path.join(folder, "disk-speed.bin")
    speeds = []
    for argv in (["dd", f"if={source}", "of=/dev/null", "bs=4M", "iflag=direct"],
                 ["dd", "if=/dev/zero", f"of={target}", "bs=4M", f"count={nbytes >> 22}", "oflag=direct"]):
        start = time.monotonic()
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        speeds.append((nbytes >> 22 << 22) / MIB / (time.monotonic() - start))
    os.remove(target)
    return speeds


def parallel(args, binary):
    """Converts a tree of 64 logs of 16 MiB, one log of 1 GiB and 100,000
    small logs with -j 1 and -j 2 (interleaved) and prints the ratios."""
    if not binary:
        sys.exit("--jobs needs the trcforge binary")
    cache = cache_dir()
    small_log, _, _ = ensure_input(cache, 16 * MIB, args.layout, args.seed)
    big_log, big_bytes, big_frames = ensure_input(cache, 1 << 30, args.layout, args.seed)
    tiny_log = os.path.join(cache, "tiny-log.txt")
    if not os.path.exists(tiny_log):
        with open(small_log, "rb") as f:
            head = f.read(1 << 12)
        with open(tiny_log, "wb") as f:
            f.write(head[:head.rfind(b"\n") + 1])
    rows = [("64 x 16 MiB", tree_of_logs(cache, "tree-64x16M", 64, small_log, 16)),
            ("1 GiB", (big_log, big_bytes, big_frames)),
            ("100,000 small", tree_of_logs(cache, "tree-100k-small", 100000, tiny_log, 1000))]
    out_parent = os.environ.get("TRCFORGE_BENCH_OUT", cache)
    # The small logs' outputs of every run are kept to the end (measure()).
    ensure_space(out_parent, int(big_bytes * 1.6) + 64 * MIB + 2 * args.runs * 100000 * 8192, "the outputs")
    tools = [Tool(f"{row} -j {jobs}", lambda p, o, j=jobs: [binary, "-j", str(j), "-O", o, p], path, n, frames,
                  args.runs, keep_outputs=row.startswith("100,000"))
             for row, (path, n, frames) in rows for jobs in (1, 2)]
    print(f"machine: {machine_line()}")
    print(f"trcforge: {binary_line(binary)}")
    print(f"rounds: {args.runs}, interleaved, rotating order")
    measure(tools, args.runs, out_parent)
    report(tools)
    print("\ntargets (-j 2 against -j 1, wall time):")
    for row, need in zip([r for r, _ in rows], (1.7, 1.5, 1.0)):
        one, two = (next(t for t in tools if t.name == f"{row} -j {j}") for j in (1, 2))
        x = statistics.median(one.walls) / statistics.median(two.walls)
        verdict(f"{row}: -j 2 at least {need} x as fast", x >= need,
                f"{x:.2f} x; peak RSS {max(one.rss) / 1024:.1f} and {max(two.rss) / 1024:.1f} MiB")
    read, write = disk_speed(out_parent, big_log)
    print(f"\ndisk beside it (O_DIRECT, one pass of {big_bytes / MIB:.0f} MiB): "
          f"read {read:.0f} MiB/s, write {write:.0f} MiB/s")
    print(f"machine after the runs: {machine_line()}")


def clean():
    cache = cache_dir()
    if not os.path.isdir(cache):
        print(f"nothing to remove: {cache} does not exist")
        return
    total = 0
    for root, _, files in os.walk(cache):
        total += sum(os.path.getsize(os.path.join(root, f)) for f in files)
    shutil.rmtree(cache)
    print(f"removed {cache} ({total / MIB:.0f} MiB)")


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--size", default="256M", help="input size (default 256M; K, M, G binary)")
    p.add_argument("--runs", type=int, default=5, help="interleaved rounds (default 5)")
    p.add_argument("--layout", type=int, default=0, help="gen_log layout (default 0)")
    p.add_argument("--seed", type=int, default=1, help="gen_log seed (default 1)")
    p.add_argument("--bin", help="trcforge binary to measure")
    p.add_argument("--no-build", action="store_true",
                   help="measure build-bench/app/trcforge as it is, without building it")
    p.add_argument("--no-awk", action="store_true", help="leave out the awk converter")
    p.add_argument("--no-pycan", action="store_true", help="leave out the python-can script")
    p.add_argument("--pycan-slice", default="32M",
                   help="python-can runs on this first part of the input (default 32M)")
    p.add_argument("--pycan-runs", type=int, default=3, help="python-can rounds (default 3)")
    p.add_argument("--scaling", action="store_true",
                   help="time per MiB and peak RSS of trcforge over --sizes")
    p.add_argument("--sizes", default="16M,64M,256M,1G", help="sizes of --scaling")
    p.add_argument("--jobs", action="store_true",
                   help="-j 1 against -j 2 on 64 logs of 16 MiB, one of 1 GiB and 100,000 small ones")
    p.add_argument("--clean", action="store_true", help="remove the cached inputs and exit")
    args = p.parse_args()

    if args.clean:
        clean()
        return
    if args.runs < 1:
        sys.exit("--runs must be at least 1")
    cache = cache_dir()
    os.makedirs(cache, exist_ok=True)
    print("df -h " + cache + ":")
    print(subprocess.run(["df", "-h", cache], capture_output=True, text=True).stdout.rstrip())
    binary = trcforge_binary(args)
    if args.scaling:
        scaling(args, binary)
    elif args.jobs:
        parallel(args, binary)
    else:
        throughput(args, binary)


if __name__ == "__main__":
    main()
