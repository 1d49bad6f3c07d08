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
import hashlib
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(ROOT, "bench")
MIB = 1 << 20

# The targets the numbers are held against.
TARGET_MIB_S = 300.0
TARGET_VS_AWK = 20.0
TARGET_VS_PYCAN = 60.0
TARGET_SAME_WITHIN = 0.10
TARGET_FORMAT_SHARE = 0.80  # each of asc, candump, csv against version 2.1
TARGET_RSS_MIB = 32.0
TARGET_SCALING = 1.2

# Output of each -f value: extension, and lines beside the frame lines.
FORMATS = {"version1": (".trc", 2), "version2": (".trc", 3), "asc": (".asc", 7),
           "candump": (".log", 0), "csv": (".csv", 1)}


def parse_size(text):
    """Returns the byte count of '256M', '1G', '64K' or '1000' (binary units)."""
    t = text.strip().upper().rstrip("B").rstrip("I")
    factor = 1
    if t and t[-1] in "KMG":
        factor = 1 << (10 * ("KMG".index(t[-1]) + 1))
        t = t[:-1]
    return int(t) * factor


def size_name(n):
    """Returns '256M' for 256 MiB, '1G' for 1 GiB, else the byte count."""
    for unit, shift in (("G", 30), ("M", 20), ("K", 10)):
        if n % (1 << shift) == 0:
            return f"{n >> shift}{unit}"
    return str(n)


def cache_dir():
    return os.environ.get("TRCFORGE_BENCH_DIR", "/tmp/trcforge-bench")


def file_digest(path):
    """Returns the hexadecimal SHA-256 of a file."""
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 22)
            if not block:
                return h.hexdigest()
            h.update(block)


def count_lines(path):
    """Returns the number of line feeds in a file."""
    n = 0
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 22)
            if not block:
                return n
            n += block.count(b"\n")


def compiled(cache, name):
    """Returns the path of bench/<name>.cc compiled into the cache folder,
    compiling it when its source changed (the name carries the source's
    digest), and that digest."""
    source = os.path.join(BENCH, name + ".cc")
    digest = file_digest(source)[:12]
    binary = os.path.join(cache, f"{name}-{digest}")
    if not os.path.exists(binary):
        cxx = os.environ.get("CXX", "c++")
        print(f"compiling {source}", flush=True)
        subprocess.run([cxx, "-std=c++20", "-O2", "-Wall", "-Wextra", "-Werror", "-o",
                        binary + ".tmp", source], check=True)
        os.replace(binary + ".tmp", binary)
    return binary, digest


def generator(cache):
    """Returns the compiled generator and the digest of its source."""
    return compiled(cache, "gen_log")


def ensure_space(path, needed, what):
    """Exits with a message when the file system of path has less than needed
    bytes free."""
    usage = shutil.disk_usage(path)
    if usage.free < needed:
        sys.exit(f"not enough free space in {path} for {what}: "
                 f"{usage.free / MIB:.0f} MiB free, {needed / MIB:.0f} MiB needed")


def ensure_input(cache, size, layout, seed):
    """Returns (path, bytes, records) of the cached input log, generating it
    when it is not there yet."""
    gen, digest = generator(cache)
    base = os.path.join(cache, f"log-{size_name(size)}-L{layout}-S{seed}-{digest}")
    path, meta_path = base + ".txt", base + ".json"
    if os.path.exists(path) and os.path.exists(meta_path):
        with open(meta_path) as f:
            meta = json.load(f)
        if os.path.getsize(path) == meta["bytes"]:
            return path, meta["bytes"], meta["records"]
    ensure_space(cache, int(size * 1.1) + 64 * MIB, f"a {size_name(size)} input")
    print(f"generating {path}", flush=True)
    t0 = time.perf_counter()
    out = subprocess.run([gen, "--size", str(size), "--layout", str(layout), "--seed",
                          str(seed), "--out", path + ".tmp"],
                         check=True, capture_output=True, text=True).stdout
    fields = dict(item.split("=") for item in out.split())
    meta = {"bytes": int(fields["bytes"]), "records": int(fields["records"]),
            "layout": layout, "seed": seed}
    os.replace(path + ".tmp", path)
    with open(meta_path, "w") as f:
        json.dump(meta, f)
    print(f"  {meta['bytes']} bytes, {meta['records']} record lines, "
          f"{time.perf_counter() - t0:.1f} s", flush=True)
    return path, meta["bytes"], meta["records"]


def ensure_slice(cache, source, source_bytes, slice_bytes):
    """Returns (path, bytes, records) of the first slice_bytes of source, cut
    after a line feed (the header and the first records: itself a valid
    log), or the source itself when the slice would not be smaller."""
    if slice_bytes >= source_bytes:
        with open(source.replace(".txt", ".json")) as f:
            meta = json.load(f)
        return source, source_bytes, meta["records"]
    path = source.replace(".txt", f"-slice-{size_name(slice_bytes)}.txt")
    if not os.path.exists(path):
        with open(source, "rb") as f:
            data = f.read(slice_bytes)
        data = data[: data.rindex(b"\n") + 1]
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
    with open(path, "rb") as f:
        header_lines = 0
        for line in f:
            header_lines += 1
            if not line.startswith(b"#"):
                break
    return path, os.path.getsize(path), count_lines(path) - header_lines


def trcforge_binary(args):
    """Returns the trcforge binary to measure, or None when there is none.
    The default binary (build-bench/app/trcforge) is configured (Release) when
    missing and brought up to date with the tree unless --no-build is given;
    when that build fails, an older binary is still used, with a warning."""
    explicit = args.bin or os.environ.get("TRCFORGE_BIN")
    if explicit:
        return explicit if os.path.exists(explicit) else None
    build = os.path.join(ROOT, "build-bench")
    binary = os.path.join(build, "app", "trcforge")
    if args.no_build:
        return binary if os.path.exists(binary) else None
    print(f"building {binary} (Release)", flush=True)
    try:
        if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                            "-DTRCFORGE_BUILD_TESTS=OFF"], check=True,
                           stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "trcforge"], check=True,
                       stdout=subprocess.DEVNULL)
    except subprocess.CalledProcessError:
        if os.path.exists(binary):
            print(f"  WARNING: the build failed; measuring the older binary of "
                  f"{time.ctime(os.path.getmtime(binary))}", flush=True)
        else:
            print("  the build failed; trcforge is left out", flush=True)
    return binary if os.path.exists(binary) else None


class Tool:
    """One command measured on one input."""

    def __init__(self, name, argv_of, path, nbytes, frames, runs, output=None, note="", keep_outputs=False):
        self.name = name
        self.argv_of = argv_of      # (input path, output folder) -> argv
        self.path = path
        self.bytes = nbytes
        self.frames = frames
        self.runs = runs
        self.output = output        # None: no output checked; "stdout": stdout to a
                                    # file; "file": the tool writes a .trc file
        self.note = note
        self.keep_outputs = keep_outputs  # each run into a fresh folder, all removed at the end
        self.walls, self.cpus, self.rss = [], [], []
        self.checked = None


def run_once(tool, out_dir, launcher):
    """Runs the tool once through the launcher; returns (wall s, cpu s, peak
    RSS KiB, status, stderr text, output file or None)."""
    argv = tool.argv_of(tool.path, out_dir)
    out_file = None
    stdout = subprocess.DEVNULL
    if tool.output == "stdout":
        out_file = os.path.join(out_dir, "stdout.out")
        stdout = open(out_file, "wb")
    err_path = os.path.join(out_dir, "stderr.txt")
    result_path = os.path.join(out_dir, "result.txt")
    with open(err_path, "wb") as err:
        launched = subprocess.run([launcher, result_path, *argv], stdout=stdout, stderr=err,
                                  stdin=subprocess.DEVNULL)
    if stdout is not subprocess.DEVNULL:
        stdout.close()
    with open(err_path, "rb") as err:
        err_text = err.read(2000).decode("latin-1")
    if launched.returncode != 0:
        sys.exit(f"could not run {argv}: {err_text}")
    with open(result_path) as f:
        r = dict(item.split("=") for item in f.read().split())
    return (float(r["wall"]), float(r["user"]) + float(r["sys"]), int(r["maxrss_kib"]),
            int(r["status"]), err_text, out_file)


def output_format(tool):
    """(extension, lines beside the frame lines) of a trcforge tool's output."""
    return FORMATS[tool.name.split()[-1] if " -f " in tool.name else "version2"]


def empty_folder(folder):
    for entry in os.listdir(folder):
        p = os.path.join(folder, entry)
        if os.path.isdir(p) and not os.path.islink(p):
            shutil.rmtree(p)
        else:
            os.remove(p)


def check_output(tool, out_dir, out_file, header_lines):
    """Checks the first output of a converter: its line count must be the
    frame count plus the header. Returns a note, and the output's digest."""
    if out_file is None:
        extension = output_format(tool)[0]
        files = [os.path.join(out_dir, f) for f in os.listdir(out_dir) if f.endswith(extension)]
        out_file = files[0] if files else None
    if out_file is None or not os.path.exists(out_file):
        return "NO OUTPUT FILE", None
    lines = count_lines(out_file)
    expected = tool.frames + header_lines
    note = f"{lines} lines" + ("" if lines == expected else f", expected {expected}: MISMATCH")
    return note, file_digest(out_file)


def measure(tools, runs, out_parent):
    """Runs every tool `runs` times (fewer where the tool says so),
    interleaved, in a rotating order. Stops the program on a failed run.
    Returns the digests of the checked outputs, by tool name."""
    launcher, _ = compiled(cache_dir(), "measure_run")
    digests = {}
    work = tempfile.mkdtemp(prefix="trcforge-bench-out-", dir=out_parent)
    # Tools that write many files keep them until the end: a file system that
    # allocates inodes shortly after many were freed may scan past the freed
    # ones (ext4 keeps them aside for a while), which made a run of 100,000
    # small files up to five times slower after the previous run's outputs
    # were removed, and measured the removal rather than the tool.
    kept = tempfile.mkdtemp(prefix="trcforge-bench-kept-", dir=out_parent)
    try:
        # One untimed run first, of the first tool with the largest input:
        # the first large output of a session makes the kernel find fresh
        # memory for the page cache, which showed here as up to twice the
        # wall time for whichever tool happened to run first. Every timed run
        # then meets the same, warm machine.
        run_once(max(tools, key=lambda t: t.bytes), work, launcher)
        empty_folder(work)
        for r in range(runs):
            k = r % len(tools)
            order = tools[k:] + tools[:k]
            for tool in order:
                if r >= tool.runs:
                    continue
                out_dir = work
                if tool.keep_outputs:
                    out_dir = tempfile.mkdtemp(dir=kept)
                wall, cpu, rss, status, err, out_file = run_once(tool, out_dir, launcher)
                if status != 0:
                    sys.exit(f"{tool.name} failed with status {status}: {err}")
                if tool.checked is None and tool.output is not None:
                    # Header (and footer) lines of the output format.
                    header = output_format(tool)[1]
                    tool.checked, digests[tool.name] = check_output(tool, out_dir, out_file, header)
                if not tool.keep_outputs:
                    empty_folder(work)
                tool.walls.append(wall)
                tool.cpus.append(cpu)
                tool.rss.append(rss)
                print(f"  round {r + 1}/{runs}  {tool.name:<26} {wall:8.3f} s", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(kept, ignore_errors=True)
    return digests


def rate(tool):
    """Returns the median throughput in MiB/s, by wall time."""
    return tool.bytes / MIB / statistics.median(tool.walls)


def cpu_rate(tool):
    """Returns the median throughput in MiB/s, by CPU time (user + system):
    less disturbed than wall time when other work shares the cores."""
    return tool.bytes / MIB / max(statistics.median(tool.cpus), 1e-6)


def report(tools):
    print()
    print(f"{'tool':<26} {'runs':>4} {'median s':>9} {'min-max s':>17} {'MiB/s':>8} "
          f"{'MiB/s range':>15} {'frames/s':>11} {'cpu s':>7} {'cpu MiB/s':>9} "
          f"{'peak RSS':>10}")
    for t in tools:
        med = statistics.median(t.walls)
        lo, hi = min(t.walls), max(t.walls)
        mib = t.bytes / MIB
        fps = t.frames / med if t.frames else 0
        print(f"{t.name:<26} {len(t.walls):>4} {med:>9.3f} {lo:>8.3f}-{hi:<8.3f} "
              f"{mib / med:>8.1f} {mib / hi:>7.1f}-{mib / lo:<7.1f} {fps:>11,.0f} "
              f"{statistics.median(t.cpus):>7.3f} {cpu_rate(t):>9.1f} "
              f"{max(t.rss) / 1024:>6.1f} MiB")
    notes = [t for t in tools if t.note or t.checked]
    if notes:
        print()
        for t in notes:
            print(f"  {t.name}: {'; '.join(x for x in (t.checked, t.note) if x)}")


def verdict(name, ok, detail):
    print(f"  [{'PASS' if ok else 'FAIL'}] {name}: {detail}")


def binary_line(binary):
    """Returns the binary's path and the first line of its version text."""
    if not binary:
        return "NOT AVAILABLE (not built)"
    try:
        out = subprocess.run([binary, "--version"], capture_output=True, text=True,
                             timeout=10).stdout.strip().splitlines()
    except (OSError, subprocess.SubprocessError):
        out = []
    built = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(os.path.getmtime(binary)))
    try:
        tree = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"],
                              capture_output=True, text=True, timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        tree = ""
    return (f"{binary} ({out[0] if out else 'no version text'}; built {built}; "
            f"source tree now {tree or 'unknown'})")


def machine_line():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = os.getloadavg()
    return (f"{os.cpu_count()} cores ({model or platform.machine()}), "
            f"load average {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


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
